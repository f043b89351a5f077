// What the launcher and the keeper look for and do on the X display.
#pragma once

#include <X11/Xlib.h>
#include <sys/types.h>

// For the whole process, once: a vanished window or a refused focus is no
// failure, any other error is said and the process goes on; a lost
// connection to the X server ends it with 255.
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
// Whether the window shows within `seconds`, raised and given the focus.
bool show(Display *d, Window w, int seconds);
