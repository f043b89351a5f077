#include "keeper.h"

#include "console.h"
#include "display.h"
#include "journal.h"
#include "notice.h"

#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// A console showing its window within the launcher's bound is kept; one
// still starting after it is kept as it is. The launcher's lock is held no
// longer than this at a time, inside the time a pick waits for it.
const int start_ms = 1000 * seconds("PARAM_CONFIG_SHOW_SECONDS", 20);

enum class State {
    starting,  // a console started, its main window not shown yet
    watching,  // a console kept: its end, its database connection, its answers to pings
    ending,    // its connection ended: TERM sent, KILL when the deadline passes
    replacing, // waiting for the launcher's lock to start another
    waiting,   // the database was not back: a pause before the next try
    lingering, // nothing left to keep: the notice stands until closed
    done,
};
enum class Event { ended, hangup, display, deadline, tick };

struct Keeper {
    explicit Keeper(Display *display) : d(display) {}
    Display *d;
    char **args = nullptr; // the program's, then with the old window's place
    int argc = 0;
    char option[10] = "-geometry", place[32] = "";
    int report = -1;       // the launcher's pipe, until it is told
    Console c;
    Window main = None, self = None;
    Atom lock = None, ping = None;
    Notice notice{d};
    State state = State::starting;
    long deadline = -1, next_ping = 0, stuck_since = -1;
    bool locked = false, unkept = false, killed = false, shown = false, gave_up = false;
    pid_t pid = 0;       // the console's, kept for what is said once it is reaped
    pid_t old = 0;       // the console being replaced
    int x = 0, y = 0;    // where its window stood
    long cut_at = 0;     // when its connection ended
    int status = 0;      // the last console's wait status
    int code = 0;        // what the keeper exits with
    int misses = 0;      // tries that found the database not back
    int frozen_ms = 1000 * seconds("PARAM_CONFIG_FROZEN_SECONDS", 20);
    int retry_ms = 1000 * seconds("PARAM_CONFIG_RETRY_SECONDS", 120);
};

const char ended[] = "The connection to the database had ended.\n";
const char again[] = "Anything typed and not yet stored must be entered again.\n";
const char close_it[] = "Click here or press a key to close this notice.";

void tell(Keeper &k, const char *first, const char *last = "")
{
    char text[768];
    std::snprintf(text, sizeof text, "%s%s%s%s", k.old ? ended : "", first, k.old ? again : "", last);
    k.notice.show(text, k.x + 20, k.y + 40);
}

void enter(Keeper &k, State s, long ms)
{
    k.state = s;
    k.deadline = ms < 0 ? -1 : now_ms() + ms;
}

// The launcher learns how the first start went; a launcher gone meanwhile
// changes nothing for the console.
void tell_launcher(Keeper &k, int status)
{
    if (k.report < 0)
        return;
    unsigned char byte = static_cast<unsigned char>(status);
    check(write(k.report, &byte, 1) == 1, "tell the launcher how the console started");
    check(close(k.report) == 0, "close the launcher's pipe");
    k.report = -1;
}

void release_lock(Keeper &k)
{
    if (!k.locked)
        return;
    // Only a lock this keeper holds is let go, never a launcher's.
    XGrabServer(k.d);
    if (XGetSelectionOwner(k.d, k.lock) == k.self)
        XSetSelectionOwner(k.d, k.lock, None, CurrentTime);
    XUngrabServer(k.d);
    XSync(k.d, False);
    k.locked = false;
}

// Starts a console; false if it could not be started at all, which is no
// sign of the database. How it ends before it shows comes as an event.
bool bring_up(Keeper &k)
{
    if (!start_console(k.c, k.args))
        return say(LOG_ERR, "unable to start %s: %s", k.args[0], std::strerror(errno));
    k.main = None, k.unkept = false, k.stuck_since = -1, k.pid = k.c.pid;
    enter(k, State::starting, start_ms);
    return true;
}

