// param-config-launch: what the menu entry starts. The program has no quit
// command and closing its window only hides it, so a second start from the
// menu would leave the first one behind, hidden, holding its database
// connection. The launcher shows the main window of the program already
// running on its display, hidden or not, and starts the program only when
// there is none. Two launches at once start one program.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>

extern char **environ;

namespace {

XErrorHandler default_handler;

// A window may be destroyed while the tree is searched, and focus is refused
// to a window the window manager has not shown yet; neither is a failure.
int ignore_vanished_windows(Display *d, XErrorEvent *e)
{
    if (e->error_code == BadWindow || e->error_code == BadMatch)
        return 0;
    return default_handler(d, e);
}

// Polls every 50 ms for at most `seconds`.
template <class Done> bool wait_for(int seconds, Done done)
{
    for (int i = 0; i < seconds * 20; ++i) {
        if (done())
            return true;
        usleep(50000);
    }
    return done();
}

bool viewable(Display *d, Window w)
{
    XWindowAttributes a;
    return XGetWindowAttributes(d, w, &a) && a.map_state == IsViewable;
}

// The main window: the top-level window of class "param-config" with the
// title the program gives it. Neither the dialogs (titled otherwise) nor the
// toolkit's own 1x1 window of the same class, never mapped and titled with
// the name the program was called by, are it. A withdrawn window hangs from
// the root, a managed one inside its frame, so the whole tree is searched,
// top of the stack first; a client's own subwindows are not.
Window find_main_window(Display *d, Window w)
{
    XClassHint hint{};
    if (XGetClassHint(d, w, &hint)) {
        static const char title[] = "Parameter configuration";
        XTextProperty name{};
        bool ours = hint.res_class && std::strcmp(hint.res_class, "param-config") == 0 && XGetWMName(d, w, &name) &&
                    name.nitems == sizeof title - 1 && std::memcmp(name.value, title, sizeof title - 1) == 0;
        XFree(hint.res_name);
        XFree(hint.res_class);
        XFree(name.value);
        return ours ? w : None;
    }
    Window root, parent, *children = nullptr, found = None;
    unsigned n = 0;
    if (XQueryTree(d, w, &root, &parent, &children, &n))
        for (unsigned i = n; i-- > 0 && !found;)
            found = find_main_window(d, children[i]);
    if (children)
        XFree(children);
    return found;
}

// One launcher at a time per display, with nothing on disk to go stale: the
// owner of a selection. The server is grabbed so that finding it free and
// taking it is one step for every other client; it drops the ownership when
// the owner's connection closes, however the launcher ends.
bool take_lock(Display *d, Window self, Atom lock)
{
    XGrabServer(d);
    bool free = XGetSelectionOwner(d, lock) == None;
    if (free)
        XSetSelectionOwner(d, lock, self, CurrentTime);
    XUngrabServer(d);
    XSync(d, False);
    return free;
}

// Mapped (the window manager takes it back from withdrawn or iconic), raised,
// and given focus once it is viewable; a window manager that follows the
// desktop conventions is also asked to activate it.
void show(Display *d, Window w)
{
    XMapRaised(d, w);
    wait_for(2, [&] { return viewable(d, w); });
    XSetInputFocus(d, w, RevertToParent, CurrentTime);
    XEvent e{};
    e.xclient.type = ClientMessage;
    e.xclient.window = w;
    e.xclient.message_type = XInternAtom(d, "_NET_ACTIVE_WINDOW", False);
    e.xclient.format = 32;
    e.xclient.data.l[0] = 1; // from an application
    XSendEvent(d, DefaultRootWindow(d), False, SubstructureRedirectMask | SubstructureNotifyMask, &e);
    XSync(d, False);
}

// Starts the program installed beside the launcher with the launcher's
// arguments, and waits until its main window is shown (so that the lock is
// held until then) or it ends. Returns the launcher's exit status.
int start(Display *d, char **argv)
{
    const char *me = argv[0];
    char exe[PATH_MAX], program[PATH_MAX + 16];
    ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (n <= 0) {
        std::fprintf(stderr, "%s: can't find where it is installed: %s\n", me, std::strerror(errno));
        return 1;
    }
    exe[n] = '\0';
    *std::strrchr(exe, '/') = '\0';
    std::snprintf(program, sizeof program, "%s/param-config", exe);
    argv[0] = program;
    pid_t pid;
    if (int err = posix_spawn(&pid, program, nullptr, nullptr, argv, environ)) {
        std::fprintf(stderr, "%s: can't start %s: %s\n", me, program, std::strerror(err));
        return 1;
    }
    int status = 0;
    bool ended = false;
    wait_for(20, [&] {
        ended = waitpid(pid, &status, WNOHANG) == pid;
        Window w = ended ? None : find_main_window(d, DefaultRootWindow(d));
        return ended || (w && viewable(d, w));
    });
    // A program that could not start has said why; its status is passed on.
    if (!ended)
        return 0;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
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
    default_handler = XSetErrorHandler(ignore_vanished_windows);
    Window root = DefaultRootWindow(d);
    Window self = XCreateWindow(d, root, 0, 0, 1, 1, 0, 0, InputOnly, CopyFromParent, 0, nullptr);
    Atom lock = XInternAtom(d, "_PARAM_CONFIG_LAUNCH", False);
    // A holder is done within about 20 s; past 30 s it is stuck, and this one
    // goes on without the lock rather than start nothing.
    wait_for(30, [&] { return take_lock(d, self, lock); });
    Window w = find_main_window(d, root);
    int status = 0;
    if (w)
        show(d, w);
    else
        status = start(d, argv);
    XCloseDisplay(d);
    return status;
}
