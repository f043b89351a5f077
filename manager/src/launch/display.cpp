#include "display.h"
#include "journal.h"

#include <X11/Xutil.h>
#include <X11/extensions/XRes.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// Xlib's own handler would end the process: a keeper would leave its console
// unkept over one refused request. Nothing here chains to another handler, so
// setting it again changes nothing.
int ignore(Display *d, XErrorEvent *e)
{
    if (e->error_code == BadWindow || e->error_code == BadMatch)
        return 0;
    char text[160] = "";
    XGetErrorText(d, e->error_code, text, sizeof text);
    say(LOG_WARNING, "the X server refused request %d.%d: %s", e->request_code, e->minor_code, text);
    return 0;
}

int lost(Display *)
{
    say(LOG_WARNING, "lost the connection to the X server");
    _exit(255);
}

// The main window: a top-level window of class "param-config" with the title
// the program gives it. Neither the dialogs (titled otherwise) nor the
// toolkit's own 1x1 window of the same class, never mapped and titled with
// the name the program was called by, are it.
bool is_main_window(Display *d, Window w, bool &top_level)
{
    XClassHint hint{};
    top_level = XGetClassHint(d, w, &hint);
    if (!top_level)
        return false;
    static const char title[] = "Parameter configuration";
    XTextProperty name{};
    bool ours = hint.res_class && std::strcmp(hint.res_class, "param-config") == 0 && XGetWMName(d, w, &name) &&
                name.nitems == sizeof title - 1 && std::memcmp(name.value, title, sizeof title - 1) == 0;
    XFree(hint.res_name);
    XFree(hint.res_class);
    XFree(name.value);
    return ours;
}

// Whether `pid`'s parent is a keeper: a process of the launcher's own binary.
bool kept(pid_t pid)
{
    char path[64], parent[PATH_MAX] = "", self[PATH_MAX] = "";
    std::snprintf(path, sizeof path, "/proc/%d/stat", static_cast<int>(pid));
    std::FILE *f = std::fopen(path, "r");
    int ppid = 0;
    // The command may hold blanks and parentheses: the state follows the last ")".
    char stat[512] = "";
    if (!f)
        return false; // gone meanwhile
    size_t n = std::fread(stat, 1, sizeof stat - 1, f);
    stat[n] = '\0';
    std::fclose(f);
    const char *end = std::strrchr(stat, ')');
    if (!end || std::sscanf(end + 1, " %*c %d", &ppid) != 1)
        return false;
    std::snprintf(path, sizeof path, "/proc/%d/exe", ppid);
    ssize_t a = readlink(path, parent, sizeof parent - 1), b = readlink("/proc/self/exe", self, sizeof self - 1);
    return a > 0 && a == b && std::memcmp(parent, self, static_cast<size_t>(a)) == 0;
}

// A withdrawn window hangs from the root, a managed one inside its frame, so
// the whole tree is searched, top of the stack first; a client's own
// subwindows are not.
void search(Display *d, Window w, pid_t pid, Window &found, bool &found_kept)
{
    bool top_level = false;
    if (is_main_window(d, w, top_level)) {
        pid_t owner = pid || !found_kept ? client_pid(d, w) : 0;
        bool k = !pid && owner && kept(owner);
        if (pid ? owner == pid : !found || (k && !found_kept))
            found = w, found_kept = found_kept || k;
    }
    if (top_level)
        return;
    Window root, parent, *children = nullptr;
    unsigned n = 0;
    if (XQueryTree(d, w, &root, &parent, &children, &n))
        for (unsigned i = n; i-- > 0 && !(found && (pid || found_kept));)
            search(d, children[i], pid, found, found_kept);
    if (children)
        XFree(children);
}

} // namespace

void ignore_vanished_windows(Display *)
{
    XSetErrorHandler(ignore);
    XSetIOErrorHandler(lost);
}

bool viewable(Display *d, Window w)
{
    XWindowAttributes a;
    return XGetWindowAttributes(d, w, &a) && a.map_state == IsViewable;
}

Window find_main_window(Display *d, pid_t pid)
{
    Window found = None;
    bool found_kept = false;
    search(d, DefaultRootWindow(d), pid, found, found_kept);
    return found;
}

pid_t client_pid(Display *d, Window w)
{
    XResClientIdSpec client{w, XRES_CLIENT_ID_PID_MASK};
    long n = 0;
    XResClientIdValue *ids = nullptr;
    int event, error;
    if (!XResQueryExtension(d, &event, &error) || XResQueryClientIds(d, 1, &client, &n, &ids) != Success)
        return 0;
    pid_t pid = 0;
    for (long i = 0; i < n && pid <= 0; ++i)
        pid = XResGetClientPid(&ids[i]);
    XResClientIdsDestroy(n, ids);
    return pid > 0 ? pid : 0;
}

void frame_origin(Display *d, Window w, int &x, int &y)
{
    Window root, parent, *children = nullptr;
    unsigned n;
    while (XQueryTree(d, w, &root, &parent, &children, &n) && parent != root) {
        XFree(children);
        children = nullptr;
        w = parent;
    }
    if (children)
        XFree(children);
    XWindowAttributes a{};
    if (!XGetWindowAttributes(d, w, &a))
        say(LOG_WARNING, "can't tell where window 0x%lx stands", w);
    x = a.x, y = a.y;
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
    bool taken = free && XGetSelectionOwner(d, lock) == self;
    XUngrabServer(d);
    XSync(d, False);
    return taken;
}

// Mapped (the window manager takes it back from withdrawn or iconic), raised,
// and given focus once it is viewable; a window manager that follows the
// desktop conventions is also asked to activate it.
bool show(Display *d, Window w, int seconds)
{
    XMapRaised(d, w);
    // Polled every 50 ms: nothing else tells when another client's window shows.
    const long until = now_ms() + 1000L * seconds;
    while (!viewable(d, w) && now_ms() < until)
        usleep(50000);
    if (!viewable(d, w))
        return false;
    XSetInputFocus(d, w, RevertToParent, CurrentTime);
    XEvent e{};
    e.xclient.type = ClientMessage;
    e.xclient.window = w;
    e.xclient.message_type = XInternAtom(d, "_NET_ACTIVE_WINDOW", False);
    e.xclient.format = 32;
    e.xclient.data.l[0] = 1; // from an application
    if (!XSendEvent(d, DefaultRootWindow(d), False, SubstructureRedirectMask | SubstructureNotifyMask, &e))
        say(LOG_WARNING, "can't ask the window manager to activate window 0x%lx", w);
    XSync(d, False);
    return true;
}
