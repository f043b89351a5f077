// A notice the supervisor cannot miss on any window manager: a window of its
// own over the console, outside the window manager's reach, in the server's
// own font, closed by a click or a key. Windows mapped or restacked over it
// later (the console's, a dialog's) find it raised above them again.
#pragma once

#include <X11/Xlib.h>

class Notice {
public:
    explicit Notice(Display *d) : d_(d) {}
    // Shows `text` (lines separated by '\n') with its top left corner at x, y.
    void show(const char *text, int x, int y);
    // Takes an event of its own window's, or of the root's children (the
    // keeper selects SubstructureNotify there).
    void handle(const XEvent &e);
    bool open() const { return w_ != None; }
    void close();

private:
    void draw();
    void forget();
    Display *d_;
    Window w_ = None;
    GC gc_ = nullptr;
    XFontStruct *font_ = nullptr;
    char text_[1024] = "";
};