// `database`: it was not back in time; otherwise the program itself could not start.
void give_up(Keeper &k, bool database)
{
    release_lock(k);
    say(LOG_ERR, "gave up after %ld s: %s; no console was started in place of %d", (now_ms() - k.cut_at) / 1000,
        database ? "the database did not come back" : "the program could not start", static_cast<int>(k.old));
    char text[256];
    if (database)
        std::snprintf(text, sizeof text, "The database did not come back within %d seconds: no new console was "
                      "started.\nChoose Parameter configuration from the menu again once it is back.\n",
                      k.retry_ms / 1000);
    else
        std::snprintf(text, sizeof text, "Parameter configuration could not be started again.\nChoose it from the "
                      "menu again.\n");
    tell(k, text, close_it);
    k.gave_up = true;
    enter(k, State::lingering, -1);
}

// Its main window shows: it is watched from now on, if this system lets the
// keeper take duplicates of its sockets; if not, it runs unkept, and the
// supervisor and the log are told once.
void take(Keeper &k)
{
    Sockets s = k.c.pidfd < 0 ? Sockets::refused : take_sockets(k.c);
    if (s != Sockets::refused || k.unkept)
        return;
    k.unkept = true;
    if (k.c.pidfd >= 0) // a pidfd that could not be opened was said at the start
        say(LOG_WARNING, "pidfd_getfd refused for console %d: its database connection is not watched, it runs unkept",
            static_cast<int>(k.pid));
    frame_origin(k.d, k.main, k.x, k.y);
    // Closing its window only hides it, and a pick shows it again: ending it is the way out.
    k.notice.show("This system does not let the launcher watch the console's database connection:\nif that "
                  "connection ends, the console is not started again by itself and stores nothing.\nEnd it (log out "
                  "and in again) and choose Parameter configuration from the menu.\n"
                  "Click here or press a key to close this notice.", k.x + 20, k.y + 40);
}

void kept(Keeper &k)
{
    take(k);
    tell_launcher(k, 0);
    release_lock(k);
    if (k.old) {
        say(LOG_NOTICE, "console %d shown in place of %d, %.2f s after its connection ended",
            static_cast<int>(k.pid), static_cast<int>(k.old), (now_ms() - k.cut_at) / 1000.0);
        tell(k, "Parameter configuration was started again and shows the values stored in the database.\n", close_it);
    } else {
        say(LOG_INFO, "console %d started on %s and kept", static_cast<int>(k.pid), DisplayString(k.d));
    }
    k.old = 0;
    enter(k, State::watching, -1);
}

// Its connection has ended: what the supervisor had in front of them decides what comes next.
void cut(Keeper &k, const char *how)
{
    say(LOG_WARNING, "console %d: %s", static_cast<int>(k.pid), how);
    k.shown = k.main && viewable(k.d, k.main);
    if (k.main)
        frame_origin(k.d, k.main, k.x, k.y);
    k.old = k.pid, k.cut_at = now_ms(), k.killed = false, k.misses = 0;
    // A held duplicate would keep a dead console's connections open.
    check(k.c.db < 0 || close(k.c.db) == 0, "close the console's database socket");
    check(k.c.x < 0 || close(k.c.x) == 0, "close the console's X socket");
    k.c.db = k.c.x = -1;
    check(signal_console(k.c, SIGTERM), "end the console");
    enter(k, State::ending, 500);
}

void look(Keeper &k)
{
    k.main = k.main ? k.main : find_main_window(k.d, k.c.pid);
    if (!k.main || !viewable(k.d, k.main))
        return;
    if (k.state == State::starting)
        return kept(k);
    // Kept while still starting: watched once it shows.
    take(k);
    if (k.c.x >= 0 && k.c.db < 0)
        cut(k, "it holds no database connection");
}

