#include "testbed.h"

#include <X11/IntrinsicP.h>
#include <X11/XKBlib.h>
#include <X11/extensions/XTest.h>
#include <Xm/Text.h>
#include <fcntl.h>
#include <libpq-fe.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;

namespace testbed {

namespace {

using Clock = std::chrono::steady_clock;

// Waits for a child, killing it if it outlives the limit; -1 then.
int wait_child(pid_t pid, int timeout_ms)
{
    auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    int status = 0;
    while (waitpid(pid, &status, WNOHANG) == 0) {
        if (Clock::now() > deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return status;
}

// One connection per call: the test and the program never share a session.
Table run(const std::string &statements, bool need_rows)
{
    PGconn *conn = PQconnectdb("dbname=kelvaron");
    PGresult *res = PQexec(conn, statements.c_str());
    auto status = PQresultStatus(res);
    EXPECT_TRUE(status == PGRES_TUPLES_OK || (!need_rows && status == PGRES_COMMAND_OK))
        << statements << ": " << PQerrorMessage(conn);
    Table out(static_cast<std::size_t>(PQntuples(res)));
    for (int i = 0; i < PQntuples(res); ++i)
        for (int j = 0; j < PQnfields(res); ++j)
            out[i].push_back(PQgetisnull(res, i, j) ? "<null>"
                                                    : std::string(PQgetvalue(res, i, j), PQgetlength(res, i, j)));
    PQclear(res);
    PQfinish(conn);
    return out;
}

} // namespace

void sql(const std::string &statements) { run(statements, false); }

Table rows(const std::string &query) { return run(query, true); }

std::string value(const std::string &query)
{
    auto r = rows(query);
    return r.empty() || r[0].empty() ? "<none>" : r[0][0];
}

std::string enciphered(std::string clear)
{
    for (char &c : clear)
        c = static_cast<char>(c ^ 0x0E);
    return clear;
}

std::string enciphered_literal(const std::string &clear)
{
    std::string out = "E'";
    for (unsigned char c : enciphered(clear))
        out += std::string("\\x") + "0123456789abcdef"[c >> 4] + "0123456789abcdef"[c & 15];
    return out + "'";
}

void reset_database()
{
    sql("truncate parameters, operator_list;"
        "insert into parameters values (35, 80, '1', '1', '1', '1', '1', 365, 90, 31, 180, " +
        enciphered_literal("secret") + ")");
}

void clean_graph_dir()
{
    fs::create_directories(graph_dir);
    fs::permissions(graph_dir, fs::perms(0755));
    for (const auto &entry : fs::directory_iterator(graph_dir))
        fs::remove_all(entry.path());
}

void write_file(const std::string &path, const std::string &content)
{
    ASSERT_TRUE(std::ofstream(path, std::ios::binary) << content) << path;
}

std::string read_file(const std::string &path)
{
    std::ifstream f(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(f), {}};
}

bool exists(const std::string &path) { return fs::exists(fs::symlink_status(path)); }

TempDir::TempDir()
{
    char templ[] = "/tmp/param-config-test.XXXXXX";
    path_ = mkdtemp(templ) ? templ : "";
}

TempDir::~TempDir()
{
    std::error_code ec;
    fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(path_, ec);
}

void pump(int ms) { pump_until([] { return false; }, ms); }

bool pump_until(const std::function<bool()> &done, int timeout_ms)
{
    auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    while (!done()) {
        XFlush(display);
        while (XtAppPending(app_context))
            XtAppProcessEvent(app_context, XtIMAll);
        if (Clock::now() > deadline)
            return done();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

bool viewable(Widget w)
{
    XWindowAttributes attributes;
    return w && XtIsRealized(w) && XGetWindowAttributes(display, XtWindow(w), &attributes) &&
           attributes.map_state == IsViewable;
}

void in_child(const std::function<void()> &body)
{
    std::fflush(nullptr);
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        body();
        std::fflush(nullptr);
        _exit(::testing::Test::HasFailure() ? 1 : 0);
    }
    int status = wait_child(pid, 100000);
    ASSERT_NE(status, -1) << "the program did not end in time";
    EXPECT_TRUE(WIFEXITED(status)) << "the program was ended by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the program's checks failed (see above)";
}

void with_program(const std::function<void()> &body, const std::string &cwd)
{
    in_child([&] {
        ASSERT_TRUE(cwd.empty() || chdir(cwd.c_str()) == 0) << cwd;
        char arg0[] = "param-config", *argv[] = {arg0, nullptr};
        int argc = 1;
        startup(argc, argv);
        ASSERT_TRUE(pump_until([] { return viewable(db_dummy_f); }, 20000)) << "the main window was never mapped";
        body();
    });
}

// The output goes to files: nothing to drain while the binary runs.
Outcome run_binary(const std::vector<std::string> &args, const std::vector<std::pair<std::string, std::string>> &env,
                   int timeout_ms)
{
    TempDir dir;
    const std::string out = dir.path() + "/out", err = dir.path() + "/err";
    std::fflush(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        dup2(open(out.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600), 1);
        dup2(open(err.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600), 2);
        for (const auto &[name, val] : env)
            val == "<unset>" ? unsetenv(name.c_str()) : setenv(name.c_str(), val.c_str(), 1);
        std::vector<char *> argv;
        for (const auto &a : args)
            argv.push_back(const_cast<char *>(a.c_str()));
        argv.push_back(nullptr);
        execv(PARAM_CONFIG_BIN, argv.data());
        _exit(127);
    }
    int status = pid < 0 ? -1 : wait_child(pid, timeout_ms);
    return {status != -1 && WIFEXITED(status) ? WEXITSTATUS(status) : -1, read_file(out), read_file(err)};
}

void move_to(Widget w)
{
    int x = 0, y = 0;
    Window child;
    XTranslateCoordinates(display, XtWindow(w), DefaultRootWindow(display), resource<Dimension>(w, XmNwidth) / 2,
                          resource<Dimension>(w, XmNheight) / 2, &x, &y, &child);
    XTestFakeMotionEvent(display, DefaultScreen(display), x, y, CurrentTime);
    pump(50);
}

void press(Widget w)
{
    move_to(w);
    XTestFakeButtonEvent(display, 1, True, CurrentTime);
    pump(50);
}

void release()
{
    XTestFakeButtonEvent(display, 1, False, CurrentTime);
    pump(100);
}

void click(Widget w)
{
    press(w);
    // A release within the multi-click time would leave a menu posted.
    pump(300);
    release();
}

void key(KeySym sym)
{
    KeyCode code = XKeysymToKeycode(display, sym), shift = XKeysymToKeycode(display, XK_Shift_L);
    bool shifted = XkbKeycodeToKeysym(display, code, 0, 0) != sym;
    if (shifted)
        XTestFakeKeyEvent(display, shift, True, CurrentTime);
    XTestFakeKeyEvent(display, code, True, CurrentTime);
    XTestFakeKeyEvent(display, code, False, CurrentTime);
    if (shifted)
        XTestFakeKeyEvent(display, shift, False, CurrentTime);
    pump(20);
}

void type(Widget w, const std::string &text)
{
    click(w);
    for (unsigned char c : text)
        key(c); // printable Latin-1 keysyms equal their character codes
    pump(50);
}

void choose_from_menu(Widget cascade, Widget menu, Widget entry)
{
    click(cascade);
    ASSERT_TRUE(pump_until([&] { return viewable(menu); })) << XtName(cascade) << " did not post its pulldown";
    click(entry);
    ASSERT_TRUE(pump_until([&] { return !viewable(menu); })) << XtName(entry) << " left the pulldown posted";
}

std::string text(Widget w)
{
    char *s = XmTextGetString(w);
    std::string out = s ? s : "";
    XtFree(s);
    return out;
}

void set_text(Widget w, const std::string &s) { XmTextSetString(w, const_cast<char *>(s.c_str())); }

int scale_value(Widget w) { return resource<int>(w, XmNvalue); }

std::string label(Widget w)
{
    XmString xs = resource<XmString>(w, XmNlabelString);
    if (!xs)
        return {};
    // Separators come out as line feeds only through a parse table.
    XmString separator = XmStringSeparatorCreate();
    Arg args[4];
    XtSetArg(args[0], XmNincludeStatus, XmINSERT);
    XtSetArg(args[1], XmNpattern, const_cast<char *>("\n"));
    XtSetArg(args[2], XmNpatternType, XmCHARSET_TEXT);
    XtSetArg(args[3], XmNsubstitute, separator);
    XmParseMapping table[1] = {XmParseMappingCreate(args, 4)};
    char *s = static_cast<char *>(
        XmStringUnparse(xs, nullptr, XmCHARSET_TEXT, XmCHARSET_TEXT, table, 1, XmOUTPUT_ALL));
    std::string out = s ? s : "";
    XtFree(s);
    XmParseMappingFree(table[0]);
    XmStringFree(separator);
    XmStringFree(xs);
    return out;
}

Pixel pixel_of(Widget w, const char *name) { return resource<Pixel>(w, name); }

Pixel colour_pixel(const char *colour)
{
    XColor c;
    Colormap map = DefaultColormap(display, DefaultScreen(display));
    if (!XParseColor(display, map, colour, &c) || !XAllocColor(display, map, &c))
        ADD_FAILURE() << "cannot allocate " << colour;
    return c.pixel;
}

std::string class_name(Widget w) { return XtClass(w)->core_class.class_name; }

} // namespace testbed

int main(int argc, char **argv)
{
    testing::InitGoogleTest(&argc, argv);
    if (!testing::GTEST_FLAG(list_tests) && (!std::getenv("DISPLAY") || !std::getenv("PGHOST"))) {
        std::fprintf(stderr, "These tests need an X server (DISPLAY) and the test cluster (PGHOST): "
                             "run them with 'make check'.\n");
        return 1;
    }
    return RUN_ALL_TESTS();
}
