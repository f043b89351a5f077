#include "testbed.h"

#include "owners.h"

#include <X11/extensions/XTest.h>
#include <X11/IntrinsicP.h>
#include <Xm/Text.h>
#include <fcntl.h>
#include <libpq-fe.h>
#include <sched.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <iterator>
#include <regex>
#include <thread>
#include <utility>
#include <vector>

namespace testbed {

std::string sql(const std::string &statements, const char *user)
{
    // The superuser's session is kept, one per process: a forked child opens
    // its own rather than share its parent's socket. They live as long as
    // their process.
    static auto &kept = *new std::vector<std::pair<pid_t, PGconn *>>;
    auto connect = [](const char *role) {
        return PQconnectdb(("dbname=kelvaron application_name=testbed user=" + std::string(role)).c_str());
    };
    if (!user && (kept.empty() || kept.back().first != getpid()))
        kept.emplace_back(getpid(), connect(std::getenv("TESTBED_SUPERUSER")));
    PGconn *conn = user ? connect(user) : kept.back().second;
    PGresult *res = PQexec(conn, statements.c_str());
    if (PQstatus(conn) == CONNECTION_BAD) // the server was restarted under it
        PQclear(res), PQreset(conn), res = PQexec(conn, statements.c_str());
    std::string out;
    for (int i = 0; i < PQntuples(res); ++i)
        for (int j = 0; j < PQnfields(res); ++j)
            out += (j ? "|" : i ? "\n" : "") + std::string(PQgetvalue(res, i, j));
    if (const char *state = PQresultErrorField(res, PG_DIAG_SQLSTATE))
        out = std::string("ERROR ") + state;
    PQclear(res);
    if (user)
        PQfinish(conn);
    return out;
}

std::string reset_database(const std::string &then)
{
    return sql("truncate parameters, operator_list; insert into parameters values "
               "(35, 80, '1', '1', '1', '1', '1', 365, 90, 31, 180, '}km|kz'); " + then); // "secret" XOR 0x0E
}

long log_size() { return static_cast<long>(std::ifstream(std::getenv("TESTBED_PG_LOG"), std::ios::ate).tellg()); }

std::string statements_since(long from)
{
    std::ifstream log(std::getenv("TESTBED_PG_LOG"));
    log.seekg(from);
    const std::string mark = std::string(program_app) + "|LOG:  ";
    std::string out;
    for (std::string line; std::getline(log, line);)
        if (line.starts_with(mark))
            out += line.substr(line.find(": ", mark.size()) + 2) + "\n";
    // The preprocessor's spacing is its own: runs of blanks read as one.
    return std::regex_replace(std::regex_replace(out, std::regex(" +"), " "), std::regex(" \n"), "\n");
}

std::string read_file(const std::string &path)
{
    std::ifstream f(path, std::ios::binary);
    return f ? std::string(std::istreambuf_iterator<char>(f), {}) : "<none>";
}

void with_program(const std::function<void()> &body, const std::vector<std::string> &env)
{
    std::fflush(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        alarm(100); // a child that hangs is ended, and fails
        XtSetWarningHandler([](String message) { ADD_FAILURE() << "toolkit warning: " << message; });
        setenv("PGUSER", clerk, 1), setenv("PGAPPNAME", program_app, 1);
        for (std::size_t i = 0; i + 1 < env.size(); i += 2)
            setenv(env[i].c_str(), env[i + 1].c_str(), 1);
        if (const char *net = std::getenv("TESTBED_JOIN_NET")) // joined before the connect, or it fails
            setns(open(net, O_RDONLY | O_CLOEXEC), CLONE_NEWNET);
        // A menu takes a release within the multi-click time as part of the
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
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_EQ(status, 0) << "the program's checks failed (see above), or it died";
}

Subreaper::Subreaper() { EXPECT_EQ(prctl(PR_SET_CHILD_SUBREAPER, 1), 0); }
Subreaper::~Subreaper() { end(), prctl(PR_SET_CHILD_SUBREAPER, 0); }
std::string Subreaper::children(int pid)
{
    const std::string p = std::to_string(pid ? pid : getpid());
    return read_file("/proc/" + p + "/task/" + p + "/children");
}
void Subreaper::end() const
{
    while (int pid = std::atoi(children().c_str()))
        kill(pid, SIGKILL), waitpid(pid, nullptr, 0);
}

bool pump_until(const std::function<bool()> &done, int timeout_ms)
{
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (!done() && std::chrono::steady_clock::now() < deadline) {
        XFlush(display);
        while (XtAppPending(app_context))
            XtAppProcessEvent(app_context, XtIMAll);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return done();
}

static void pump(int ms) { pump_until([] { return false; }, ms); }

bool viewable(Widget w)
{
    XWindowAttributes a;
    return XtIsRealized(w) && XGetWindowAttributes(display, XtWindow(w), &a) && a.map_state == IsViewable;
}

void press(Widget w, unsigned int button)
{
    int x, y;
    Window child;
    XTranslateCoordinates(display, XtWindow(w), DefaultRootWindow(display), w->core.width / 2, w->core.height / 2,
                          &x, &y, &child);
    XTestFakeMotionEvent(display, DefaultScreen(display), x, y, CurrentTime), pump(5);
    XTestFakeButtonEvent(display, button, True, CurrentTime), pump(25);
}

void release(unsigned int button) { XTestFakeButtonEvent(display, button, False, CurrentTime), pump(25); }

void click(Widget w) { press(w), release(); }

void drag(Widget scale, bool right)
{
    press(XtNameToWidget(scale, "Scrollbar"), 2); // the thumb jumps to the pointer and follows it
    XTestFakeMotionEvent(display, DefaultScreen(display), right ? DisplayWidth(display, 0) - 1 : 0, 0, CurrentTime);
    pump(25), release(2);
}

// The window manager's frame around a shell: its window's ancestor just below the root.
static Window frame_of(Widget w)
{
    Window window = XtWindow(w), root, parent, *children;
    unsigned int count;
    while (XQueryTree(display, window, &root, &parent, &children, &count) && (XFree(children), parent != root))
        window = parent;
    return window;
}

bool above(Widget a, Widget b)
{
    Window root, parent, *frames;
    unsigned int count;
    XQueryTree(display, DefaultRootWindow(display), &root, &parent, &frames, &count); // bottom to top
    bool out = std::find(frames, frames + count, frame_of(a)) > std::find(frames, frames + count, frame_of(b));
    XFree(frames);
    return out;
}

void type(Widget field, const std::string &text)
{
    put(field, ""), click(field);
    for (unsigned char c : text) { // printable Latin-1 keysyms are the characters
        XTestFakeKeyEvent(display, XKeysymToKeycode(display, c), True, CurrentTime);
        XTestFakeKeyEvent(display, XKeysymToKeycode(display, c), False, CurrentTime), pump(3);
    }
}

void choose(Widget cascade, Widget entry)
{
    click(cascade);
    ASSERT_TRUE(pump_until([&] { return viewable(entry); })) << XtName(cascade) << " posted no pulldown";
    click(entry);
    ASSERT_TRUE(pump_until([&] { return !viewable(entry); })) << XtName(entry) << " left its pulldown posted";
}

void open_gas()
{
    click(db_gas_mix_b);
    EXPECT_TRUE(pump_until([] { return viewable(db_gas_mix_save_b); }));
}

void save_gas() { open_gas(), click(db_gas_mix_save_b); }

bool inked(Widget w)
{
    // Its first line's start: a dialog may stand over the rest.
    XImage *image = XGetImage(display, XtWindow(w), 0, 0, std::min<int>(w->core.width, 200),
                              std::min<int>(w->core.height, 24), AllPlanes, ZPixmap);
    int ink = 0;
    for (int y = 0; y < image->height; ++y)
        for (int x = 0; x < image->width; ++x)
            ink += XGetPixel(image, x, y) == BlackPixel(display, DefaultScreen(display));
    XDestroyImage(image);
    return ink > 40; // more than a cursor's worth
}

std::string text(Widget w) { return get_text(w).get(); }

void put(Widget w, const std::string &text) { XmTextSetString(w, const_cast<char *>(text.c_str())); }

std::vector<std::string> sliders()
{
    std::vector<std::string> shown;
    for (Widget w : {db_gas_mix_i, db_gas_pressure_i, db_tracer_save_i, db_err_save_i, db_net_save_i, db_oper_save_i}) {
        int value = 0;
        short decimals = 0;
        Boolean show = False;
        XtVaGetValues(w, XmNvalue, &value, XmNdecimalPoints, &decimals, XmNshowValue, &show, nullptr);
        std::string s = std::to_string(value);
        shown.push_back(!show ? "" : decimals ? s.insert(s.size() - decimals, ".") : s);
    }
    return shown;
}

} // namespace testbed
