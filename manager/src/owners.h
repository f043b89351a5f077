// Owners that release what a handler obtained on every path out of it:
// strings from XmTextGetString or XtMalloc, and open files.
#pragma once

#include <Xm/Text.h>

#include <cstdio>
#include <memory>

struct XtFreer {
    void operator()(char *p) const { XtFree(p); }
};
using XtString = std::unique_ptr<char, XtFreer>;

struct FileCloser {
    void operator()(std::FILE *f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

inline XtString get_text(Widget w)
{
    return XtString{XmTextGetString(w)};
}

inline bool is_empty(const XtString &s)
{
    return !s || s.get()[0] == '\0';
}
