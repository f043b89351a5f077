#include "builder.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// A full list would drop the argument silently and build a widget that
// looks almost right. assert() is compiled out of the optimized build, so
// the check is made here, in every build, and stops start-up at once.
[[noreturn]] void list_full(const char *what, String name)
{
    std::fprintf(stderr, "param-config: internal error: widget argument list full, %s %s dropped\n", what,
                 name ? name : "?");
    std::exit(EXIT_FAILURE);
}

} // namespace

int root_depth(Widget w)
{
    Display *dpy = XtDisplay(w);
    return DefaultDepth(dpy, DefaultScreen(dpy));
}

bool colour_rule(Widget against, const char *colour, int depth, Pixel &pixel)
{
    if (depth == 1)
        return false;
    XrmValue from{static_cast<unsigned int>(std::strlen(colour) + 1), const_cast<char *>(colour)};
    XrmValue to{sizeof(Pixel), reinterpret_cast<XPointer>(&pixel)};
    return XtConvertAndStore(against, XmRString, &from, XmRPixel, &to);
}

Args::~Args()
{
    for (std::size_t i = 0; i < string_count_; ++i)
        XmStringFree(strings_[i]);
}

Args &Args::set(String name, XtArgVal value)
{
    if (count_ == args_.size())
        list_full("argument", name);
    XtSetArg(args_[count_], name, value);
    ++count_;
    return *this;
}

Args &Args::colour(String name, const char *colour, Widget against)
{
    Pixel pixel = 0;
    if (colour_rule(against, colour, root_depth(against), pixel))
        set(name, static_cast<XtArgVal>(pixel));
    return *this;
}

Args &Args::string(String name, const char *text)
{
    if (string_count_ == strings_.size())
        list_full("compound string", name);
    XmString s = XmStringCreateLtoR(const_cast<char *>(text), const_cast<char *>(XmFONTLIST_DEFAULT_TAG));
    strings_[string_count_++] = s;
    return set(name, reinterpret_cast<XtArgVal>(s));
}

Args &Args::mnemonic(const char *key, Widget against)
{
    KeySym keysym = NoSymbol;
    XrmValue from{static_cast<unsigned int>(std::strlen(key) + 1), const_cast<char *>(key)};
    XrmValue to{sizeof(KeySym), reinterpret_cast<XPointer>(&keysym)};
    if (XtConvertAndStore(against, XmRString, &from, XmRKeySym, &to))
        set(XmNmnemonic, static_cast<XtArgVal>(keysym));
    return *this;
}

Widget Args::create(CreateFn fn, Widget parent, const char *name)
{
    return fn(parent, const_cast<char *>(name), list(), count());
}

void Args::apply(Widget w)
{
    XtSetValues(w, list(), count());
}

namespace {

void add_edge(Args &args, String attachment, String offset, String widget, String position, const Edge &edge)
{
    args.set(attachment, edge.type);
    if (edge.type == XmATTACH_POSITION)
        args.set(position, edge.offset);
    if (edge.widget)
        args.set(widget, reinterpret_cast<XtArgVal>(edge.widget));
    if (edge.has_offset)
        args.set(offset, edge.offset);
}

} // namespace

void attach(Widget w, Edge top, Edge bottom, Edge left, Edge right)
{
    Args args;
    add_edge(args, XmNtopAttachment, XmNtopOffset, XmNtopWidget, XmNtopPosition, top);
    add_edge(args, XmNbottomAttachment, XmNbottomOffset, XmNbottomWidget, XmNbottomPosition, bottom);
    add_edge(args, XmNleftAttachment, XmNleftOffset, XmNleftWidget, XmNleftPosition, left);
    add_edge(args, XmNrightAttachment, XmNrightOffset, XmNrightWidget, XmNrightPosition, right);
    args.apply(w);
}
