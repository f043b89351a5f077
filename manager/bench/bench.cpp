// make bench: measures the program beside floors measured in the same run
// on the same X server and database, and prints one table. Needs DISPLAY
// (an X server without a window manager, so that a top-level window maps
// straight onto the root), PGHOST (a cluster with the tables loaded) and
// the scratch graph directory; scripts/bench.sh provides all three.
#include "callbacks.h"
#include "message_pane.h"
#include "startup.h"
#include "widgets.h"

#include <X11/Xlib.h>
#include <Xm/Text.h>
#include <libpq-fe.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double ms_between(Clock::time_point a, Clock::time_point b)
{
    return std::chrono::duration<double, std::milli>(b - a).count();
}

[[noreturn]] void die(const std::string &why)
{
    std::fprintf(stderr, "bench: %s\n", why.c_str());
    std::exit(1);
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    std::size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

void sql(const std::string &statements)
{
    PGconn *c = PQconnectdb("dbname=kelvaron");
    PGresult *r = PQexec(c, statements.c_str());
    bool ok = PQresultStatus(r) == PGRES_COMMAND_OK || PQresultStatus(r) == PGRES_TUPLES_OK;
    std::string error = PQerrorMessage(c);
    PQclear(r);
    PQfinish(c);
    if (!ok)
        die(statements + ": " + error);
}

// Resident set size of a process, in kB.
long rss_kb(pid_t pid)
{
    std::ifstream status("/proc/" + (pid ? std::to_string(pid) : std::string("self")) + "/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmRSS:", 0) == 0)
            return std::atol(line.c_str() + 6);
    return -1;
}

// ---------------------------------------------------------------- processes

struct Launch {
    double ms;
    long rss;
};

