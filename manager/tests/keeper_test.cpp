// The menu entry's launcher keeps the console it starts: one whose database
// connection ends, each way it can, is gone within its bound; a shown one is
// replaced where it stood, under a notice, a hidden one is not. Input goes in
// through XTest where the widgets stand in a program started here.
#include "testbed.h"

#include <X11/IntrinsicP.h>
#include <X11/extensions/XTest.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/un.h>

#include <chrono>
#include <csignal>
#include <mutex>
#include <regex>
#include <thread>

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

// With `refused`, that system call fails with EPERM for the launcher and all it starts, as a hardened system has it.
int launch(const std::string &env, const std::string &args = "", long refused = -1)
{
    const auto start = std::chrono::steady_clock::now();
    const std::string line = "env PGUSER=clerk PGAPPNAME=under-test " + env + " " PARAM_CONFIG_DIR
                             "/param-config-launch " + args + " >/dev/null 2>&1";
    int status = 0;
    if (pid_t pid = fork(); pid == 0) {
        sock_filter refuse[] = {BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)), BPF_JUMP(BPF_JMP |
            BPF_JEQ | BPF_K, static_cast<unsigned>(refused), 0, 1), BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | EPERM),
            BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW)};
        sock_fprog prog{4, refuse};
        if (refused >= 0 &&
            (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) || syscall(SYS_seccomp, SECCOMP_SET_MODE_FILTER, 0, &prog)))
            _exit(99);
        execl("/bin/sh", "sh", "-c", line.c_str(), nullptr), _exit(98);
    } else
        waitpid(pid, &status, 0), status = WEXITSTATUS(status);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10)) << env; // no pick waits on a lock
    return status;
}

Window shown(const std::string &name, int *count = nullptr) // the first shown window whose name matches, or 0
{
    std::FILE *p = popen(("xdotool search --onlyvisible --name '" + name + "' 2>/dev/null").c_str(), "r");
    Window w = 0, next;
    w = std::fscanf(p, "%lu", &w) == 1 ? w : 0;
    for (int n = w != 0; count && (*count = n, std::fscanf(p, "%lu", &next) == 1); ++n) {}
    return pclose(p), w;
}

