// param-config-launch: what the menu entry starts. The program has no quit
// command and closing its window only hides it, so a second start from the
// menu would leave the first one behind, hidden, holding its database
// connection. The launcher shows the main window of the program already
// running on its display, hidden or not, and starts the program only when
// there is none. Two launches at once start one program.
//
// The program never connects again once its connection has ended, and then
// stores nothing while it goes on saying what it would have stored. So the
// program the launcher starts is kept: a keeper process stays as its parent,
// watches its connection, and replaces a console whose connection ended.
//
// Every wait is bounded, whatever the X server does. While another client
// holds the server grabbed (a window manager placing a window by hand does)
// every request of the launcher's blocks: a watchdog ends it past its bound.
// Exit statuses: 0 the window shows; 2 no console could be started; 3 the X
// server did not answer; 4 another launch held the lock; 5 the window did
// not show in time; 255 no display; and any other is the program's own (1:
// it could not open the database).
#include "console.h"
#include "display.h"
#include "journal.h"
#include "keeper.h"
#include "service.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// Says why on standard error and in the journal; returns `status` to exit with.
template <class... Args> int give_up(int status, const char *format, Args... args)
{
    say(LOG_WARNING, format, args...);
    return status;
}

// The watchdog: a timer whose expiry runs in a thread of its own, which may
// say why and end the process however long Xlib blocks the launcher's own.
timer_t watchdog;
bool watching;
std::atomic<int> bound;
std::atomic<const char *> doing;

void expired(sigval)
{
    _exit(give_up(server_held, "the X server did not answer within %d s while the launcher %s; another client may "
                  "hold it, as a window manager does while a window is placed by hand", bound.load(), doing.load()));
}

// From now on the launcher is `what`, for `s` seconds: returns when its own
// wait ends. The watchdog gives it a quarter of a second more, so that a wait
// that ends by itself says what it waited for.
long guard(int s, const char *what)
{
    const itimerspec off{}, on{{0, 0}, {s, 250000000}};
    bound = s, doing = what;
    if (watching && (timer_settime(watchdog, 0, &off, nullptr) != 0 || timer_settime(watchdog, 0, &on, nullptr) != 0))
        say(LOG_WARNING, "can't set its watchdog: %s", std::strerror(errno));
    return now_ms() + 1000L * s;
}

// The program takes the display from -display or any abbreviation of it; the
// launcher looks on the same one.
const char *display_argument(int argc, char **argv)
{
    for (int i = 1; i + 1 < argc; ++i)
        if (std::strlen(argv[i]) >= 2 && std::strncmp(argv[i], "-display", std::strlen(argv[i])) == 0)
            return argv[i + 1];
    return nullptr;
}

// A console whose database connection has ended is never shown: it is ended
// and a new one started. One this launcher may not look into is shown.
bool connection_lost(Display *d, Window w)
{
    Console c;
    pid_t pid = client_pid(d, w);
    if (!pid || !hold_console(c, pid))
        return false;
    bool lost = watch_sockets(c) && c.x >= 0 && connection_ended(c);
    if (lost)
        end_console(c), say(LOG_NOTICE, "console %d on %s ended: its database connection had ended",
                            static_cast<int>(pid), DisplayString(d));
    else
        release_console(c);
    return lost;
}

