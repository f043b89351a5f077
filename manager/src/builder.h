// Small helpers that keep widget building close to the widget tables:
// an argument list that applies the colour rule and owns its compound
// strings, and form attachments written as four edges.
#pragma once

#include <Xm/Xm.h>

#include <array>
#include <cstddef>

namespace colour {
constexpr const char *panel = "#babac2c2d9d9";
constexpr const char *menu = "#8d8d9c9cc5c5";
constexpr const char *entry = "#f0f0f1f1f6f6";
constexpr const char *foreground = "#000000000000";
} // namespace colour

// Root depth of the default screen of the widget's display.
int root_depth(Widget w);

// The colour rule: a colour is used only on a screen deeper than 1 bit and
// only when the String-to-Pixel conversion, made against `against`,
// delivers a value. Returns whether `pixel` was set.
bool colour_rule(Widget against, const char *colour, int depth, Pixel &pixel);

using CreateFn = Widget (*)(Widget, String, ArgList, Cardinal);

// A creation argument list. Compound strings made for labels live exactly
// as long as the list, so a temporary list frees them right after the
// widget that takes them has been created.
class Args {
public:
    Args() = default;
    Args(const Args &) = delete;
    Args &operator=(const Args &) = delete;
    ~Args();

    Args &set(String name, XtArgVal value);
    // Adds a colour resource under the colour rule.
    Args &colour(String name, const char *colour, Widget against);
    Args &fg(Widget against) { return colour(XmNforeground, colour::foreground, against); }
    Args &bg(const char *background, Widget against) { return colour(XmNbackground, background, against); }
    // Foreground and the panel background, the colours of most widgets.
    Args &on_panel(Widget against) { return fg(against).bg(colour::panel, against); }
    // A compound-string resource from text, "\n" starting a new line.
    Args &string(String name, const char *text);
    Args &label(const char *text) { return string(XmNlabelString, text); }
    // XmNmnemonic from a one-character string; no depth test.
    Args &mnemonic(const char *key, Widget against);

    Widget create(CreateFn fn, Widget parent, const char *name);
    void apply(Widget w); // XtSetValues

    ArgList list() { return args_.data(); }
    Cardinal count() const { return count_; }

private:
    std::array<Arg, 24> args_{};
    Cardinal count_ = 0;
    std::array<XmString, 2> strings_{};
    std::size_t string_count_ = 0;
};

// One edge of a form attachment.
struct Edge {
    unsigned char type;
    int offset;
    Widget widget;
    bool has_offset;
};

inline Edge none() { return {XmATTACH_NONE, 0, nullptr, false}; }
inline Edge form(int offset) { return {XmATTACH_FORM, offset, nullptr, true}; }
inline Edge opposite_form(int offset) { return {XmATTACH_OPPOSITE_FORM, offset, nullptr, true}; }
inline Edge position(int pos) { return {XmATTACH_POSITION, pos, nullptr, false}; }
inline Edge widget(Widget w, int offset) { return {XmATTACH_WIDGET, offset, w, true}; }
inline Edge opposite_widget(Widget w, int offset) { return {XmATTACH_OPPOSITE_WIDGET, offset, w, true}; }

// Sets the four attachments of a form child in one XtSetValues.
void attach(Widget w, Edge top, Edge bottom, Edge left, Edge right);

// Manages the given widgets in one XtManageChildren call.
template <typename... W>
void manage_together(W... widgets)
{
    Widget list[] = {widgets...};
    XtManageChildren(list, sizeof...(widgets));
}