// Frozen on the database: X input stays unread for longer than the bound
// while nothing is waiting to be read from the server. A harmless message
// goes to its window every second, and a console that answers reads it at once.
void ping(Keeper &k)
{
    long now = now_ms();
    k.next_ping = now + 1000;
    int unread = 0, answer = 0;
    if (!check(ioctl(k.c.x, FIONREAD, &unread) == 0 && ioctl(k.c.db, FIONREAD, &answer) == 0,
               "see what the console has not read"))
        return;
    if (unread == 0 || answer > 0)
        k.stuck_since = -1;
    else if (k.stuck_since < 0)
        k.stuck_since = now;
    else if (now - k.stuck_since > k.frozen_ms) {
        char how[64];
        std::snprintf(how, sizeof how, "frozen on its database for %ld s", (now - k.stuck_since) / 1000);
        return cut(k, how);
    }
    XEvent e{};
    e.xclient.type = ClientMessage;
    e.xclient.window = k.main;
    e.xclient.message_type = k.ping;
    e.xclient.format = 32;
    check(XSendEvent(k.d, k.main, False, NoEventMask, &e) != 0, "ping the console");
}

void try_again(Keeper &k)
{
    if (now_ms() - k.cut_at >= k.retry_ms)
        return give_up(k, true);
    if (!k.locked && !(k.locked = take_lock(k.d, k.self, k.lock)))
        return enter(k, State::replacing, 100);
    // A pick from the menu may have started one meanwhile, kept by its own keeper.
    if (Window w = find_main_window(k.d)) {
        release_lock(k);
        say(LOG_NOTICE, "console %d, started from the menu, stands in place of %d: none is started here",
            static_cast<int>(client_pid(k.d, w)), static_cast<int>(k.old));
        tell(k, "Parameter configuration was started from the menu meanwhile.\n", close_it);
        return enter(k, State::lingering, -1);
    }
    if (!bring_up(k))
        give_up(k, false);
}

// What each event does in each state.
void step(Keeper &k, Event e)
{
    switch (k.state) {
    case State::starting:
        if (e == Event::ended) {
            int code = WIFEXITED(k.status) ? WEXITSTATUS(k.status) : 128 + WTERMSIG(k.status);
            if (!k.old) {
                say(LOG_ERR, "console %d exited %d before its window showed", static_cast<int>(k.pid), code);
                tell_launcher(k, k.code = code);
                return enter(k, State::done, -1);
            }
            release_lock(k);
            if (code != 1) // 1: the database could not be opened; anything else is no outage
                return give_up(k, false);
            if (k.misses++ == 0) // once an outage
                say(LOG_WARNING, "database not back yet for the console in place of %d; trying again for up to "
                    "%d s", static_cast<int>(k.old), k.retry_ms / 1000);
            tell(k, "Waiting for the database to come back...\n");
            // A restart is over within a second, a takeover may take a minute.
            return enter(k, State::waiting, now_ms() - k.cut_at < 5000 ? 250 : 2000);
        }
        if (e == Event::deadline) {
            say(LOG_NOTICE, "console %d still starting after %d s: kept as it is", static_cast<int>(k.pid),
                start_ms / 1000);
            tell_launcher(k, not_shown);
            release_lock(k);
            return enter(k, State::watching, -1);
        }
        return look(k);
    case State::watching:
        if (e == Event::ended) {
            say(LOG_NOTICE, "console %d ended from outside (wait status %d): nothing left to keep",
                static_cast<int>(k.pid), k.status);
            return enter(k, State::done, -1);
        }
        if (e == Event::hangup) {
            int err = 0;
            socklen_t len = sizeof err;
            getsockopt(k.c.db, SOL_SOCKET, SO_ERROR, &err, &len);
            char how[128];
            std::snprintf(how, sizeof how, "its database connection %s%s", err ? "failed: " : "was closed by the server",
                          err ? std::strerror(err) : "");
            return cut(k, how);
        }
        if (!k.main || (k.c.x < 0 && !k.unkept))
            return look(k);
        if (!k.unkept && now_ms() >= k.next_ping)
            ping(k);
        return;
    case State::ending:
        if (e == Event::ended) {
            say(LOG_NOTICE, "console %d ended%s; %s", static_cast<int>(k.old), k.killed ? " once killed" : "",
                k.shown ? "starting another in its place" : "it was hidden, so none is started in its place");
            if (!k.shown)
                return enter(k, State::done, -1);
            std::snprintf(k.place, sizeof k.place, "+%d+%d", k.x, k.y);
            k.args[k.argc] = k.option, k.args[k.argc + 1] = k.place;
            tell(k, "Starting Parameter configuration again...\n");
            return try_again(k);
        }
        if (e == Event::deadline && !k.killed) {
            k.killed = true;
            check(signal_console(k.c, SIGKILL), "kill the console");
            return enter(k, State::ending, 2000);
        }
        if (e == Event::deadline) {
            say(LOG_ERR, "unable to end console %d: it outlived KILL", static_cast<int>(k.old));
            return enter(k, State::done, -1);
        }
        return;
    case State::replacing:
    case State::waiting:
        if (e == Event::deadline)
            try_again(k);
        return;
    case State::lingering:
        // After giving up, a console a pick started shows the notice is out of date.
        if (!k.notice.open() || (k.gave_up && e == Event::display && find_main_window(k.d)))
            enter(k, State::done, -1);
        return;
    case State::done:
        return;
    }
}

} // namespace