// Execs `path` and times it to the MapNotify of its first top-level window;
// reads its resident size once it has drawn, then stops it.
// The bench holds one connection throughout: a server whose last client
// leaves resets itself, and would refuse the next one for a moment.
Launch launch(Display *d, const char *path)
{
    XSelectInput(d, DefaultRootWindow(d), SubstructureNotifyMask);
    XSync(d, True);
    auto start = Clock::now();
    pid_t pid = fork();
    if (pid == 0) {
        execl(path, "param-config", nullptr);
        _exit(127);
    }
    Launch out{-1, -1};
    while (out.ms < 0) {
        pollfd p{ConnectionNumber(d), POLLIN, 0};
        if (!XPending(d) && poll(&p, 1, 100) == 0) {
            if (waitpid(pid, nullptr, WNOHANG) == pid)
                die(std::string(path) + " ended before mapping a window");
            if (ms_between(start, Clock::now()) > 30000)
                die(std::string(path) + " mapped no window in 30 s");
            continue;
        }
        XEvent e;
        XNextEvent(d, &e);
        if (e.type == MapNotify && !e.xmap.override_redirect)
            out.ms = ms_between(start, Clock::now());
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    out.rss = rss_kb(pid);
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
    XSelectInput(d, DefaultRootWindow(d), NoEventMask);
    XSync(d, True);
    return out;
}

double run_ms(const std::vector<std::string> &args)
{
    std::vector<char *> argv;
    for (const auto &a : args)
        argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    auto start = Clock::now();
    pid_t pid = fork();
    if (pid == 0) {
        int null = open("/dev/null", O_WRONLY);
        dup2(null, 1);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        die(args[0] + " failed");
    return ms_between(start, Clock::now());
}

// The listing's own statements over bare libpq: a cursor, one FETCH per
// row, close and commit. What List costs beyond this is the program's.
double fetch_loop_ms()
{
    PGconn *c = PQconnectdb("dbname=kelvaron");
    auto exec = [c](const char *statement) {
        PGresult *r = PQexec(c, statement);
        int rows = PQntuples(r);
        PQclear(r);
        return rows;
    };
    auto start = Clock::now();
    exec("begin");
    exec("declare db_cursor cursor with hold for select operator, password from operator_list");
    while (exec("fetch db_cursor") == 1)
        ;
    exec("close db_cursor");
    exec("commit");
    double ms = ms_between(start, Clock::now());
    PQfinish(c);
    return ms;
}

// ------------------------------------------------------ inside the program

// Handles what the X server sent so far, redrawing included.
void drain()
{
    XSync(display, False);
    while (XtAppPending(app_context))
        XtAppProcessEvent(app_context, XtIMAll);
}

bool viewable(Widget w)
{
    XWindowAttributes a;
    return XtIsRealized(w) && XGetWindowAttributes(display, XtWindow(w), &a) && a.map_state == IsViewable;
}

// Runs the program's start-up in a child, waits for the main window and
// lets it settle, runs `body` and hands its figures back.
std::vector<double> in_program(const std::function<std::vector<double>()> &body)
{
    int fds[2];
    if (pipe(fds) != 0)
        die("pipe");
    std::fflush(stdout);
    pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        char arg0[] = "param-config";
        char *argv[] = {arg0, nullptr};
        int argc = 1;
        startup(argc, argv);
        auto deadline = Clock::now() + std::chrono::seconds(30);
        while (!viewable(db_dummy_f) && Clock::now() < deadline)
            drain();
        for (int i = 0; i < 50; ++i) {
            drain();
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        std::vector<double> figures = body();
        if (write(fds[1], figures.data(), figures.size() * sizeof(double)) < 0)
            _exit(1);
        _exit(0);
    }
    close(fds[1]);
    std::vector<double> figures;
    double f;
    while (read(fds[0], &f, sizeof f) == sizeof f)
        figures.push_back(f);
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || figures.empty())
        die("a run inside the program failed");
    return figures;
}

void press(Widget w)
{
    XtCallCallbacks(w, XmNcascadingCallback, nullptr);
}

void activate(Widget w)
{
    XtCallCallbacks(w, XmNactivateCallback, nullptr);
}

void put(Widget field, const char *s)
{
    XmTextSetString(field, const_cast<char *>(s));
}

long length(Widget text)
{
    return static_cast<long>(XmTextGetLastPosition(text));
}

constexpr int operators = 10000;
constexpr int messages = 10000;
constexpr int handler_calls = 10000;
constexpr int startup_runs = 31;

// List with the table full: from the press to the pane filled and drawn.
std::vector<double> list_run()
{
    std::vector<double> ms;
    for (int i = 0; i < 3; ++i) {
        auto start = Clock::now();
        press(db_list_b);
        drain();
        ms.push_back(ms_between(start, Clock::now()));
        // "Operator: " name padded to 5, five blanks, "Password: pw", LF.
        if (length(db_list_t) != operators * 33L)
            die("the list pane does not hold every operator");
    }
    return {median(ms)};
}

// Time per message, drawn, over the first and the last thousand: the median
// of each thousand, so that another process taking the CPU for a moment
// does not count.
std::vector<double> message_run()
{
    std::vector<double> first, last;
    for (int i = 0; i < messages; ++i) {
        auto start = Clock::now();
        db_print_msg("Operator %s was not found.\n", "o0001");
        drain();
        double us = 1000 * ms_between(start, Clock::now());
        if (i < 1000)
            first.push_back(us);
        if (i >= messages - 1000)
            last.push_back(us);
    }
    return {median(first), median(last)};
}

// Every handler in turn, 10,000 calls in all; resident size before and
// after, and how much text the panes gained meanwhile.
std::vector<double> handler_run()
{
    const std::vector<std::function<void()>> handlers{
        [] { activate(db_targ_press_kpa); },
        [] { activate(db_vac_press_torr); },
        [] { activate(db_act_unit_MBq); },
        [] { activate(db_flow_unit_sccm); },
        [] { activate(db_print_OFF); },
        [] { press(db_list_b); },
        [] { put(db_opname_i, "op1"); put(db_pwd_i, "pw"); press(db_add_b); },     // present: two lines
        [] { put(db_opname_i, "nobod"); press(db_remove_b); },                     // absent: one line
        [] { press(db_read_conf_pwd_b); },
        [] { put(db_conf_pwd_i, "secret"); press(db_conf_pwd_b); },                // one line
        [] { activate(db_save_b); },
        [] { activate(db_gas_mix_b); },
        [] { activate(db_gas_mix_save_b); },
        [] { press(db_help_b); },
    };
    // One round first: what a handler allocates on its first call (the
    // help text, a dialog's windows, the toolkit's caches) is not growth.
    for (const auto &handler : handlers) {
        handler();
        drain();
    }
    long rss_before = rss_kb(0);
    long text_before = length(db_msg_t) + length(db_list_t) + length(db_help_t);
    for (int i = 0; i < handler_calls; ++i) {
        handlers[static_cast<std::size_t>(i) % handlers.size()]();
        drain();
    }
    long text_after = length(db_msg_t) + length(db_list_t) + length(db_help_t);
    return {static_cast<double>(rss_before), static_cast<double>(rss_kb(0)),
            static_cast<double>(text_after - text_before)};
}

void row(const char *what, const std::string &measured, const std::string &floor, const char *floor_is, double ratio)
{
    std::printf("| %-52s | %11s | %11s | %-42s | %6.2f |\n", what, measured.c_str(), floor.c_str(), floor_is, ratio);
}

std::string fixed(double v, const char *unit, int decimals = 1)
{
    char s[64];
    std::snprintf(s, sizeof s, "%.*f %s", decimals, v, unit);
    return s;
}

} // namespace

