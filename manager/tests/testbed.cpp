#include "testbed.h"

#include <X11/XKBlib.h>
#include <X11/extensions/XTest.h>
#include <Xm/Text.h>
#include <fcntl.h>
#include <libpq-fe.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <thread>

namespace testbed {

using Clock = std::chrono::steady_clock;

std::string sql(const std::string &statements, const char *user)
{
    PGconn *conn = PQconnectdb((std::string("dbname=kelvaron application_name=testbed user=") +
                                (user ? user : std::getenv("TESTBED_SUPERUSER"))).c_str());
    PGresult *res = PQexec(conn, statements.c_str());
    std::string out;
    if (PQresultStatus(res) == PGRES_TUPLES_OK || PQresultStatus(res) == PGRES_COMMAND_OK)
        for (int i = 0; i < PQntuples(res); ++i)
            for (int j = 0; j < PQnfields(res); ++j)
                out += std::string(PQgetvalue(res, i, j)) + (j + 1 < PQnfields(res) ? "|" : "\n");
    else if (const char *state = PQresultErrorField(res, PG_DIAG_SQLSTATE))
        out = std::string("ERROR ") + state;
    PQclear(res);
    PQfinish(conn);
    return out;
}

void reset_database()
{
    // 's','e','c','r','e','t' enciphered with 0x0E.
    sql("truncate parameters, operator_list; insert into parameters values "
        "(35, 80, '1', '1', '1', '1', '1', 365, 90, 31, 180, '}km|kz')");
}

static std::string clear(std::string v, bool password)
{
    v.erase(v.find_last_not_of(' ') + 1);
    for (char &c : v)
        c = password ? static_cast<char>(c ^ 0x0E) : c;
    return v;
}

std::map<std::string, std::string> snapshot()
{
    std::string rows = sql("select j.key, j.value from parameters p, jsonb_each_text(to_jsonb(p)) j union all "
                           "select rtrim(o.operator) || '.' || j.key, j.value "
                           "from operator_list o, jsonb_each_text(to_jsonb(o)) j");
    std::map<std::string, std::string> out;
    for (std::size_t at = 0, bar, end; (bar = rows.find('|', at)) != std::string::npos; at = end + 1) {
        end = rows.find('\n', bar);
        std::string key = rows.substr(at, bar - at);
        out[key] = clear(rows.substr(bar + 1, end - bar - 1), key.ends_with("password"));
    }
    return out;
}

// The trail never copies a password: it records only that it changed.
static std::string changes(const std::map<std::string, std::string> &changed, bool as_audited = false)
{
    std::string out;
    for (const auto &[k, v] : changed)
        out += (out.empty() ? "" : " ") + k + "=" + (as_audited && k.ends_with("password") ? "changed" : v);
    return out;
}

std::string diff(const std::map<std::string, std::string> &before, const std::map<std::string, std::string> &after,
                 bool as_audited)
{
    std::map<std::string, std::string> changed;
    for (const auto &[k, v] : after)
        if (!before.contains(k) || before.at(k) != v)
            changed[k] = v;
    for (const auto &[k, v] : before)
        if (!after.contains(k))
            changed[k] = "";
    return changes(changed, as_audited);
}

std::string audited_since(const std::string &since)
{
    std::string rows = sql("select coalesce(row_key || '.', '') || column_name, coalesce(new_value, '') "
                           "from audit.trail where column_name is not null and id > " + since);
    std::map<std::string, std::string> changed;
    for (std::size_t at = 0, bar, end; (bar = rows.find('|', at)) != std::string::npos; at = end + 1) {
        end = rows.find('\n', bar);
        changed[rows.substr(at, bar - at)] = rows.substr(bar + 1, end - bar - 1);
    }
    return changes(changed);
}

long log_size()
{
    std::ifstream log(std::getenv("TESTBED_PG_LOG"), std::ios::ate);
    return static_cast<long>(log.tellg());
}

std::string statements_since(long from)
{
    std::ifstream log(std::getenv("TESTBED_PG_LOG"));
    log.seekg(from);
    const std::string mark = std::string(program_app) + "|LOG:  ";
    std::string out;
    // The preprocessor's own spacing is not the statement's: runs of blanks
    // read as one, and none at the end.
    for (std::string line; std::getline(log, line);) {
        if (!line.starts_with(mark))
            continue;
        for (char c : line.substr(line.find(": ", mark.size()) + 2))
            if (c != ' ' || (!out.empty() && out.back() != ' ' && out.back() != '\n'))
                out += c;
        if (out.ends_with(' '))
            out.pop_back();
        out += '\n';
    }
    return out;
}

void write_file(const std::string &path, const std::string &content)
{
    ASSERT_TRUE(std::ofstream(path, std::ios::binary) << content) << path;
}

std::string read_file(const std::string &path)
{
    std::ifstream f(path, std::ios::binary);
    return f ? std::string(std::istreambuf_iterator<char>(f), {}) : "<none>";
}

static int wait_child(pid_t pid, int timeout_ms)
{
    auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    int status = 0;
    while (waitpid(pid, &status, WNOHANG) == 0) {
        if (Clock::now() > deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

static void set_env(const std::vector<std::string> &env)
{
    for (std::size_t i = 0; i + 1 < env.size(); i += 2)
        setenv(env[i].c_str(), env[i + 1].c_str(), 1);
}

void with_program(const std::function<void()> &body, const std::vector<std::string> &env)
{
    std::fflush(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        set_env({"PGUSER", clerk, "PGAPPNAME", program_app});
        set_env(env);
        // Menus take a release within the multi-click time as part of the
        // press; a short one keeps real clicks fast.
        char arg0[] = "param-config", xrm[] = "-xrm", click_time[] = "*multiClickTime: 10";
        char *argv[] = {arg0, xrm, click_time, nullptr};
        int argc = 3;
        startup(argc, argv);
        EXPECT_TRUE(pump_until([] { return viewable(db_dummy_f); }, 20000)) << "the main window was never mapped";
        if (!::testing::Test::HasFailure())
            body();
        std::fflush(nullptr);
        _exit(::testing::Test::HasFailure() ? 1 : 0);
    }
    EXPECT_EQ(wait_child(pid, 120000), 0) << "the program's checks failed (see above), or it died";
}

Outcome run_binary(const std::vector<std::string> &env, int timeout_ms)
{
    char out[] = "/tmp/param-config-out.XXXXXX", err[] = "/tmp/param-config-err.XXXXXX";
    int out_fd = mkstemp(out), err_fd = mkstemp(err);
    std::fflush(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        dup2(out_fd, 1);
        dup2(err_fd, 2);
        set_env(env);
        execl(PARAM_CONFIG_BIN, "param-config", nullptr);
        _exit(127);
    }
    Outcome o{wait_child(pid, timeout_ms), read_file(out), read_file(err)};
    close(out_fd), close(err_fd), unlink(out), unlink(err);
    return o;
}

bool pump_until(const std::function<bool()> &done, int timeout_ms)
{
    auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    while (!done() && Clock::now() < deadline) {
        XFlush(display);
        while (XtAppPending(app_context))
            XtAppProcessEvent(app_context, XtIMAll);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return done();
}

void pump(int ms)
{
    pump_until([] { return false; }, ms);
}

bool viewable(Widget w)
{
    XWindowAttributes a;
    return XtIsRealized(w) && XGetWindowAttributes(display, XtWindow(w), &a) && a.map_state == IsViewable;
}

void press(Widget w)
{
    int x, y;
    Window child;
    Dimension width = 0, height = 0;
    XtVaGetValues(w, XmNwidth, &width, XmNheight, &height, nullptr);
    XTranslateCoordinates(display, XtWindow(w), DefaultRootWindow(display), width / 2, height / 2, &x, &y, &child);
    XTestFakeMotionEvent(display, DefaultScreen(display), x, y, CurrentTime);
    pump(5);
    XTestFakeButtonEvent(display, 1, True, CurrentTime);
    pump(25);
}

void release()
{
    XTestFakeButtonEvent(display, 1, False, CurrentTime);
    pump(25);
}

void click(Widget w)
{
    press(w);
    release();
}

void key(unsigned long keysym)
{
    KeyCode code = XKeysymToKeycode(display, keysym), shift = XKeysymToKeycode(display, XK_Shift_L);
    bool shifted = XkbKeycodeToKeysym(display, code, 0, 0) != keysym;
    if (shifted)
        XTestFakeKeyEvent(display, shift, True, CurrentTime);
    XTestFakeKeyEvent(display, code, True, CurrentTime);
    XTestFakeKeyEvent(display, code, False, CurrentTime);
    if (shifted)
        XTestFakeKeyEvent(display, shift, False, CurrentTime);
    pump(3);
}

void type(Widget field, const std::string &text)
{
    XmTextSetString(field, const_cast<char *>(""));
    click(field);
    for (unsigned char c : text)
        key(c); // printable Latin-1 keysyms are their character codes
}

void choose(Widget cascade, Widget entry)
{
    click(cascade);
    ASSERT_TRUE(pump_until([&] { return viewable(entry); })) << XtName(cascade) << " posted no pulldown";
    click(entry);
    ASSERT_TRUE(pump_until([&] { return !viewable(entry); })) << XtName(entry) << " left its pulldown posted";
}

std::string text(Widget w)
{
    char *s = XmTextGetString(w);
    std::string out = s ? s : "";
    XtFree(s);
    return out;
}

int value(Widget scale)
{
    int v = 0;
    XtVaGetValues(scale, XmNvalue, &v, nullptr);
    return v;
}

} // namespace testbed

int main(int argc, char **argv)
{
    testing::InitGoogleTest(&argc, argv);
    if (!testing::GTEST_FLAG(list_tests) && (!std::getenv("DISPLAY") || !std::getenv("TESTBED_PG_LOG"))) {
        std::fprintf(stderr, "These tests need the test bed's X server and cluster: run them with 'make check'.\n");
        return 1;
    }
    return RUN_ALL_TESTS();
}
