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
#include "console.h"
#include "display.h"
#include "keeper.h"
#include "service.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>

namespace {

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
        end_console(c);
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
    *std::strrchr(exe, '/') = '\0';
    return std::snprintf(program, size, "%s/param-config", exe) < static_cast<int>(size);
}

// The keeper, a process of its own with a connection of its own, starts the
// program; the launcher holds its lock until the keeper reports the window
// shown or the program ended, and exits with the status the keeper reports.
int start_kept(Display *d, int argc, char **argv)
{
    static char program[PATH_MAX + 16];
    if (!program_path(program, sizeof program)) {
        std::fprintf(stderr, "%s: can't find where it is installed: %s\n", argv[0], std::strerror(errno));
        return 1;
    }
    choose_service();
    int report[2];
    if (pipe2(report, O_CLOEXEC) != 0) {
        std::fprintf(stderr, "%s: can't start a keeper: %s\n", argv[0], std::strerror(errno));
        return 1;
    }
    std::fflush(nullptr);
    pid_t keeper = fork();
    if (keeper == 0) {
        close(ConnectionNumber(d)), close(report[0]);
        Display *own = XOpenDisplay(display_argument(argc, argv));
        if (!own)
            _exit(255);
        fcntl(ConnectionNumber(own), F_SETFD, FD_CLOEXEC);
        ignore_vanished_windows(own);
        argv[0] = program;
        _exit(keep(own, argv, report[1]));
    }
    close(report[1]);
    unsigned char status = 1;
    if (keeper < 0 || read(report[0], &status, 1) != 1)
        std::fprintf(stderr, "%s: the keeper ended before the program started\n", argv[0]);
    close(report[0]);
    return status;
}

} // namespace

int main(int argc, char **argv)
{
    Display *d = XOpenDisplay(display_argument(argc, argv));
    if (!d) {
        std::fprintf(stderr, "%s: can't open display\n", argv[0]);
        return 255;
    }
    // The lock lasts as long as this connection: the program must not inherit it.
    fcntl(ConnectionNumber(d), F_SETFD, FD_CLOEXEC);
    ignore_vanished_windows(d);
    Window root = DefaultRootWindow(d);
    Window self = XCreateWindow(d, root, 0, 0, 1, 1, 0, 0, InputOnly, CopyFromParent, 0, nullptr);
    Atom lock = XInternAtom(d, "_PARAM_CONFIG_LAUNCH", False);
    // A holder is done within about 20 s, a keeper replacing a console within
    // its retry time; past 30 s it is stuck, and this one goes on without the
    // lock rather than start nothing.
    wait_for(30, [&] { return take_lock(d, self, lock); });
    Window w = find_main_window(d);
    int status = 0;
    if (w && !connection_lost(d, w))
        show(d, w);
    else
        status = start_kept(d, argc, argv);
    XCloseDisplay(d);
    return status;
}
