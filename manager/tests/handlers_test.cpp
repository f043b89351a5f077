// Every handler's effect, a row each: what the user does, what the message
// pane gains, what the list pane shows, which stored values change (bed.sql
// reads them back; the audit trail must record exactly those), what graph.def
// and graph.save hold (odd graph.def files included) and the statements the
// server received from the program, in order; for Help, the help text too.
// The program runs as a member of the tool's least-privilege role throughout,
// with the consoles' service file (its waits shortened for the run); every
// action returns within 2 s, also while another session holds both tables.
#include "testbed.h"

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>

using namespace testbed;

namespace {

const std::string untouched = "(untouched)", upd = "update parameters set ";
const std::string graph = "PRESSURE_UNITS bar\nFLOW_UNITS  sccm\r\nTITLE Production line 2\n";
const std::string count = "select count ( * ) from operator_list where operator = $1\n";
const std::string insert = "insert into operator_list ( operator , password ) values ( $1 , $2 )\n";
const std::string del = "delete from operator_list where operator = $1\n";
const std::string cannot_rename = "Impossible to rename graph.def.\n";
const std::string locked = "begin; lock operator_list, parameters in access exclusive mode";

// Operators as another program may have stored them: a 4-character name
// (padded to 5), one holding two blanks, a full-width name and password.
const char *const three = "insert into operator_list values ('abcd', '~<'), ('a  b', 'o'), ('abcde', '?<=:;896')";
const char *const listed_abcd_a = "Operator: abcd      Password: p2\nOperator: a         Password: a\n";
const std::string listed_abcde = "Operator: abcde     Password: 12345678\n";

struct Row {
    std::string what, setup; // setup: SQL run before the action
    std::function<void()> act;
    // graph.save: by default the old graph.def where the new one differs,
    // else none.
    std::string pane, list, changed, statements, graph_after = graph, save_after = "";
};

// What a name stands for, without opening it: a pipe would block.
std::string describe(const char *path)
{
    struct stat st {};
    if (lstat(path, &st) != 0)
        return "<none>";
    if (S_ISLNK(st.st_mode))
        return "-> " + std::filesystem::read_symlink(path).string();
    if (!S_ISREG(st.st_mode))
        return S_ISDIR(st.st_mode) ? "<directory>" : "<pipe>";
    return read_file(path) + (st.st_nlink > 1 ? " (linked)" : "");
}

// Lets the program open `more` files beyond those it holds, and no more:
// every descriptor below the lowest free one is taken.
void allow_files(int more)
{
    int lowest = dup(0);
    close(lowest);
    rlimit limit{};
    getrlimit(RLIMIT_NOFILE, &limit);
    limit.rlim_cur = static_cast<rlim_t>(lowest + more);
    setrlimit(RLIMIT_NOFILE, &limit);
}

// graph.def made odd before a target-pressure choice, which still stores its
// code: the message, and what both names hold after.
Row odd_graph(const char *what, std::function<void()> make, std::string message, std::string def, std::string save)
{
    return {what, "", [make] { make(); choose(target_press_unit_sel, db_targ_press_psi); }, message, untouched,
            "target_press_unit=3", upd + "target_press_unit = '3'\n", def, save};
}

// The listing's statements over n rows: a fetch each and one that finds no
// more; n = -1: none, the declare failed.
std::string listing(int n)
{
    std::string fetches;
    for (int i = 0; i <= n; ++i)
        fetches += "fetch db_cursor\n";
    return "begin transaction\ndeclare db_cursor cursor with hold for select operator , password from operator_list\n" +
           fetches + "close db_cursor\ncommit\n";
}

std::string graph_with(const char *pressure, const char *flow)
{
    return std::string("PRESSURE_UNITS\t") + pressure + "\nFLOW_UNITS\t" + flow + "\nTITLE\tProduction\nline\t2\n";
}

void add(const char *name, const char *password)
{
    type(db_opname_i, name);
    type(db_pwd_i, password);
    click(db_add_b);
}

void set_conf(const char *password)
{
    type(db_conf_pwd_i, password);
    click(db_conf_pwd_b);
}

// Help reads its file from the working directory and loads it on the press;
// the dialog shows on the release. The last byte (the final line end) is not
// shown, and a file that cannot be read leaves the text as it was.
void help_from(const char *dir)
{
    static const std::string shipped = read_file(PROJECT_SOURCE_DIR "/helpfiles/param-config.hlp");
    ASSERT_EQ(chdir(dir), 0);
    XtUnmanageChild(db_help_fr); // as closing it does
    press(db_help_b);
    EXPECT_EQ(text(db_help_t), shipped.substr(0, shipped.size() - 1));
    EXPECT_FALSE(viewable(db_help_t));
    release();
    EXPECT_TRUE(pump_until([] { return viewable(db_help_t); }));
}

// A menu entry: the row holds '1' in every code column, so choosing a '1'
// changes nothing but is still sent. Two entries also rewrite graph.def.
Row entry(Widget cascade, Widget item, const char *column, char code, std::string after = graph)
{
    return {XtName(item), "", [cascade, item] { choose(cascade, item); }, "", untouched,
            code == '1' ? "" : column + std::string("=") + code, upd + column + " = '" + code + "'\n", after};
}

} // namespace

