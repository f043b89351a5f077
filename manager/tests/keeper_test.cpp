// The menu entry's launcher keeps the console it starts: one whose database
// connection ends, each way it can, is gone within its bound; a shown one is
// replaced where it stood, under a notice, a hidden one is not. Input goes in
// through XTest where the widgets stand in a program started here.
#include "testbed.h"

#include <X11/IntrinsicP.h>
#include <X11/extensions/XTest.h>
#include <sys/mman.h>
#include <sys/prctl.h>

#include <chrono>
#include <csignal>
#include <future>

using namespace testbed;

namespace {

Display *d;

bool until(double seconds, const std::function<bool()> &done)
{
    for (auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
         std::chrono::steady_clock::now() < end; usleep(20000))
        if (done())
            return true;
    return done();
}

int launch(const std::string &env, const std::string &args = "")
{
    const auto start = std::chrono::steady_clock::now();
    const int status = WEXITSTATUS(std::system(("env PGUSER=clerk PGAPPNAME=under-test " + env + " " PARAM_CONFIG_DIR
                                                "/param-config-launch " + args + " >/dev/null 2>&1").c_str()));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10)) << env; // no pick waits on a lock
    return status;
}

Window shown(const std::string &name) // the first shown window whose name matches, or 0
{
    std::FILE *p = popen(("xdotool search --onlyvisible --name '" + name + "' 2>/dev/null").c_str(), "r");
    Window w = 0;
    w = std::fscanf(p, "%lu", &w) == 1 ? w : 0;
    return pclose(p), w;
}

std::pair<int, int> where(Window w)
{
    int x = 0, y = 0;
    Window child;
    XTranslateCoordinates(d, w, DefaultRootWindow(d), 0, 0, &x, &y, &child);
    return {x, y};
}

bool frame_above(Window a, Window b) // among the root's children, as the window manager stacked them
{
    auto frame = [](Window w) {
        Window root, parent = None, *kids = nullptr;
        for (unsigned n; XQueryTree(d, w, &root, &parent, &kids, &n) && (XFree(kids), parent != root);)
            w = parent;
        return w;
    };
    Window root, parent, *kids = nullptr, fa = frame(a), fb = frame(b);
    unsigned n = 0, ia = 0, ib = 0;
    XQueryTree(d, DefaultRootWindow(d), &root, &parent, &kids, &n);
    for (unsigned i = 0; i < n; ++i)
        ia = kids[i] == fa ? i + 1 : ia, ib = kids[i] == fb ? i + 1 : ib;
    return XFree(kids), ia > ib && ib > 0;
}

void close_window(Window w) // as the window manager asks
{
    XEvent close{.xclient = {ClientMessage, 0, False, d, w, XInternAtom(d, "WM_PROTOCOLS", False), 32,
                             {.l = {static_cast<long>(XInternAtom(d, "WM_DELETE_WINDOW", False))}}}};
    XSendEvent(d, w, False, NoEventMask, &close), XSync(d, False);
}

void click_at(Window w, int x, int y) // real input at a point of a window
{
    XTestFakeMotionEvent(d, DefaultScreen(d), where(w).first + x, where(w).second + y, CurrentTime);
    XTestFakeButtonEvent(d, 1, True, CurrentTime), XTestFakeButtonEvent(d, 1, False, CurrentTime), XSync(d, False);
    usleep(250000); // the other process takes the focus when it gets to the click, later on a loaded machine
}

void type_at(Window w, const int *at, const std::string &text)
{
    click_at(w, at[0], at[1]);
    for (unsigned char c : text)
        XTestFakeKeyEvent(d, XKeysymToKeycode(d, c), True, 0), XTestFakeKeyEvent(d, XKeysymToKeycode(d, c), False, 0);
    XSync(d, False), usleep(100000);
}

