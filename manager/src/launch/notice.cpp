#include "notice.h"

#include "journal.h"

#include <X11/Xutil.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {
constexpr int margin = 16;
}

void Notice::show(const char *text, int x, int y)
{
    std::snprintf(text_, sizeof text_, "%s", text);
    if (!font_)
        font_ = XLoadQueryFont(d_, "-*-helvetica-bold-r-normal--18-*-*-*-*-*-iso8859-1");
    if (!font_ && !(font_ = XLoadQueryFont(d_, "fixed"))) {
        say(LOG_WARNING, "unable to load a font for the notice: %s", text);
        return;
    }
    int lines = 0, width = 0;
    for (const char *line = text_; *line; ++lines) {
        const char *end = std::strchr(line, '\n');
        int n = end ? static_cast<int>(end - line) : static_cast<int>(std::strlen(line));
        width = std::max(width, XTextWidth(font_, line, n));
        line += n + (end ? 1 : 0);
    }
    int line_height = font_->ascent + font_->descent + 4;
    unsigned w = static_cast<unsigned>(width + 2 * margin), h = static_cast<unsigned>(lines * line_height + 2 * margin);
    int screen = DefaultScreen(d_);
    const bool shown_before = w_ != None;
    if (w_ == None) {
        XSetWindowAttributes a{};
        a.override_redirect = True;
        a.background_pixel = WhitePixel(d_, screen);
        a.border_pixel = BlackPixel(d_, screen);
        a.event_mask = ExposureMask | ButtonPressMask | KeyPressMask | StructureNotifyMask;
        w_ = XCreateWindow(d_, DefaultRootWindow(d_), x, y, w, h, 4, CopyFromParent, InputOutput, CopyFromParent,
                           CWOverrideRedirect | CWBackPixel | CWBorderPixel | CWEventMask, &a);
        gc_ = XCreateGC(d_, w_, 0, nullptr);
        XSetFont(d_, gc_, font_->fid);
        XSetForeground(d_, gc_, BlackPixel(d_, screen));
        XClassHint hint{const_cast<char *>("notice"), const_cast<char *>("param-config-launch")};
        XSetClassHint(d_, w_, &hint);
    }
    // Its text is also its name, for whatever reads windows rather than screens.
    XStoreName(d_, w_, text_);
    XMoveResizeWindow(d_, w_, x, y, w, h);
    XMapRaised(d_, w_);
    // A console mapped meanwhile may have taken the keys; a new text takes them back.
    if (shown_before)
        XSetInputFocus(d_, w_, RevertToPointerRoot, CurrentTime);
    XClearArea(d_, w_, 0, 0, 0, 0, True);
    XFlush(d_);
}

void Notice::draw()
{
    int line_height = font_->ascent + font_->descent + 4, y = margin + font_->ascent;
    for (const char *line = text_; *line; y += line_height) {
        const char *end = std::strchr(line, '\n');
        int n = end ? static_cast<int>(end - line) : static_cast<int>(std::strlen(line));
        XDrawString(d_, w_, gc_, margin, y, line, n);
        line += n + (end ? 1 : 0);
    }
}

void Notice::handle(const XEvent &e)
{
    if (w_ == None)
        return;
    if (e.xany.window == w_) {
        if (e.type == Expose && e.xexpose.count == 0)
            draw();
        else if (e.type == MapNotify) // keys reach a window the window manager does not focus only so
            XSetInputFocus(d_, w_, RevertToPointerRoot, CurrentTime);
        else if (e.type == ButtonPress || e.type == KeyPress)
            close();
        else if (e.type == DestroyNotify)
            forget();
        return;
    }
    // Menus and other notices are left alone: they stand over everything themselves.
    if ((e.type == MapNotify && !e.xmap.override_redirect) ||
        (e.type == ConfigureNotify && !e.xconfigure.override_redirect && e.xconfigure.window != w_))
        XRaiseWindow(d_, w_);
}

void Notice::close()
{
    if (w_ == None)
        return;
    XDestroyWindow(d_, w_);
    forget();
}

void Notice::forget()
{
    XFreeGC(d_, gc_);
    XFlush(d_);
    w_ = None;
}
