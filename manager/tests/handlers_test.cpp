// Every handler's effect, one row each: what the user does, what the message
// pane gains, what the list pane shows, which stored values change (the audit
// trail must record exactly those), what the graph definition file holds and
// the statements the server received from the program, in order. The program
// runs as a member of the tool's least-privilege role throughout.
#include "testbed.h"

#include <Xm/Text.h>

using namespace testbed;

namespace {

const std::string untouched = "(untouched)";
const std::string graph = "PRESSURE_UNITS bar\nFLOW_UNITS  sccm\r\nTITLE Production line 2\n";
const std::string graph_kept = graph;

std::string graph_with(const char *pressure, const char *flow)
{
    return std::string("PRESSURE_UNITS\t") + pressure + "\nFLOW_UNITS\t" + flow + "\nTITLE\tProduction\nline\t2\n";
}

// Three operators as another program may have stored them: a padded name, a
// name holding two blanks, a full-width name and password.
const char *const three = "insert into operator_list values ('abcd', '~<'), ('a  b', 'o'), "
                          "('abcde', '?<=:;896')"; // 'p2', 'a', '12345678'

struct Row {
    const char *what;
    const char *setup; // SQL run before the action, or ""
    std::function<void()> act;
    std::string pane, list, changes, statements, graph = graph_kept;
};

const std::string count = "select count ( * ) from operator_list where operator = $1\n";
const std::string insert = "insert into operator_list ( operator , password ) values ( $1 , $2 )\n";
const std::string del = "delete from operator_list where operator = $1\n";

// The listing's statements for a table of n rows: a fetch for each and one
// that finds no more.
std::string listing_of(int n)
{
    std::string fetches;
    for (int i = 0; i <= n; ++i)
        fetches += "fetch db_cursor\n";
    return "begin transaction\n"
           "declare db_cursor cursor with hold for select operator , password from operator_list\n" +
           fetches + "close db_cursor\ncommit\n";
}

void add(const char *name, const char *password)
{
    type(db_opname_i, name);
    type(db_pwd_i, password);
    click(db_add_b);
}

void remove_operator(const char *name)
{
    type(db_opname_i, name);
    click(db_remove_b);
}

void set_conf(const char *password)
{
    type(db_conf_pwd_i, password);
    click(db_conf_pwd_b);
}

// Text that the fields would not take from the keyboard.
void put(Widget field, const char *text)
{
    XmTextSetString(field, const_cast<char *>(text));
}

} // namespace

