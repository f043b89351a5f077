// Every handler's effect, a row each: what the user does, what the message
// pane gains, what the list pane shows, which stored values change (bed.sql
// reads them back; the audit trail must record exactly those), what graph.def
// and graph.save hold (odd graph.def files included) and the statements the
// server received from the program, in order; for Help, the help text too.
// The program runs as a member of the tool's least-privilege role throughout.
#include "testbed.h"

#include <X11/IntrinsicP.h>
#include <X11/CompositeP.h>
#include <Xm/Label.h>
#include <Xm/Text.h>
#include <sys/resource.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

using namespace testbed;

namespace {

const std::string untouched = "(untouched)", upd = "update parameters set ";
const std::string graph = "PRESSURE_UNITS bar\nFLOW_UNITS  sccm\r\nTITLE Production line 2\n";
const std::string count = "select count ( * ) from operator_list where operator = $1\n";
const std::string insert = "insert into operator_list ( operator , password ) values ( $1 , $2 )\n";
const std::string del = "delete from operator_list where operator = $1\n";
const std::string cannot_rename = "Impossible to rename graph.def.\n", gas = upd + "gas_value = $1 , gas_pressure = $2\n";
const std::string days = upd + "tracer_save_days = $1\n" + upd + "error_save_days = $1\n" + upd + "net_save_days = $1\n" +
                         upd + "oper_save_days = $1\n";

// Operators as another program may have stored them: a name holding one
// blank, one holding two (padded to 5), a full-width name and password.
const char *const three = "insert into operator_list values ('ab cd', '~<'), ('a  b', 'o'), ('abcde', '?<=:;896')";
const char *const listed_two = "Operator: ab cd     Password: p2\nOperator: a         Password: a\n";
const std::string listed_abcde = "Operator: abcde     Password: 12345678\n";

struct Row {
    std::string what, setup; // setup: SQL run before the action
    std::function<void()> act;
    // graph.save: by default the old graph.def where the new one differs,
    // else none.
    std::string pane, list, changed, statements, graph_after = graph, save_after = "";
};

// What a name stands for: a link's target, a directory, or a file's bytes.
std::string describe(const char *path)
{
    std::error_code e;
    return std::filesystem::is_symlink(path) ? "-> " + std::filesystem::read_symlink(path).string()
           : std::filesystem::is_directory(path, e) ? "<directory>" : read_file(path);
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

// The listing's statements over n rows: a fetch each and one that finds no more.
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

// A panel button acts on the press: its release changes nothing more.
void push(Widget button)
{
    press(button);
    const std::string pane = text(db_msg_t), list = text(db_list_t);
    release();
    EXPECT_EQ(text(db_msg_t) + text(db_list_t), pane + list) << XtName(button) << " acted on the release";
}

void add(const char *name, const char *password)
{
    type(db_opname_i, name);
    type(db_pwd_i, password);
    push(db_add_b);
}

void set_conf(const char *password)
{
    type(db_conf_pwd_i, password);
    push(db_conf_pwd_b);
}

// Every slider dragged to one end, then Save and the gas dialog's " save ".
void drag_all_and_save(bool right)
{
    click(db_gas_mix_b);
    EXPECT_TRUE(pump_until([] { return viewable(db_gas_mix_save_b); }));
    for (Widget w : {db_gas_mix_i, db_gas_pressure_i, db_tracer_save_i, db_err_save_i, db_net_save_i, db_oper_save_i})
        drag(w, right);
    using Shown = std::vector<std::string>;
    EXPECT_EQ(sliders(), (right ? Shown{"5.0", "10.0", "1000", "1000", "62", "1000"} : Shown{"1.0", "1.0", "1", "1", "1", "1"}));
    click(db_save_b);
    click(db_gas_mix_save_b);
}

// The widget tree as sites' resource files and the supervisor meet it, a
// widget a line, indented by depth: its name and what it shows in quotes (a
// label, a line break in it as "|", and its mnemonic; a shell's title).
void shown_tree(Widget w, std::string &out, int depth = 0)
{
    char *text = nullptr;
    XmString label = nullptr;
    KeySym mnemonic = XK_VoidSymbol;
    out += std::string(2 * depth, ' ') + XtName(w);
    if (XtIsShell(w) && (XtVaGetValues(w, XmNtitle, &text, nullptr), text))
        out += " = \"" + std::string(text) + '"';
    if (XmIsLabel(w)) {
        static XmParseTable lines = [] {
            Arg args[2];
            XtSetArg(args[0], XmNpattern, "|"), XtSetArg(args[1], XmNsubstitute, XmStringSeparatorCreate());
            return new XmParseMapping{XmParseMappingCreate(args, 2)};
        }();
        XtVaGetValues(w, XmNlabelString, &label, XmNmnemonic, &mnemonic, nullptr);
        text = static_cast<char *>(XmStringUnparse(label, nullptr, XmCHARSET_TEXT, XmCHARSET_TEXT, lines, 1, XmOUTPUT_ALL));
        out += " = \"" + std::string(text) + '"' + (mnemonic != XK_VoidSymbol ? " " + std::string(XKeysymToString(mnemonic)) : "");
        XtFree(text), XmStringFree(label);
    }
    out += "\n";
    for (Cardinal i = 0; XtIsComposite(w) && i < reinterpret_cast<CompositeWidget>(w)->composite.num_children; ++i)
        shown_tree(reinterpret_cast<CompositeWidget>(w)->composite.children[i], out, depth + 1);
    for (Cardinal i = 0; XtIsWidget(w) && i < w->core.num_popups; ++i)
        shown_tree(w->core.popup_list[i], out, depth + 1);
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
        EXPECT_EQ(sliders(), (std::vector<std::string>{"3.5", "8.0", "365", "90", "31", "180"})); // as stored
        std::string tree;
        shown_tree(db_dummy_f, tree);
        EXPECT_EQ(tree, read_file(PROJECT_SOURCE_DIR "/manager/tests/widgets.expected"));
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
            {"list", three, [] { push(db_list_b); }, "", listed_two + listed_abcde, "", listing(3)},
            {"list, empty table", "", [] { push(db_list_b); }, "", "", "", listing(0)},
            {"add, no name", "", [] { add("", "pw"); }, "No operator entered.\n", untouched, "", ""},
            // A message is written over the text behind the cursor, as a click in the pane may have placed it.
            {"add, no name, cursor at the top", "", [] {
                 put(db_msg_t, "first line of older text\nrest\n");
                 XmTextSetInsertionPosition(db_msg_t, 0);
                 add("", "");
             }, "No operator entered.\next\nrest\n", untouched, "", ""},
            {"typing into the panes", "", [] { type(db_list_t, "ab"), type(db_msg_t, "ab"); }, "", "", "", ""},
            {"add, name present", three, [] { add("ab cd", ""); },
             "Operator ab cd already exists.\nTo change password, remove and add again.\n", listed_two + listed_abcde,
             "", count + listing(3)},
            {"add, no password", "", [] { add("ab", ""); }, "No password entered.\n", untouched, "", count},
            {"add, 6 characters and '.'", "", [] { type(db_opname_i, "ab"), put(db_pwd_i, "12345."), push(db_add_b); },
             "Maximum number of characters is 5.\n", untouched, "", count},
            {"add, key byte", "", [] { type(db_opname_i, "ab"), put(db_pwd_i, "a\x0e"), push(db_add_b); },
             "Password is impossible to write in cipher.\n", untouched, "", count},
            {"add, '.'", "", [] { add("ab", "a.b"); }, "Character . is impossible to write in cipher.\n", untouched, "",
             count},
            // The fields take no more than 5 characters.
            {"add", "", [] { add("abcdefg", "123456"); }, "Operator abcde is added to database.\n",
             "Operator: abcde     Password: 12345\n", "abcde.operator=abcde abcde.password=12345",
             count + insert + listing(1)},
            {"remove, absent", "", [] { type(db_opname_i, "zz"), push(db_remove_b); }, "Operator zz was not found.\n",
             "", "", count + listing(0)},
            {"remove", three, [] { type(db_opname_i, "abcde"), push(db_remove_b); },
             "Operator abcde is deleted from database.\n", listed_two, "abcde.operator= abcde.password=",
             count + del + listing(2)},
            {"read", "", [] { push(db_read_conf_pwd_b); }, "", "Configuration password: secret\n", "",
             "select password from parameters\n"},
            {"set, empty", "", [] { set_conf(""); }, "No password entered.\n", untouched, "", ""},
            {"set, '.'", "", [] { set_conf("abc.def"); }, "Character . is impossible to write in cipher.\n", untouched,
             "", ""},
            {"set, 9 bytes and '.'", "", [] { put(db_conf_pwd_i, "12345678."), push(db_conf_pwd_b); },
             "Password is impossible to write in cipher.\n", untouched, "", ""},
            // The field takes no more than 8.
            {"set", "", [] { set_conf("newpw1234"); }, "Configuration password newpw123 is set in database.\n",
             untouched, "password=newpw123", upd + "password = $1\n"},
            {"save retention", "update parameters set tracer_save_days = 7, net_save_days = 8",
             [] { click(db_save_b); }, "", untouched, "net_save_days=31 tracer_save_days=365",
             days},
            // The dialog opens on the press, comes to the front when asked again, and stays open.
            {"save gas", "update parameters set gas_value = 12", [] {
                 press(db_gas_mix_b);
                 EXPECT_TRUE(pump_until([] { return viewable(db_gas_mix_save_b); }));
                 release();
                 XRaiseWindow(display, XtWindow(db_dummy_f));
                 EXPECT_TRUE(pump_until([] { return above(db_dummy_f, db_gas_mix_f); }));
                 click(db_gas_mix_b);
                 EXPECT_TRUE(pump_until([] { return above(db_gas_mix_f, db_dummy_f); }));
                 click(db_gas_mix_save_b);
                 EXPECT_FALSE(pump_until([] { return !viewable(db_gas_mix_save_b); }, 300));
             }, "", untouched, "gas_value=35", gas},
            {"sliders to their right ends", "", [] { drag_all_and_save(true); }, "", untouched,
             "error_save_days=1000 gas_pressure=100 gas_value=50 net_save_days=62 oper_save_days=1000 "
             "tracer_save_days=1000", days + gas},
            {"sliders to their left ends", "", [] { drag_all_and_save(false); }, "", untouched,
             "error_save_days=1 gas_pressure=10 gas_value=10 net_save_days=1 oper_save_days=1 tracer_save_days=1",
             days + gas},
            {"help", "", [] { help_from(PROJECT_SOURCE_DIR); }, "", untouched, "", ""},
            {"help, no file here", "", [] { help_from("/tmp"); }, "Help file could not be opened\n", untouched, "", ""},
            {"help, empty file", "", [] {
                 std::filesystem::create_directory("/home/Kelvaron/helpfiles");
                 std::ofstream("/home/Kelvaron/helpfiles/param-config.hlp");
                 help_from("/home/Kelvaron");
             }, "Help file is empty\n", untouched, "", ""},
            odd_graph("graph.def missing", [] { unlink(graph_def); }, cannot_rename, "<none>", "<none>"),
            odd_graph("graph.save unreadable", [] { allow_files(0); }, "Impossible to open graph.save.\n", "<none>",
                      graph),
            odd_graph("no new graph.def", [] { allow_files(1); }, "Impossible to open graph.def.\n", "<none>", graph),
            odd_graph("link to graph.save",
                      [] { EXPECT_EQ(rename(graph_def, graph_save) | symlink(graph_save, graph_def), 0); },
                      cannot_rename, std::string("-> ") + graph_save, graph),
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
            row.act();
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
    });
}