int main()
{
    if (!std::getenv("DISPLAY") || !std::getenv("PGHOST"))
        die("run me through scripts/bench.sh (make bench)");
    sql("truncate parameters, operator_list;"
        "insert into parameters values (35, 80, '1', '1', '1', '1', '1', 365, 90, 31, 180, '}km|kz');"
        "insert into operator_list values ('op1', '~y'), ('op2', '~y'), ('op3', '~y')");
    {
        std::ofstream graph("/home/Kelvaron/graph/graph.def");
        graph << "PRESSURE_UNITS bar\nFLOW_UNITS sccm\n";
    }

    Display *d = XOpenDisplay(nullptr);
    if (!d)
        die("cannot open the display");
    // Interleaved, the order swapped every run, so that what else the
    // machine does falls on both alike.
    std::fprintf(stderr, "bench: start-up, %d runs each...\n", startup_runs);
    std::vector<double> program_ms, floor_ms, program_rss, floor_rss;
    for (int i = 0; i < startup_runs; ++i) {
        Launch p{}, f{};
        if (i % 2) {
            f = launch(d, MOTIF_FLOOR_BIN);
            p = launch(d, PARAM_CONFIG_BIN);
        } else {
            p = launch(d, PARAM_CONFIG_BIN);
            f = launch(d, MOTIF_FLOOR_BIN);
        }
        program_ms.push_back(p.ms);
        program_rss.push_back(static_cast<double>(p.rss));
        floor_ms.push_back(f.ms);
        floor_rss.push_back(static_cast<double>(f.rss));
    }

    std::fprintf(stderr, "bench: %d handler calls...\n", handler_calls);
    std::vector<double> handlers = in_program(handler_run);

    std::fprintf(stderr, "bench: %d messages...\n", messages);
    std::vector<double> pane = in_program(message_run);

    std::fprintf(stderr, "bench: List with %d operators...\n", operators);
    sql("truncate operator_list;"
        "insert into operator_list select 'o' || lpad(i::text, 4, '0'), '~y' from generate_series(0, " +
        std::to_string(operators - 1) + ") i");
    std::vector<double> list = in_program(list_run);
    std::vector<double> fetch_ms;
    for (int i = 0; i < 3; ++i)
        fetch_ms.push_back(fetch_loop_ms());
    std::vector<double> psql_ms;
    for (int i = 0; i < 5; ++i)
        psql_ms.push_back(run_ms({"psql", "-X", "-A", "-t", "-q", "-d", "kelvaron", "-c",
                                  "select operator, password from operator_list"}));

    double start_p = median(program_ms), start_f = median(floor_ms);
    double rss_p = median(program_rss) / 1024, rss_f = median(floor_rss) / 1024;
    double growth = (handlers[1] - handlers[0]), text_kb = handlers[2] / 1024;
    std::printf("| %-52s | %11s | %11s | %-42s | %6s |\n", "figure", "measured", "floor", "floor is", "ratio");
    std::printf("|%s|%s|%s|%s|%s|\n", std::string(54, '-').c_str(), std::string(13, '-').c_str(),
                std::string(13, '-').c_str(), std::string(44, '-').c_str(), std::string(8, '-').c_str());
    row("start-up, exec to main window mapped (median of 31)", fixed(start_p, "ms"), fixed(start_f, "ms"),
        "minimal Motif program + one select", start_p / start_f);
    row("List, 10,000 operators, press to pane drawn", fixed(list[0], "ms"), fixed(median(psql_ms), "ms"),
        "psql fetching the same rows", list[0] / median(psql_ms));
    row("List, the same", fixed(list[0], "ms"), fixed(median(fetch_ms), "ms"),
        "one FETCH per row over bare libpq", list[0] / median(fetch_ms));
    row("message pane, per message, last 1,000 of 10,000", fixed(pane[1], "us", 0), fixed(pane[0], "us", 0),
        "the same, first 1,000", pane[1] / pane[0]);
    row("resident memory after start-up", fixed(rss_p, "MB"), fixed(rss_f, "MB"), "minimal Motif program",
        rss_p / rss_f);
    row("resident growth over 10,000 more handler calls", fixed(growth, "kB", 0), fixed(text_kb, "kB", 0),
        "text the panes gained", growth / text_kb);
    // XmText keeps a character in 4 bytes where the locale's characters
    // take several, so the last row depends on it.
    const char *ctype = std::setlocale(LC_CTYPE, "");
    std::printf("(LC_CTYPE %s)\n", ctype ? ctype : "?");
    return 0;
}