TEST(Handlers, EachActionShowsStoresAndSendsExactlyThis)
{
    reset_database();
    with_program([] {
        EXPECT_EQ(sliders(), (std::vector{35, 80, 365, 90, 31, 180})); // the stored row as loaded
        // Sites' resource files reach the widgets by these names.
        for (std::string name : {
                 "db_input_f", "target_press_unit_sel", "db_target_press_unit_sel", "db_targ_press_bar",
                 "db_targ_press_kpa", "db_targ_press_psi", "db_vac_press_unit_sel", "vac_press", "db_vac_press_mbar",
                 "db_vac_press_kpa", "db_vac_press_torr", "db_act_unit_sel", "activity", "db_act_unit_mCi",
                 "db_act_unit_MBq", "db_flow_unit_sel", "flow", "db_flow_unit_mlm", "db_flow_unit_sccm", "db_print_sel",
                 "print", "db_print_ON", "db_print_OFF", "db_gas_mix_b", "db_help_b", "db_list_t", "db_msg_t",
                 "db_op_frame", "db_op_p", "db_opname_info_oper", "db_opname_info_pwd", "db_opname_m", "db_pwd_m",
                 "db_opname_i", "db_pwd_i", "db_op_label", "db_list_b", "db_add_b", "db_remove_b", "db_pwd_frame",
                 "db_pwd_p", "db_conf_pwd_m", "db_conf_pwd_i", "db_pwd_label", "db_read_conf_pwd_b", "db_conf_pwd_b",
                 "db_save_frame", "db_save_p", "db_tracer_save_m", "db_err_save_m", "db_net_save_m", "db_oper_save_m",
                 "db_tracer_save_i", "db_err_save_i", "db_net_save_i", "db_oper_save_i", "db_save_b", "db_save_label",
                 "db_gas_mix_f", "db_gas_mix_form", "db_gas_mix_m", "db_gas_mix_i", "Gas pressure", "db_gas_pressure_i",
                 "db_gas_mix_save_b", "db_help_f", "db_help_fr", "db_help_t"})
            EXPECT_NE(XtNameToWidget(db_dummy_f, ("*" + name).c_str()), nullptr) << name;
        const std::vector<Row> rows = {
            entry(target_press_unit_sel, db_targ_press_bar, "target_press_unit", '1', graph_with("bar", "sccm")),
            entry(target_press_unit_sel, db_targ_press_kpa, "target_press_unit", '2', graph_with("kPa", "sccm")),
            entry(target_press_unit_sel, db_targ_press_psi, "target_press_unit", '3', graph_with("psi", "sccm")),
            entry(db_vac_press_unit_sel, db_vac_press_mbar, "vac_press_unit", '1'),
            entry(db_vac_press_unit_sel, db_vac_press_kpa, "vac_press_unit", '2'),
            entry(db_vac_press_unit_sel, db_vac_press_torr, "vac_press_unit", '3'),
            entry(db_act_unit_sel, db_act_unit_mCi, "activity_unit", '1'),
            entry(db_act_unit_sel, db_act_unit_MBq, "activity_unit", '2'),
            entry(db_flow_unit_sel, db_flow_unit_mlm, "flow_unit", '1', graph_with("bar", "mL/min")),
            entry(db_flow_unit_sel, db_flow_unit_sccm, "flow_unit", '2', graph_with("bar", "sccm")),
            entry(db_print_sel, db_print_ON, "tracer_print", '1'),
            entry(db_print_sel, db_print_OFF, "tracer_print", '0'),
            {"list", three, [] { click(db_list_b); }, "", listed_abcd_a + listed_abcde, "", listing(3)},
            {"list, empty table", "", [] { click(db_list_b); }, "", "", "", listing(0)},
            {"add, no name", "", [] { add("", "pw"); }, "No operator entered.\n", untouched, "", ""},
            {"add, name present", three, [] { add("abcd", ""); },
             "Operator abcd already exists.\nTo change password, remove and add again.\n", listed_abcd_a + listed_abcde,
             "", count + listing(3)},
            {"add, no password", "", [] { add("ab", ""); }, "No password entered.\n", untouched, "", count},
            {"add, 6 characters", "", [] { type(db_opname_i, "ab"); put(db_pwd_i, "123456"); click(db_add_b); },
             "Maximum number of characters is 5.\n", untouched, "", count},
            {"add, key byte", "", [] { type(db_opname_i, "ab"); put(db_pwd_i, "a\x0e"); click(db_add_b); },
             "Password is impossible to write in cipher.\n", untouched, "", count},
            {"add, '.'", "", [] { add("ab", "a.b"); }, "Character . is impossible to write in cipher.\n", untouched, "",
             count},
            // The fields take no more than 5 characters.
            {"add", "", [] { add("abcdefg", "123456"); }, "Operator abcde is added to database.\n",
             "Operator: abcde     Password: 12345\n", "abcde.operator=abcde abcde.password=12345",
             count + insert + listing(1)},
            {"remove, absent", "", [] { type(db_opname_i, "zz"); click(db_remove_b); }, "Operator zz was not found.\n",
             "", "", count + listing(0)},
            {"remove", three, [] { type(db_opname_i, "abcde"); click(db_remove_b); },
             "Operator abcde is deleted from database.\n", listed_abcd_a, "abcde.operator= abcde.password=",
             count + del + listing(2)},
            {"read", "", [] { click(db_read_conf_pwd_b); }, "", "Configuration password: secret\n", "",
             "select password from parameters\n"},
            {"set, empty", "", [] { set_conf(""); }, "No password entered.\n", untouched, "", ""},
            {"set, '.'", "", [] { set_conf("abc.def"); }, "Character . is impossible to write in cipher.\n", untouched,
             "", ""},
            // The field takes no more than 8.
            {"set", "", [] { set_conf("newpw1234"); }, "Configuration password newpw123 is set in database.\n",
             untouched, "password=newpw123", upd + "password = $1\n"},
            {"save retention", "update parameters set tracer_save_days = 7, net_save_days = 8",
             [] { click(db_save_b); }, "", untouched, "net_save_days=31 tracer_save_days=365",
             upd + "tracer_save_days = $1\n" + upd + "error_save_days = $1\n" + upd + "net_save_days = $1\n" + upd +
                 "oper_save_days = $1\n"},
            {"save gas", "update parameters set gas_value = 12", save_gas, "", untouched, "gas_value=35",
             upd + "gas_value = $1 , gas_pressure = $2\n"},
            // Each statement gives up after the lock timeout and the handler
            // goes on; the lock goes with the row, and the next rows work. A
            // statement with parameters waits before the server logs it.
            {"list, locked", locked, [] { click(db_list_b); sql("commit"); }, "", "", "", listing(-1)},
            {"add, locked", locked, [] { add("ab", "pw"); sql("commit"); }, "Operator ab is added to database.\n", "",
             "", listing(-1)},
            {"save retention, locked", "update parameters set tracer_save_days = 7; " + locked,
             [] { click(db_save_b); sql("commit"); }, "", untouched, "", ""},
            {"save gas, locked", "update parameters set gas_value = 12; " + locked, [] { save_gas(); sql("commit"); },
             "Database problem -400\n", untouched, "", ""},
            {"help", "", [] { help_from(PROJECT_SOURCE_DIR); }, "", untouched, "", ""},
            {"help, no file here", "", [] { help_from("/tmp"); }, "Help file could not be opened\n", untouched, "", ""},
            odd_graph("graph.def missing", [] { unlink(graph_def); }, cannot_rename, "<none>", "<none>"),
            odd_graph("graph.save unreadable", [] { allow_files(0); }, "Impossible to open graph.save.\n", "<none>",
                      graph),
            odd_graph("no new graph.def", [] { allow_files(1); }, "Impossible to open graph.def.\n", "<none>", graph),
            odd_graph("hard link", [] { EXPECT_EQ(link(graph_def, graph_save), 0); }, cannot_rename,
                      graph + " (linked)", graph + " (linked)"),
            odd_graph("link to graph.save",
                      [] { EXPECT_EQ(rename(graph_def, graph_save) | symlink(graph_save, graph_def), 0); },
                      cannot_rename, std::string("-> ") + graph_save, graph),
            odd_graph("pipe", [] { unlink(graph_def), mkfifo(graph_def, 0644); }, cannot_rename, "<pipe>", "<none>"),
            odd_graph("directory", [] { unlink(graph_def), mkdir(graph_def, 0755); }, cannot_rename, "<directory>",
                      "<none>"),
        };
        rlimit files{};
        getrlimit(RLIMIT_NOFILE, &files);
        for (const Row &row : rows) {
            // valgrind creates a file before it refuses its descriptor over
            // the limit, which would read as the program's doing.
            if (row.what == "no new graph.def" && std::getenv("TESTBED_VALGRIND"))
                continue;
            SCOPED_TRACE(row.what);
            const std::string mark = reset_database(row.setup + "; select test_take_snapshot(); "
                                                    "select coalesce(max(id), 0) from audit.trail");
            std::filesystem::remove_all(graph_def), std::filesystem::remove_all(graph_save);
            std::ofstream(graph_def) << graph;
            put(db_msg_t, "");
            put(db_list_t, untouched);
            const long log = log_size();
            const auto start = std::chrono::steady_clock::now();
            row.act();
            EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
            setrlimit(RLIMIT_NOFILE, &files);
            EXPECT_EQ(text(db_msg_t), row.pane);
            EXPECT_EQ(text(db_list_t), row.list);
            EXPECT_EQ(sql("select test_changes(false)"), row.changed);
            EXPECT_EQ(sql("select test_audited_since(" + mark + ")"), sql("select test_changes(true)"));
            EXPECT_EQ(statements_since(log), row.statements);
            EXPECT_EQ(describe(graph_def), row.graph_after);
            EXPECT_EQ(describe(graph_save), !row.save_after.empty() ? row.save_after
                                            : row.graph_after == graph ? "<none>" : graph);
        }
    }, {"PGSERVICE", "param-config"});
}