// The program installed beside the launcher.
bool program_path(char *program, size_t size)
{
    char exe[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (n <= 0)
        return false;
    exe[n] = '\0';
    char *slash = std::strrchr(exe, '/');
    if (!slash)
        return false;
    *slash = '\0';
    return std::snprintf(program, size, "%s/param-config", exe) < static_cast<int>(size);
}

// The keeper, a process of its own with a connection of its own, starts the
// program; the launcher holds its lock until the keeper reports the window
// shown or the program ended, at the latest until `until`, and exits with the
// status the keeper reports.
int start_kept(Display *d, int argc, char **argv, long until)
{
    static char program[PATH_MAX + 16];
    if (!program_path(program, sizeof program))
        return give_up(not_started, "can't find where it is installed: %s", std::strerror(errno));
    choose_service();
    int report[2];
    if (pipe2(report, O_CLOEXEC) != 0)
        return give_up(not_started, "can't start a keeper: %s", std::strerror(errno));
    std::fflush(nullptr);
    pid_t keeper = fork();
    if (keeper == 0) {
        // The X error handlers are the launcher's, already in place.
        close(ConnectionNumber(d)), close(report[0]);
        Display *own = XOpenDisplay(display_argument(argc, argv));
        if (!own)
            _exit(255);
        if (fcntl(ConnectionNumber(own), F_SETFD, FD_CLOEXEC) != 0)
            say(LOG_WARNING, "the console inherits its keeper's X connection: %s", std::strerror(errno));
        argv[0] = program;
        _exit(keep(own, argv, report[1]));
    }
    if (keeper < 0)
        return give_up(not_started, "can't start a keeper: %s", std::strerror(errno));
    close(report[1]);
    pollfd p{report[0], POLLIN, 0};
    const long left = until - now_ms();
    const int ready = poll(&p, 1, left > 0 ? static_cast<int>(left) : 0);
    unsigned char status = 0;
    if (ready == 0)
        return give_up(not_shown, "the console's window did not show within %d s; it goes on starting under its keeper",
                       bound.load());
    if (ready < 0 || read(report[0], &status, 1) != 1)
        return give_up(not_started, "the keeper (%d) ended before the program started", static_cast<int>(keeper));
    return status;
}

} // namespace

int main(int argc, char **argv)
{
    // The keeper, forked from here, logs under the same name with its own pid.
    openlog("param-config-launch", LOG_PID, LOG_USER);
    const int lock_s = seconds("PARAM_CONFIG_LOCK_SECONDS", 30), show_s = seconds("PARAM_CONFIG_SHOW_SECONDS", 20);
    sigevent expiry{};
    expiry.sigev_notify = SIGEV_THREAD;
    expiry.sigev_notify_function = expired;
    watching = timer_create(CLOCK_MONOTONIC, &expiry, &watchdog) == 0;
    if (!watching)
        say(LOG_WARNING, "can't set its watchdog: %s", std::strerror(errno));
    const long lock_until = guard(lock_s, "waited for its lock");
    Display *d = XOpenDisplay(display_argument(argc, argv));
    if (!d) {
        say(LOG_WARNING, "can't open display");
        return 255;
    }
    // The lock lasts as long as this connection: the program must not inherit it.
    if (fcntl(ConnectionNumber(d), F_SETFD, FD_CLOEXEC) != 0)
        return give_up(not_started, "can't keep its X connection from the console: %s", std::strerror(errno));
    ignore_vanished_windows(d);
    Window root = DefaultRootWindow(d);
    Window self = XCreateWindow(d, root, 0, 0, 1, 1, 0, 0, InputOnly, CopyFromParent, 0, nullptr);
    Atom lock = XInternAtom(d, "_PARAM_CONFIG_LAUNCH", False);
    // A holder is done within the bound on a window showing, a keeper between
    // two attempts at starting its console again. One holding it longer is
    // stuck, and whatever it was about to start could stand beside what this
    // one would: this one starts nothing.
    while (!take_lock(d, self, lock)) {
        if (now_ms() >= lock_until)
            return give_up(lock_held, "another launch, or a keeper starting its console again, held the lock for %d s; "
                           "nothing was started", lock_s);
        usleep(50000);
    }
    const long until = guard(show_s, "showed or started the console");
    Window w = find_main_window(d);
    int status = 0;
    if (w && !connection_lost(d, w)) {
        if (!show(d, w, static_cast<int>((until - now_ms()) / 1000)))
            return give_up(not_shown, "the console's window did not show within %d s", show_s);
    } else
        status = start_kept(d, argc, argv, until);
    // Closing waits for the server once more: a launcher that showed no
    // window leaves its connection to its exit.
    if (status == 0)
        XCloseDisplay(d);
    return status;
}
