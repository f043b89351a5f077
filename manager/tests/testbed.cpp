#include "testbed.h"

#include "startup.h"
#include "widgets.h"

#include <X11/IntrinsicP.h>
#include <X11/XKBlib.h>
#include <X11/extensions/XTest.h>
#include <Xm/Scale.h>
#include <Xm/Text.h>
#include <libpq-fe.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;

namespace testbed {

namespace {

using Clock = std::chrono::steady_clock;

struct Connection {
    PGconn *conn = PQconnectdb("dbname=kelvaron");
    ~Connection() { PQfinish(conn); }
};

struct Result {
    PGresult *res;
    ~Result() { PQclear(res); }
};

// Waits for a child, killing it if it outlives the limit.
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

} // namespace

void sql(const std::string &statements)
{
    Connection c;
    ASSERT_EQ(PQstatus(c.conn), CONNECTION_OK) << PQerrorMessage(c.conn);
    Result r{PQexec(c.conn, statements.c_str())};
    ASSERT_TRUE(PQresultStatus(r.res) == PGRES_COMMAND_OK || PQresultStatus(r.res) == PGRES_TUPLES_OK)
        << statements << ": " << PQerrorMessage(c.conn);
}

std::vector<std::vector<std::string>> rows(const std::string &query)
{
    std::vector<std::vector<std::string>> out;
    Connection c;
    EXPECT_EQ(PQstatus(c.conn), CONNECTION_OK) << PQerrorMessage(c.conn);
    Result r{PQexec(c.conn, query.c_str())};
    EXPECT_EQ(PQresultStatus(r.res), PGRES_TUPLES_OK) << query << ": " << PQerrorMessage(c.conn);
    for (int i = 0; i < PQntuples(r.res); ++i) {
        std::vector<std::string> row;
        for (int j = 0; j < PQnfields(r.res); ++j)
            row.emplace_back(PQgetisnull(r.res, i, j) ? "<null>" : std::string(PQgetvalue(r.res, i, j),
                                                                                 PQgetlength(r.res, i, j)));
        out.push_back(std::move(row));
    }
    return out;
}

std::string value(const std::string &query)
{
    auto r = rows(query);
    return r.empty() || r[0].empty() ? "<none>" : r[0][0];
}

std::string enciphered_literal(const std::string &clear)
{
    std::string out = "E'";
    for (unsigned char c : clear) {
        char hex[8];
        std::snprintf(hex, sizeof hex, "\\x%02x", c ^ 0x0E);
        out += hex;
    }
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
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f << content;
    ASSERT_TRUE(f.good()) << path;
}

std::string read_file(const std::string &path)
{
    std::ifstream f(path, std::ios::binary);
    std::ostringstream s;
    s << f.rdbuf();
    return s.str();
}

bool exists(const std::string &path)
{
    return fs::exists(fs::symlink_status(path));
}

TempDir::TempDir()
{
    char templ[] = "/tmp/param-config-test.XXXXXX";
    if (const char *made = mkdtemp(templ))
        path_ = made;
}

TempDir::~TempDir()
{
    if (!path_.empty()) {
        std::error_code ec;
        fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ec);
        fs::remove_all(path_, ec);
    }
}

void pump(int ms)
{
    auto deadline = Clock::now() + std::chrono::milliseconds(ms);
    do {
        XFlush(display);
        while (XtAppPending(app_context))
            XtAppProcessEvent(app_context, XtIMAll);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    } while (Clock::now() < deadline);
}

bool pump_until(const std::function<bool()> &done, int timeout_ms)
{
    auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    while (!done()) {
        if (Clock::now() > deadline)
            return false;
        pump(10);
    }
    return true;
}

bool viewable(Widget w)
{
    if (!w || !XtIsRealized(w))
        return false;
    XWindowAttributes attributes;
    return XGetWindowAttributes(display, XtWindow(w), &attributes) && attributes.map_state == IsViewable;
}