// The server as a package upgrade handles it; restart also starts a stopped
// one with its options. Its new postmaster is no leftover of the test's.
int pg_ctl(const std::string &how)
{
    prctl(PR_SET_CHILD_SUBREAPER, 0);
    int status = std::system(("cd $TESTBED_DB_DIR && nsenter -t $TESTBED_PG_NETNS -n runuser -u postgres -- "
                              "$TESTBED_PG_BIN/pg_ctl -D data -l log -w -m fast " + how + " >/dev/null 2>&1").c_str());
    return prctl(PR_SET_CHILD_SUBREAPER, 1), status;
}
const std::string in_ns = "nsenter -t $TESTBED_PG_NETNS -n ";
int loopback(const char *how) { return std::system((in_ns + "ip link set lo " + how).c_str()); }

struct Row {
    std::string what, env;
    std::function<void()> cut, mend; // mend: once the old console is gone
    double within; // seconds from the cut to its end
    bool hidden;
    const char *notice; // a pattern of its text
};

} // namespace

TEST(Keeper, ReplacesAConsoleWhoseConnectionEnded)
{
    // Where the name and password fields, Add, the gas and Help buttons stand in the main window.
    int *at = static_cast<int *>(mmap(nullptr, 10 * sizeof(int), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0));
    with_program([at] {
        int i = 0;
        for (Widget w : {db_opname_i, db_pwd_i, db_add_b, db_gas_mix_b, db_help_b}) {
            Window child;
            XTranslateCoordinates(display, XtWindow(w), XtWindow(db_dummy_f), w->core.width / 2, w->core.height / 2,
                                  &at[i], &at[i + 1], &child), i += 2;
        }
    });
    Subreaper leftovers;
    d = XOpenDisplay(nullptr);
    XSetErrorHandler([](Display *, XErrorEvent *) { return 0; });
    const std::string app = "select pid from pg_stat_activity where application_name = 'under-test' "
                            "order by backend_start desc limit 1";
    int backend = 0;
    auto terminate = [&] { sql("select pg_terminate_backend(pid) from (" + app + ") a"); };
    const std::vector<Row> rows = {
        {"server stopped, then started", "", [] { EXPECT_EQ(pg_ctl("stop"), 0); }, [] {
             EXPECT_TRUE(until(3, [] { return shown("Waiting for the database"); }));
             auto pick = std::async(std::launch::async, [] { return launch(""); }); // waits, then shows the new one
             usleep(300000);
             EXPECT_EQ(pg_ctl("restart"), 0);
             EXPECT_EQ(pick.get(), 0);
         }, 2, false, "started again"},
        {"server restarted, hidden", "", [] { EXPECT_EQ(pg_ctl("restart"), 0); }, {}, 2, true, "."},
        {"backend terminated", "", terminate, {}, 2, false, "started again"},
        {"backend terminated over TCP", "PGHOST=127.0.0.1 " + in_ns, terminate, {}, 2, false, "started again"},
        {"host gone", "PGHOST=127.0.0.1 " + in_ns, [] { EXPECT_EQ(loopback("down"), 0); },
         [] { EXPECT_EQ(loopback("up"), 0); }, 4, false, "started again"},
        {"backend stopped", "PARAM_CONFIG_FROZEN_SECONDS=2", [&] {
             const Window w = shown("^Parameter configuration$");
             kill(backend = std::atoi(sql(app).c_str()), SIGSTOP);
             type_at(w, at, "stuck"), type_at(w, at + 2, "pw"), click_at(w, at[4], at[5]);
         }, [&] { kill(backend, SIGCONT); }, 5, false, "started again"},
    };
    for (const Row &row : rows) {
        reset_database();
        ASSERT_EQ(launch(row.env), 0) << row.what;
        const int keeper = std::atoi(leftovers.children().c_str()), old = std::atoi(Subreaper::children(keeper).c_str());
        Window w = shown("^Parameter configuration$");
        XMoveWindow(d, w, 200, 100), XSync(d, False), usleep(100000);
        const auto stood = where(w);
        if (row.hidden)
            close_window(w), until(3, [] { return !shown("^Param"); });
        const long log = log_size();
        row.cut();
        EXPECT_TRUE(until(row.within, [&] { return kill(old, 0) != 0; })) << row.what;
        if (row.mend)
            row.mend();
        if (row.hidden) {
            EXPECT_TRUE(until(1, [&] { return waitpid(keeper, nullptr, WNOHANG) == keeper; })) << row.what;
            EXPECT_EQ(shown("^Param"), 0u) << row.what;
            EXPECT_EQ(launch(""), 0);
        }
        // The new console: started and showing, its window where the old one stood, the stored values read.
        EXPECT_TRUE(until(10, [&] { return shown("^Parameter configuration$") && statements_since(log) != ""; }))
            << row.what;
        EXPECT_TRUE(until(3, [&] { return shown(row.notice); })) << row.what;
        XWindowAttributes a{}; // outside any window manager's hands
        EXPECT_TRUE(row.hidden || (XGetWindowAttributes(d, shown(row.notice), &a) && a.override_redirect)) << row.what;
        EXPECT_TRUE(row.hidden || where(shown("^Parameter configuration$")) == stood) << row.what;
        EXPECT_NE(statements_since(log).find("from parameters"), std::string::npos) << row.what;
        EXPECT_EQ(sql("select count(*) from operator_list"), "0") << row.what;
        leftovers.end();
    }
    // An Add in a new console is stored, once the notice is closed.
    EXPECT_EQ(launch(""), 0);
    EXPECT_EQ(pg_ctl("restart"), 0);
    EXPECT_TRUE(until(10, [] { return shown("database had ended") && !shown("Waiting"); }));
    XTestFakeKeyEvent(d, XKeysymToKeycode(d, ' '), True, 0), XTestFakeKeyEvent(d, XKeysymToKeycode(d, ' '), False, 0);
    XSync(d, False);
    EXPECT_TRUE(until(2, [] { return !shown("database had ended"); }));
    Window w = shown("^Parameter configuration$");
    type_at(w, at, "newop"), type_at(w, at + 2, "pw"), click_at(w, at[4], at[5]);
    EXPECT_TRUE(until(3, [] { return sql("select operator from operator_list") == "newop"; }));
    // With its help dialog over it, a pick raises the main window itself.
    click_at(w, at[8], at[9]);
    EXPECT_TRUE(until(3, [] { return shown("^Parameter configuration help$"); }));
    EXPECT_EQ(launch(""), 0);
    EXPECT_TRUE(until(2, [&] { return frame_above(w, shown("^Parameter configuration help$")); }));
    // Its dialogs open and its main window closed, with another program of
    // its class showing: a launch shows the kept console's main window.
    click_at(w, at[6], at[7]), close_window(w);
    EXPECT_TRUE(until(3, [&] { return shown("^Parameter configuration$") != w; }));
    with_program([&] {
        EXPECT_EQ(launch("DISPLAY=", "-display " + std::string(DisplayString(display))), 0);
        XWindowAttributes a{};
        EXPECT_TRUE(XGetWindowAttributes(display, w, &a) && a.map_state == IsViewable); // the child's own connection
    });
    leftovers.end();
    // With its keeper ended a console goes on; once its connection ended, a launch replaces it.
    EXPECT_EQ(launch(""), 0);
    const int keeper = std::atoi(leftovers.children().c_str()), old = std::atoi(Subreaper::children(keeper).c_str());
    kill(keeper, SIGKILL), waitpid(keeper, nullptr, 0), terminate();
    w = shown("^Parameter configuration$"), type_at(w, at, "ab"), type_at(w, at + 2, "pw"), click_at(w, at[4], at[5]);
    EXPECT_TRUE(!until(0.5, [&] { return waitpid(old, nullptr, WNOHANG) == old; }) && launch("") == 0);
    EXPECT_TRUE(until(1, [&] { return waitpid(old, nullptr, WNOHANG) == old; }) && shown("^Parameter configuration$"));
    leftovers.end();
    // A console ended from outside takes its keeper with it, and none comes in its place.
    EXPECT_EQ(launch(""), 0);
    const int last = std::atoi(leftovers.children().c_str());
    kill(std::atoi(Subreaper::children(last).c_str()), SIGKILL);
    EXPECT_TRUE(until(1, [&] { return waitpid(last, nullptr, WNOHANG) == last; }));
    EXPECT_TRUE(until(1, [] { return !shown("^Param"); }));
    // A console that cannot start: the launcher exits with its status.
    EXPECT_EQ(launch("PGUSER=nobody"), 1);
    XCloseDisplay(d);
    XSetErrorHandler(nullptr);
}