// The system log's socket, bound where syslog(3) sends (check.sh gives the run a /dev of its own), and read at
// once: a full socket would hold up every process that logs, runuser in pg_ctl included.
struct Journal {
    int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    std::string lines;
    size_t from = 0;
    std::mutex m;
    std::thread reader{[this] {
        char line[1024];
        for (ssize_t n; (n = recv(fd, line, sizeof line, 0)) > 0;)
            m.lock(), lines.append(line, static_cast<size_t>(n)) += '\n', m.unlock();
    }};
    sockaddr_un at{AF_UNIX, "/dev/log"};
    Journal() { EXPECT_EQ(bind(fd, reinterpret_cast<sockaddr *>(&at), sizeof at), 0) << errno; }
    ~Journal() { unlink("/dev/log"), shutdown(fd, SHUT_RDWR), reader.join(), close(fd); }
    int said(const std::string &what, const std::string &priority = "[0-9]+") // lines since the last mark() matching
    {
        std::lock_guard hold(m);
        const std::regex re("<(" + priority + ")>[^\n]*param-config-launch\\[[0-9]+\\]: [^\n]*(" + what + ")");
        return static_cast<int>(std::distance(
            std::sregex_iterator(lines.cbegin() + static_cast<long>(from), lines.cend(), re), std::sregex_iterator()));
    }
    void mark() { std::lock_guard hold(m); from = lines.size(); }
};

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
    std::vector<std::string> said; // each in the log once
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
    int backend = 0, old = 0, keeper = 0;
    auto terminate = [&] { sql("select pg_terminate_backend(pid) from (" + app + ") a"); };
    Journal journal;
    const std::vector<std::string> replaced = {"started on :[0-9]+ and kept", "closed by the server",
                                               "ended; starting another", "shown in place of"};
    const std::vector<Row> rows = {
        // A pick while it is down does not wait for the keeper's retries; a pick racing them once it is back
        // shows the keeper's new console or starts the one the keeper then leaves alone.
        {"server stopped, then started", "", [] { EXPECT_EQ(pg_ctl("stop"), 0); }, [&] {
             EXPECT_TRUE(until(3, [] { return shown("Waiting for the database"); }));
             EXPECT_EQ(launch(""), 1); // and one more of the keeper's tries fails, said no more
             auto tries = [&](bool on) { return until(2, [&] { return (Subreaper::children(keeper) != "") == on; }); };
             EXPECT_TRUE(tries(true) && tries(false));
             EXPECT_EQ(pg_ctl("restart"), 0);
             EXPECT_EQ(launch(""), 0);
         }, 2, false, "started (again|from the menu)", {"closed by the server", "ended; starting another",
         "database not back yet", "exited 1 before its window showed", "(shown|stands) in place of"}},
        {"server restarted, hidden", "", [] { EXPECT_EQ(pg_ctl("restart"), 0); }, {}, 2, true, ".",
         {"closed by the server", "ended; it was hidden, so none is started in its place"}},
        {"backend terminated", "", [&] { // a pick while the new console starts waits for it and shows it
             terminate(), until(2, [] { return shown("Starting Parameter configuration again") != 0; });
             EXPECT_EQ(launch(""), 0);
         }, {}, 2, false, "started again", replaced},
        {"backend terminated over TCP", "PGHOST=127.0.0.1 " + in_ns, terminate, {}, 2, false, "started again", replaced},
        // A pick over the local socket shows a console while the keeper's tries still fail: it stands down.
        {"host gone", "PGSERVICE=param-config PGHOST=127.0.0.1 " + in_ns, [] { EXPECT_EQ(loopback("down"), 0); }, [] {
             EXPECT_TRUE(launch("") == 0 && until(3, [] { return shown("from the menu meanwhile"); }));
             EXPECT_TRUE(loopback("up") == 0 && launch("PARAM_CONFIG_LOCK_SECONDS=2") == 0);
         }, 4, false, "from the menu meanwhile", {"connection (failed|was closed)", "stands in place of"}},
        // Left idle past the frozen bound, a console answers and stays; not once its backend stopped under an Add.
        {"backend stopped", "PARAM_CONFIG_FROZEN_SECONDS=1", [&] {
             const Window w = shown("^Parameter configuration$");
             EXPECT_TRUE(!until(2.2, [&] { return kill(old, 0) != 0; }) && journal.said("frozen") == 0);
             kill(backend = std::atoi(sql(app).c_str()), SIGSTOP);
             type_at(w, at, "stuck"), type_at(w, at + 2, "pw"), click_at(w, at[4], at[5]);
         }, [&] { kill(backend, SIGCONT); }, 5, false, "started again", {"frozen on its database for [0-9]+ s"}},
    };
    for (const Row &row : rows) {
        reset_database();
        journal.mark();
        ASSERT_EQ(launch(row.env), 0) << row.what;
        keeper = std::atoi(leftovers.children().c_str());
        old = std::atoi(Subreaper::children(keeper).c_str());
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
        // Raised by the window manager later, the console finds the notice raised above it again.
        XRaiseWindow(d, shown("^Parameter configuration$")), XSync(d, False);
        EXPECT_TRUE(row.hidden || until(1, [&] { return frame_above(shown(row.notice), shown("^Param.*n$")); }));
        EXPECT_TRUE(!shown("started again") || where(shown("^Parameter configuration$")) == stood) << row.what;
        int consoles = 0;
        EXPECT_TRUE(shown("^Parameter configuration$", &consoles) && consoles == 1) << row.what;
        for (const std::string &line : row.said)
            EXPECT_EQ(journal.said(line), 1) << row.what << ": " << line << "\n" << journal.lines.substr(journal.from);
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
    ASSERT_GT(keeper = std::atoi(leftovers.children().c_str()), 0); // never kill(0, ...)
    old = std::atoi(Subreaper::children(keeper).c_str());
    kill(keeper, SIGKILL), waitpid(keeper, nullptr, 0), terminate();
    w = shown("^Parameter configuration$"), type_at(w, at, "ab"), type_at(w, at + 2, "pw"), click_at(w, at[4], at[5]);
    EXPECT_TRUE(!until(0.5, [&] { return waitpid(old, nullptr, WNOHANG) == old; }) && launch("") == 0);
    EXPECT_TRUE(until(1, [&] { return waitpid(old, nullptr, WNOHANG) == old; }) && shown("^Parameter configuration$"));
    leftovers.end();
    // Past its retry bound the keeper gives up; its notice stands until a console shows again.
    journal.mark();
    EXPECT_TRUE(launch("PARAM_CONFIG_RETRY_SECONDS=1") == 0 && pg_ctl("stop") == 0);
    EXPECT_TRUE(until(4, [] { return shown("did not come back within 1 seconds"); }));
    EXPECT_TRUE(pg_ctl("restart") == 0 && launch("") == 0);
    EXPECT_TRUE(until(1, [] { return !shown("did not come back"); }));
    EXPECT_EQ(journal.said("gave up after 1 s: the database did not come back"), 1);
    leftovers.end();
    // Where the system refuses the keeper a look into its console, the console runs unkept, said once in the log
    // and on a notice; an X error in the keeper (that notice drawn on once destroyed) does not end it.
    for (const auto &[call, said] : std::vector<std::pair<long, std::string>>{
             {SYS_pidfd_getfd, "pidfd_getfd refused for console [0-9]+"},
             {SYS_pidfd_open, "unable to open a pidfd for console [0-9]+"}}) {
        if (std::getenv("TESTBED_VALGRIND")) // valgrind cannot install the filter; make memcheck says so
            break;
        journal.mark();
        ASSERT_EQ(launch("", "", call), 0) << said;
        keeper = std::atoi(leftovers.children().c_str());
        const std::string old_s = Subreaper::children(keeper);
        ASSERT_GT(old = std::atoi(old_s.c_str()), 0) << said; // never kill(0, ...)
        Window notice = 0;
        EXPECT_TRUE(until(2, [&] { return (notice = shown("does not let the launcher watch")) != 0; })) << said;
        // A pick under the same system shows that console, its connection taken as sound.
        EXPECT_TRUE(call != SYS_pidfd_getfd || (launch("", "", call) == 0 && Subreaper::children(keeper) == old_s));
        terminate();
        // Its windows gone before it ends, nothing on the display wakes the keeper when it does.
        kill(old, SIGSTOP), XKillClient(d, shown("^Parameter configuration$"));
        XEvent expose{.xexpose = {Expose, 0, False, d, notice, 0, 0, 10, 10, 0}};
        XSendEvent(d, notice, False, ExposureMask, &expose), XDestroyWindow(d, notice), XSync(d, False);
        EXPECT_FALSE(until(0.3, [&] { return kill(old, 0) != 0 || waitpid(keeper, nullptr, WNOHANG) != 0; })) << said;
        // Its keeper is still keeping, not stuck in an error handler: a console ended from outside takes it along.
        kill(old, SIGKILL);
        EXPECT_TRUE(until(1, [&] { return waitpid(keeper, nullptr, WNOHANG) == keeper && !shown("^Param"); })) << said;
        EXPECT_TRUE(journal.said(said) == 1 && journal.said("ended from outside") == 1) << said;
        EXPECT_EQ(journal.said("started on :[0-9]+ and kept", "14"), 1) << said; // user.info
    }
    // A console that cannot start: the launcher exits with its status.
    EXPECT_EQ(launch("PGUSER=nobody"), 1);
    XCloseDisplay(d);
    XSetErrorHandler(nullptr);
}