void in_child(const std::function<void()> &body)
{
    std::fflush(stdout);
    std::fflush(stderr);
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        body();
        std::fflush(stdout);
        std::fflush(stderr);
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
        char arg0[] = "param-config";
        char *argv[] = {arg0, nullptr};
        int argc = 1;
        startup(argc, argv);
        ASSERT_TRUE(pump_until([] { return viewable(db_dummy_f); }, 20000)) << "the main window was never mapped";
        body();
    });
}

Outcome run_binary(const std::vector<std::string> &args, const std::vector<std::pair<std::string, std::string>> &env,
                   int timeout_ms)
{
    Outcome outcome;
    int out_pipe[2], err_pipe[2];
    if (pipe(out_pipe) != 0 || pipe(err_pipe) != 0)
        return outcome;
    std::fflush(stdout);
    std::fflush(stderr);
    pid_t pid = fork();
    if (pid == 0) {
        dup2(out_pipe[1], 1);
        dup2(err_pipe[1], 2);
        for (int fd : {out_pipe[0], out_pipe[1], err_pipe[0], err_pipe[1]})
            close(fd);
        for (const auto &[name, val] : env) {
            if (val == "<unset>")
                unsetenv(name.c_str());
            else
                setenv(name.c_str(), val.c_str(), 1);
        }
        std::vector<char *> argv;
        for (const auto &a : args)
            argv.push_back(const_cast<char *>(a.c_str()));
        argv.push_back(nullptr);
        execv(PARAM_CONFIG_BIN, argv.data());
        _exit(127);
    }
    close(out_pipe[1]);
    close(err_pipe[1]);
    auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    pollfd fds[2] = {{out_pipe[0], POLLIN, 0}, {err_pipe[0], POLLIN, 0}};
    std::string *sinks[2] = {&outcome.out, &outcome.err};
    int open_count = 2;
    while (open_count > 0 && Clock::now() < deadline) {
        if (poll(fds, 2, 50) <= 0)
            continue;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP)))
                continue;
            char buf[4096];
            ssize_t n = read(fds[i].fd, buf, sizeof buf);
            if (n > 0) {
                sinks[i]->append(buf, static_cast<std::size_t>(n));
            } else {
                close(fds[i].fd);
                fds[i].fd = -1;
                --open_count;
            }
        }
    }
    for (auto &fd : fds)
        if (fd.fd >= 0)
            close(fd.fd);
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    int status = wait_child(pid, static_cast<int>(std::max<long long>(left, 100)));
    outcome.exit_status = status != -1 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return outcome;
}

void move_to(Widget w)
{
    Dimension width = 0, height = 0;
    XtVaGetValues(w, XmNwidth, &width, XmNheight, &height, nullptr);
    int x = 0, y = 0;
    Window child;
    XTranslateCoordinates(display, XtWindow(w), DefaultRootWindow(display), width / 2, height / 2, &x, &y, &child);
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
    KeyCode code = XKeysymToKeycode(display, sym);
    bool shifted = XkbKeycodeToKeysym(display, code, 0, 0) != sym;
    KeyCode shift = XKeysymToKeycode(display, XK_Shift_L);
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

std::string text(Widget w)
{
    char *s = XmTextGetString(w);
    std::string out = s ? s : "";
    XtFree(s);
    return out;
}

int scale_value(Widget w)
{
    int v = 0;
    XmScaleGetValue(w, &v);
    return v;
}

std::string label(Widget w)
{
    XmString xs = nullptr;
    XtVaGetValues(w, XmNlabelString, &xs, nullptr);
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

Pixel pixel_of(Widget w, const char *resource)
{
    Pixel p = 0;
    XtVaGetValues(w, resource, &p, nullptr);
    return p;
}

Pixel colour_pixel(const char *colour)
{
    XColor c;
    Colormap map = DefaultColormap(display, DefaultScreen(display));
    if (!XParseColor(display, map, colour, &c) || !XAllocColor(display, map, &c))
        ADD_FAILURE() << "cannot allocate " << colour;
    return c.pixel;
}

std::string class_name(Widget w)
{
    return XtClass(w)->core_class.class_name;
}

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