TEST(Handlers, EachActionShowsStoresAndSendsExactlyThis)
{
    const std::string upd = "update parameters set ";
    const std::vector<Row> rows = {
        {"target bar", "", [] { choose(target_press_unit_sel, db_targ_press_bar); }, "", untouched, "",
         upd + "target_press_unit = '1'\n", graph_with("bar", "sccm")},
        {"target kPa", "", [] { choose(target_press_unit_sel, db_targ_press_kpa); }, "", untouched,
         "target_press_unit=2", upd + "target_press_unit = '2'\n", graph_with("kPa", "sccm")},
        {"target psi", "", [] { choose(target_press_unit_sel, db_targ_press_psi); }, "", untouched,
         "target_press_unit=3", upd + "target_press_unit = '3'\n", graph_with("psi", "sccm")},
        {"vacuum mbar", "", [] { choose(db_vac_press_unit_sel, db_vac_press_mbar); }, "", untouched, "",
         upd + "vac_press_unit = '1'\n"},
        {"vacuum kPa", "", [] { choose(db_vac_press_unit_sel, db_vac_press_kpa); }, "", untouched,
         "vac_press_unit=2", upd + "vac_press_unit = '2'\n"},
        {"vacuum torr", "", [] { choose(db_vac_press_unit_sel, db_vac_press_torr); }, "", untouched,
         "vac_press_unit=3", upd + "vac_press_unit = '3'\n"},
        {"activity mCi", "", [] { choose(db_act_unit_sel, db_act_unit_mCi); }, "", untouched, "",
         upd + "activity_unit = '1'\n"},
        {"activity MBq", "", [] { choose(db_act_unit_sel, db_act_unit_MBq); }, "", untouched, "activity_unit=2",
         upd + "activity_unit = '2'\n"},
        {"flow mL/min", "", [] { choose(db_flow_unit_sel, db_flow_unit_mlm); }, "", untouched, "",
         upd + "flow_unit = '1'\n", graph_with("bar", "mL/min")},
        {"flow sccm", "", [] { choose(db_flow_unit_sel, db_flow_unit_sccm); }, "", untouched, "flow_unit=2",
         upd + "flow_unit = '2'\n", graph_with("bar", "sccm")},
        {"printing ON", "", [] { choose(db_print_sel, db_print_ON); }, "", untouched, "",
         upd + "tracer_print = '1'\n"},
        {"printing OFF", "", [] { choose(db_print_sel, db_print_OFF); }, "", untouched, "tracer_print=0",
         upd + "tracer_print = '0'\n"},
        {"list", three, [] { click(db_list_b); }, "",
         "Operator: abcd      Password: p2\nOperator: a         Password: a\n"
         "Operator: abcde     Password: 12345678\n", "", listing_of(3)},
        {"list, empty table", "", [] { click(db_list_b); }, "", "", "", listing_of(0)},
        {"add, no name", "", [] { add("", "pw"); }, "No operator entered.\n", untouched, "", ""},
        {"add, name present", three, [] { add("abcd", ""); },
         "Operator abcd already exists.\nTo change password, remove and add again.\n",
         "Operator: abcd      Password: p2\nOperator: a         Password: a\n"
         "Operator: abcde     Password: 12345678\n", "", count + listing_of(3)},
        {"add, no password", "", [] { add("ab", ""); }, "No password entered.\n", untouched, "", count},
        {"add, 6 characters", "", [] { type(db_opname_i, "ab"); put(db_pwd_i, "123456"); click(db_add_b); },
         "Maximum number of characters is 5.\n", untouched, "", count},
        {"add, key byte", "", [] { type(db_opname_i, "ab"); put(db_pwd_i, "a\x0e"); click(db_add_b); },
         "Password is impossible to write in cipher.\n", untouched, "", count},
        {"add", "", [] { add("e f", "12345"); }, "Operator e f is added to database.\n",
         "Operator: e f       Password: 12345\n", "e f.operator=e f e f.password=12345",
         count + insert + listing_of(1)},
        {"remove, absent", "", [] { remove_operator("zz"); }, "Operator zz was not found.\n", "", "", count + listing_of(0)},
        {"remove", three, [] { remove_operator("abcde"); }, "Operator abcde is deleted from database.\n",
         "Operator: abcd      Password: p2\nOperator: a         Password: a\n",
         "abcde.operator= abcde.password=", count + del + listing_of(2)},
        {"read", "", [] { click(db_read_conf_pwd_b); }, "", "Configuration password: secret\n", "",
         "select password from parameters\n"},
        {"set, empty", "", [] { set_conf(""); }, "No password entered.\n", untouched, "", ""},
        {"set", "", [] { set_conf("newpw123"); }, "Configuration password newpw123 is set in database.\n", untouched,
         "password=newpw123", upd + "password = $1\n"},
        {"save retention", "update parameters set tracer_save_days = 7, net_save_days = 8", [] { click(db_save_b); },
         "", untouched, "net_save_days=31 tracer_save_days=365",
         upd + "tracer_save_days = $1\n" + upd + "error_save_days = $1\n" + upd + "net_save_days = $1\n" + upd +
             "oper_save_days = $1\n"},
        {"save gas", "update parameters set gas_value = 1", [] {
             click(db_gas_mix_b);
             EXPECT_TRUE(pump_until([] { return viewable(db_gas_mix_save_b); }));
             click(db_gas_mix_save_b);
         },
         "", untouched, "gas_value=35", upd + "gas_value = $1 , gas_pressure = $2\n"},
    };
    reset_database();
    with_program([&] {
        for (const Row &row : rows) {
            SCOPED_TRACE(row.what);
            reset_database();
            write_file(graph_def, graph);
            unlink(graph_save);
            EXPECT_EQ(sql(row.setup).find("ERROR"), std::string::npos) << row.setup;
            put(db_msg_t, "");
            put(db_list_t, untouched.c_str());
            const auto before = snapshot();
            const std::string mark = sql("select coalesce(max(id), 0) from audit.trail");
            const long log = log_size();
            row.act();
            EXPECT_EQ(text(db_msg_t), row.pane);
            EXPECT_EQ(text(db_list_t), row.list);
            const auto after = snapshot();
            EXPECT_EQ(diff(before, after), row.changes);
            EXPECT_EQ(audited_since(mark), diff(before, after, true));
            EXPECT_EQ(statements_since(log), row.statements);
            EXPECT_EQ(read_file(graph_def), row.graph);
            EXPECT_EQ(read_file(graph_save), row.graph == graph ? "<none>" : graph);
        }
    });
}
