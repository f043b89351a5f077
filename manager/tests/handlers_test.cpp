// Every handler's effect, a row each, written into a transcript that must
// read as handlers.expected does: what the user does (real clicks and keys
// through XTest), what the message pane and the list pane then hold, which
// stored values changed (bed.sql reads them back; the audit trail must record
// exactly those), the statements the server received from the program, in
// order, and graph.def and graph.save where the action touched them. The
// program runs as a member of the tool's least-privilege role throughout,
// with the consoles' service file (its waits shortened for the run); every
// action returns within 3 s, also while another session holds both tables.
#include "testbed.h"

#include <X11/IntrinsicP.h>
#include <X11/CompositeP.h>
#include <Xm/Label.h>
#include <Xm/Text.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>

using namespace testbed;

namespace {

const std::string graph = "PRESSURE_UNITS bar\nFLOW_UNITS  sccm\r\nTITLE Production line 2\n";

// Operators as another program may have stored them: a name holding one
// blank, one holding two (padded to 5), a full-width name and password.
const char *const three = "insert into operator_list values ('ab cd', '~<'), ('a  b', 'o'), ('abcde', '?<=:;896')";
const std::string locked = "begin; lock operator_list, parameters in access exclusive mode";

struct Row {
    std::string what, setup; // setup: SQL run before the action
    std::function<void()> act;
};

// A value on one line, in quotes, its line ends and tabs written as \n \r \t.
std::string quoted(const std::string &value)
{
    std::string out = "\"";
    for (char c : value)
        out += c == '\n' ? "\\n" : c == '\r' ? "\\r" : c == '\t' ? "\\t" : std::string(1, c);
    return out + "\"";
}

// What a name stands for: a link's target, a directory, or a file's bytes.
std::string describe(const char *path)
{
    std::error_code e;
    return std::filesystem::is_symlink(path) ? "-> " + std::filesystem::read_symlink(path).string()
           : std::filesystem::is_directory(path, e) ? "<directory>" : std::filesystem::is_fifo(path, e) ? "<fifo>"
                                                     : read_file(path);
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

// graph.def made odd before a target-pressure choice, which still stores its code.
Row odd_graph(const char *what, std::function<void()> make)
{
    return {what, "", [make] { make(), choose(target_press_unit_sel, db_targ_press_psi); }};
}

// A panel button acts on the press: its release changes nothing more.
void push(Widget button)
{
    press(button);
    const std::string pane = text(db_msg_t), list = text(db_list_t);
    release();
    EXPECT_EQ(text(db_msg_t) + text(db_list_t), pane + list) << XtName(button) << " acted on the release";
}

void add(const char *name, const char *password) { type(db_opname_i, name), type(db_pwd_i, password), push(db_add_b); }

void set_conf(const char *password) { type(db_conf_pwd_i, password), push(db_conf_pwd_b); }

// Every slider dragged to one end, then Save and the gas dialog's " save ".
void drag_all_and_save(bool right)
{
    open_gas();
    for (Widget w : {db_gas_mix_i, db_gas_pressure_i, db_tracer_save_i, db_err_save_i, db_net_save_i, db_oper_save_i})
        drag(w, right);
    click(db_save_b), click(db_gas_mix_save_b);
}

// The widget tree as sites' resource files and the supervisor meet it, a
// widget a line, indented by depth: its name and what it shows in quotes (a
// label, a line break in it as "|", and its mnemonic; a shell's title).
void shown_tree(Widget w, std::string &out, int depth = 0)
{
    if (XtName(w) == std::string_view("TipShell")) return; // the toolkit's, made once the pointer rests on a widget
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
        text = static_cast<char *>(XmStringUnparse(label, {}, XmCHARSET_TEXT, XmCHARSET_TEXT, lines, 1, XmOUTPUT_ALL));
        out += " = \"" + std::string(text) + '"';
        out += mnemonic != XK_VoidSymbol ? " " + std::string(XKeysymToString(mnemonic)) : "";
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
    XtUnmanageChild(db_help_fr), press(db_help_b); // closed, as the window manager does, then pressed
    EXPECT_EQ(text(db_help_t), shipped.substr(0, shipped.size() - 1));
    EXPECT_FALSE(viewable(db_help_t));
    release();
    EXPECT_TRUE(pump_until([] { return viewable(db_help_t); }));
}

// A menu entry; the row holds '1' in every code column.
Row entry(Widget cascade, Widget item)
{
    return {XtName(item), "", [cascade, item] { choose(cascade, item); }};
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
            entry(target_press_unit_sel, db_targ_press_bar), entry(target_press_unit_sel, db_targ_press_kpa),
            entry(target_press_unit_sel, db_targ_press_psi), entry(db_vac_press_unit_sel, db_vac_press_mbar),
            entry(db_vac_press_unit_sel, db_vac_press_kpa), entry(db_vac_press_unit_sel, db_vac_press_torr),
            entry(db_act_unit_sel, db_act_unit_mCi), entry(db_act_unit_sel, db_act_unit_MBq),
            entry(db_flow_unit_sel, db_flow_unit_mlm), entry(db_flow_unit_sel, db_flow_unit_sccm),
            entry(db_print_sel, db_print_ON), entry(db_print_sel, db_print_OFF),
            {"list", three, [] { push(db_list_b); }},
            {"list, empty table", "", [] { push(db_list_b); }},
            {"add, no name", "", [] { add("", "pw"); }},
            // A message is written over the text behind the cursor, as a click in the pane may have placed it.
            {"add, no name, cursor at the top", "", [] {
                 put(db_msg_t, "first line of older text\nrest\n"), XmTextSetInsertionPosition(db_msg_t, 0);
                 add("", "");
             }},
            {"typing into the panes", "", [] { type(db_list_t, "ab"), type(db_msg_t, "ab"); }},
            {"add, name present", three, [] { add("ab cd", ""); }},
            {"add, no password", "", [] { add("ab", ""); }},
            {"add, 6 characters and '.'", "", [] { type(db_opname_i, "ab"), put(db_pwd_i, "12345."), push(db_add_b); }},
            {"add, key byte", "", [] { type(db_opname_i, "ab"), put(db_pwd_i, "a\x0e"), push(db_add_b); }},
            {"add, '.' and key byte", "", [] { type(db_opname_i, "ab"), put(db_pwd_i, "a.\x0e"), push(db_add_b); }},
            {"add, 7 and 6 characters typed", "", [] { add("abcdefg", "123456"); }},
            {"remove, absent", "", [] { type(db_opname_i, "zz"), push(db_remove_b); }},
            {"remove", three, [] { type(db_opname_i, "abcde"), push(db_remove_b); }},
            {"read", "", [] { push(db_read_conf_pwd_b); }},
            {"set, empty", "", [] { set_conf(""); }},
            {"set, '.' and key byte", "", [] { put(db_conf_pwd_i, "ab.\x0e"), push(db_conf_pwd_b); }},
            {"set, 9 bytes and '.'", "", [] { put(db_conf_pwd_i, "12345678."), push(db_conf_pwd_b); }},
            {"set, 9 characters typed", "", [] { set_conf("newpw1234"); }},
            {"save retention", "update parameters set tracer_save_days = 7, net_save_days = 8",
             [] { click(db_save_b); }},
            // The dialog opens on the press, comes to the front when asked again, and stays open.
            {"save gas", "update parameters set gas_value = 12", [] {
                 press(db_gas_mix_b);
                 EXPECT_TRUE(pump_until([] { return viewable(db_gas_mix_save_b); }));
                 release(), XRaiseWindow(display, XtWindow(db_dummy_f));
                 EXPECT_TRUE(pump_until([] { return above(db_dummy_f, db_gas_mix_f); }));
                 click(db_gas_mix_b);
                 EXPECT_TRUE(pump_until([] { return above(db_gas_mix_f, db_dummy_f); }));
                 click(db_gas_mix_save_b);
                 EXPECT_FALSE(pump_until([] { return !viewable(db_gas_mix_save_b); }, 300));
             }},
            // Each statement gives up after the lock timeout and the handler
            // goes on; the lock goes with the row, and the next rows work. A
            // statement with parameters waits before the server logs it.
            {"list, locked", locked, [] { push(db_list_b), sql("commit"); }},
            {"add, locked", locked, [] { add("ab", "pw"), sql("commit"); }},
            {"save retention, locked", "update parameters set tracer_save_days = 7; " + locked,
             [] { click(db_save_b), sql("commit"); }},
            {"save gas, locked", "update parameters set gas_value = 12; " + locked, [] { save_gas(), sql("commit"); }},
            {"sliders to their right ends", "", [] { drag_all_and_save(true); }},
            {"sliders to their left ends", "", [] { drag_all_and_save(false); }},
            {"help", "", [] { help_from(PROJECT_SOURCE_DIR); }},
            {"help, no file here", "", [] { help_from("/tmp"); }},
            {"help, empty file", "", [] {
                 std::filesystem::create_directory("/home/Kelvaron/helpfiles");
                 std::ofstream("/home/Kelvaron/helpfiles/param-config.hlp"), help_from("/home/Kelvaron");
             }},
            odd_graph("graph.def missing", [] { unlink(graph_def); }),
            odd_graph("graph.save unreadable", [] { allow_files(0); }),
            odd_graph("no new graph.def", [] { allow_files(1); }),
            odd_graph("link to graph.save",
                      [] { EXPECT_EQ(rename(graph_def, graph_save) | symlink(graph_save, graph_def), 0); }),
            odd_graph("directory", [] { unlink(graph_def), mkdir(graph_def, 0755); }),
            odd_graph("FIFO", [] { unlink(graph_def), mkfifo(graph_def, 0644); }), // opened, it would wait for ever
        };
        rlimit files{};
        getrlimit(RLIMIT_NOFILE, &files);
        std::string expected = read_file(PROJECT_SOURCE_DIR "/manager/tests/handlers.expected");
        std::string transcript, since = sql("select now()"), until; // the audit trail's rows up to help
        for (const Row &row : rows) {
            if (row.what == "help") until = sql("select now()");
            // valgrind creates a file before it refuses its descriptor over
            // the limit, which would read as the program's doing.
            if (row.what == "no new graph.def" && std::getenv("TESTBED_VALGRIND")) {
                auto at = expected.find("== " + row.what);
                expected.erase(at, expected.find("== ", at + 1) - at);
                continue;
            }
            const std::string mark = reset_database(row.setup + "; select test_take_snapshot(); "
                                                    "select coalesce(max(id), 0) from audit.trail");
            std::filesystem::remove_all(graph_def), std::filesystem::remove_all(graph_save);
            std::ofstream(graph_def) << graph;
            put(db_msg_t, ""), put(db_list_t, "(untouched)");
            const long log = log_size();
            const auto start = std::chrono::steady_clock::now();
            row.act();
            EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3)) << row.what;
            EXPECT_TRUE(pump_until([] { return inked(db_list_t) != text(db_list_t).empty(); })) << row.what;
            setrlimit(RLIMIT_NOFILE, &files);
            EXPECT_EQ(sql("select test_audited_since(" + mark + ")"), sql("select test_changes(true)")) << row.what;
            transcript += "== " + row.what + "\npane " + quoted(text(db_msg_t)) + "\nlist " + quoted(text(db_list_t)) +
                          "\nstored " + quoted(sql("select test_changes(false)")) + "\nsent\n" + statements_since(log);
            if (describe(graph_def) != graph || describe(graph_save) != "<none>")
                transcript += "graph.def " + quoted(describe(graph_def)) + "\ngraph.save " +
                              quoted(describe(graph_save)) + "\n";
            // The first row that differs ends the run.
            ASSERT_EQ(transcript, expected.substr(0, transcript.size())) << row.what;
        }
        EXPECT_EQ(transcript, expected);
        const std::string audit = "bash " PROJECT_SOURCE_DIR "/manager/tests/audit.sh '" + since + "' '" + until + "'";
        EXPECT_EQ(std::system(audit.c_str()), 0);
    }, {"PGSERVICE", "param-config"});
}