int keep(Display *d, char **argv, int report)
{
    Keeper k(d);
    k.report = report;
    check(signal(SIGPIPE, SIG_IGN) != SIG_ERR, "ignore SIGPIPE");
    while (argv[k.argc])
        ++k.argc;
    // Room for the old window's place.
    k.args = static_cast<char **>(std::calloc(static_cast<size_t>(k.argc) + 3, sizeof(char *)));
    if (!check(k.args != nullptr, "allocate the program's arguments"))
        return tell_launcher(k, 1), 1;
    std::memcpy(k.args, argv, sizeof(char *) * static_cast<size_t>(k.argc));
    Window root = DefaultRootWindow(d);
    k.self = XCreateWindow(d, root, 0, 0, 1, 1, 0, 0, InputOnly, CopyFromParent, 0, nullptr);
    k.lock = XInternAtom(d, "_PARAM_CONFIG_LAUNCH", False);
    k.ping = XInternAtom(d, "_PARAM_CONFIG_KEEPER_PING", False);
    // Windows mapped and restacked: a console showing, or one over the notice.
    XSelectInput(d, root, SubstructureNotifyMask);
    if (!check(k.lock != None && k.ping != None, "intern the launcher's atoms") || !bring_up(k))
        return tell_launcher(k, 1), 1;
    while (k.state != State::done) {
        Event e = Event::tick;
        while (k.state != State::done && XPending(d)) {
            XEvent x;
            XNextEvent(d, &x);
            k.notice.handle(x);
            step(k, Event::display);
        }
        if (k.state == State::done)
            break;
        // Periodic looks: for a starting console's window, at a watched one
        // (pings), and at a child without a pidfd, which only waitpid can see end.
        long now = now_ms(), wake = k.deadline;
        auto at = [&](long t) { wake = wake < 0 ? t : std::min(wake, t); };
        if (k.state == State::starting || (k.state == State::watching && (!k.main || (k.c.x < 0 && !k.unkept))))
            at(now + 100);
        else if (k.state == State::watching && !k.unkept)
            at(k.next_ping);
        if (k.c.pid && k.c.pidfd < 0)
            at(now + 200);
        pollfd p[3] = {{k.c.pidfd, POLLIN, 0}, {k.c.db, POLLRDHUP, 0}, {ConnectionNumber(d), POLLIN, 0}};
        int n = poll(p, 3, wake < 0 ? -1 : static_cast<int>(std::max(0L, wake - now)));
        if (n < 0 && !check(errno == EINTR, "wait for the console"))
            break;
        if (k.c.pid && (p[0].revents || k.c.pidfd < 0) && reaped(k.c, k.status))
            e = Event::ended;
        else if (p[1].revents)
            e = Event::hangup;
        else if (k.deadline >= 0 && now_ms() >= k.deadline)
            e = Event::deadline;
        step(k, e);
    }
    release_lock(k);
    k.notice.close();
    if (k.c.pid)
        release_console(k.c);
    tell_launcher(k, 1);
    std::free(k.args);
    return k.code;
}
