#include "keeper.h"

#include "console.h"
#include "display.h"
#include "notice.h"

#include <poll.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <time.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

long now_ms()
{
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec * 1000 + t.tv_nsec / 1000000;
}

// A bound in seconds from the environment, or its default.
int seconds(const char *name, int fallback)
{
    const char *v = std::getenv(name);
    int n = v ? std::atoi(v) : 0;
    return n > 0 ? n : fallback;
}

struct Keeper {
    explicit Keeper(Display *display) : d(display) {}
    Display *d;
    Console c;
    Window main = None;
    Notice notice{d};
    int frozen_ms = 1000 * seconds("PARAM_CONFIG_FROZEN_SECONDS", 20);
    int retry_ms = 1000 * seconds("PARAM_CONFIG_RETRY_SECONDS", 120);
};

const char ended[] = "The connection to the database had ended.\n";
const char again[] = "Anything typed and not yet stored must be entered again.\n";
const char close_it[] = "Click here or press a key to close this notice.";

// Starts a console and waits until its main window shows (0) or it ends (its
// exit status). One still starting after 20 s is kept as it is.
int bring_up(Keeper &k, char **argv)
{
    if (!start_console(k.c, argv)) {
        std::fprintf(stderr, "param-config-launch: can't start %s: %s\n", argv[0], std::strerror(errno));
        return 1;
    }
    k.main = None;
    wait_for(20, [&] {
        k.notice.handle_events();
        k.main = k.main ? k.main : find_main_window(k.d, k.c.pid);
        return console_ended(k.c) || (k.main && viewable(k.d, k.main));
    });
    if (!console_ended(k.c)) {
        watch_sockets(k.c);
        return 0;
    }
    int status = release_console(k.c);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// Waits until the console ends from outside (false) or its database
// connection has ended (true). It is frozen on the database, which counts as
// ended, when X input stays unread for longer than the bound while nothing
// is waiting to be read from the server: a harmless message is sent to its
// window every second, and a console that answers reads it at once.
bool watch(Keeper &k)
{
    Atom ping = XInternAtom(k.d, "_PARAM_CONFIG_KEEPER_PING", False);
    long stuck_since = -1, last_ping = 0;
    for (;;) {
        pollfd p[3] = {{k.c.pidfd, POLLIN, 0}, {k.c.db, POLLRDHUP, 0}, {ConnectionNumber(k.d), POLLIN, 0}};
        poll(p, 3, 1000);
        k.notice.handle_events();
        if (p[0].revents)
            return false;
        if (p[1].revents)
            return true;
        if (!k.main || k.c.x < 0) { // still starting when the launcher gave up waiting
            k.main = k.main ? k.main : find_main_window(k.d, k.c.pid);
            if (k.main && viewable(k.d, k.main) && watch_sockets(k.c) && k.c.x >= 0 && k.c.db < 0)
                return true;
            continue;
        }
        long now = now_ms();
        if (now - last_ping < 1000)
            continue;
        int unread = 0, answer = 0;
        ioctl(k.c.x, FIONREAD, &unread);
        ioctl(k.c.db, FIONREAD, &answer);
        if (unread == 0 || answer > 0)
            stuck_since = -1;
        else if (stuck_since < 0)
            stuck_since = now;
        else if (now - stuck_since > k.frozen_ms)
            return true;
        XEvent e{};
        e.xclient.type = ClientMessage;
        e.xclient.window = k.main;
        e.xclient.message_type = ping;
        e.xclient.format = 32;
        XSendEvent(k.d, k.main, False, NoEventMask, &e);
        XFlush(k.d);
        last_ping = now;
    }
}

// Shows the notice until it is closed.
void linger(Keeper &k)
{
    while (k.notice.handle_events()) {
        pollfd p{ConnectionNumber(k.d), POLLIN, 0};
        poll(&p, 1, -1);
    }
}

// Starts a new console where the old window stood, telling the supervisor,
// and trying again while the database is not back. The launcher's lock is
// held meanwhile, so a pick from the menu waits and then shows the new one.
// False when there is no console to keep.
bool replace(Keeper &k, char **argv, int x, int y)
{
    Window self = XCreateWindow(k.d, DefaultRootWindow(k.d), 0, 0, 1, 1, 0, 0, InputOnly, CopyFromParent, 0, nullptr);
    Atom lock = XInternAtom(k.d, "_PARAM_CONFIG_LAUNCH", False);
    wait_for(30, [&] { return take_lock(k.d, self, lock); });
    // A pick from the menu may have started one in the meantime: that one is kept by its own keeper.
    bool taken = find_main_window(k.d) != None;
    int argc = 0;
    while (argv[argc])
        ++argc;
    char geometry[32], option[] = "-geometry";
    std::snprintf(geometry, sizeof geometry, "+%d+%d", x, y);
    char **args = static_cast<char **>(std::calloc(static_cast<size_t>(argc) + 3, sizeof(char *)));
    if (!args)
        return false;
    std::memcpy(args, argv, sizeof(char *) * static_cast<size_t>(argc));
    args[argc] = option, args[argc + 1] = geometry, args[argc + 2] = nullptr;
    char text[512];
    std::snprintf(text, sizeof text, "%sStarting Parameter configuration again...\n%s", ended, again);
    if (!taken)
        k.notice.show(text, x + 20, y + 40);
    const long deadline = now_ms() + k.retry_ms;
    int status = 1;
    while (!taken && (status = bring_up(k, args)) == 1 && now_ms() < deadline) {
        std::snprintf(text, sizeof text, "%sWaiting for the database to come back...\n%s", ended, again);
        k.notice.show(text, x + 20, y + 40);
        // A restart is over within a second, a takeover may take a minute.
        long until = now_ms() + (deadline - now_ms() > k.retry_ms - 5000 ? 500 : 2000);
        while (now_ms() < until)
            k.notice.handle_events(), usleep(50000);
    }
    if (!taken && status == 0)
        std::snprintf(text, sizeof text, "%sParameter configuration was started again and shows the values stored in "
                      "the database.\n%s%s", ended, again, close_it);
    else if (!taken)
        std::snprintf(text, sizeof text, "%sThe database did not come back within %d seconds: no new console was "
                      "started.\nChoose Parameter configuration from the menu again once it is back.\n%s",
                      ended, k.retry_ms / 1000, close_it);
    if (!taken)
        k.notice.show(text, x + 20, y + 40);
    std::free(args);
    XSetSelectionOwner(k.d, lock, None, CurrentTime);
    XDestroyWindow(k.d, self);
    XSync(k.d, False);
    return !taken && status == 0;
}

} // namespace

int keep(Display *d, char **argv, int report)
{
    Keeper k(d);
    int status = bring_up(k, argv);
    unsigned char byte = static_cast<unsigned char>(status);
    if (write(report, &byte, 1) != 1 || status != 0)
        return status;
    close(report);
    while (watch(k)) {
        // What the supervisor had in front of them decides what comes next.
        bool shown = viewable(d, k.main);
        int x = 0, y = 0;
        frame_origin(d, k.main, x, y);
        end_console(k.c);
        if (!shown || !replace(k, argv, x, y))
            break;
    }
    if (k.c.pid)
        release_console(k.c);
    linger(k);
    return 0;
}
