// What the launcher and the keeper look for and do on the X display.
#pragma once

#include <X11/Xlib.h>
#include <sys/types.h>
#include <unistd.h>

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

// A vanished window or a refused focus is no failure; anything else is Xlib's.
void ignore_vanished_windows(Display *d);
bool viewable(Display *d, Window w);
// The main window of the process `pid` (0: of any process, the one kept by a
// keeper first, then the uppermost).
Window find_main_window(Display *d, pid_t pid = 0);
// The process that made `w`, as the X server knows it; 0 if it cannot tell.
pid_t client_pid(Display *d, Window w);
// Where the window manager's frame around `w` stands.
void frame_origin(Display *d, Window w, int &x, int &y);
bool take_lock(Display *d, Window self, Atom lock);
void show(Display *d, Window w);
