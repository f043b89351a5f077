// A notice the supervisor cannot miss on any window manager: a window of its
// own over the console, outside the window manager's reach, in the server's
// own font, closed by a click or a key.
#pragma once

#include <X11/Xlib.h>

class Notice {
public:
    explicit Notice(Display *d) : d_(d) {}
    // Shows `text` (lines separated by '\n') with its top left corner at x, y.
    void show(const char *text, int x, int y);
    // Handles the events queued on the display; false once it was closed.
    bool handle_events();
    bool open() const { return w_ != None; }
    void close();

private:
    void draw();
    Display *d_;
    Window w_ = None;
    GC gc_ = nullptr;
    XFontStruct *font_ = nullptr;
    char text_[1024] = "";
};
