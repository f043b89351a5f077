// The F2+He gas mixture dialog and the help dialog, driven through the
// menu-bar buttons with real input under the window manager.
#include "testbed.h"

#include "store.h"

#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
#include <Xm/Scale.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <sstream>

using namespace testbed;
using GasDialog = StandardRow;
using HelpDialog = StandardRow;

namespace {

// The window manager's frame of a window: its ancestor just below the root.
Window frame_of(Window w)
{
    Window root = 0, parent = 0, *children = nullptr;
    unsigned int count = 0;
    while (XQueryTree(display, w, &root, &parent, &children, &count)) {
        XFree(children);
        if (parent == root)
            return w;
        w = parent;
    }
    return 0;
}

// Whether `upper`'s frame is stacked above `lower`'s among the root's
// children (which XQueryTree lists bottom to top).
bool stacked_above(Window upper, Window lower)
{
    Window root = 0, parent = 0, *children = nullptr;
    unsigned int count = 0;
    XQueryTree(display, DefaultRootWindow(display), &root, &parent, &children, &count);
    Window *end = children + count, *a = std::find(children, end, frame_of(upper)),
           *b = std::find(children, end, frame_of(lower));
    XFree(children);
    return a != end && b != end && a > b;
}

// Holds button 1 near the right end of a slider's trough (inside its
// highlight and shadow) until the slider has travelled there.
void drag_to_right_end(Widget scale)
{
    Widget bar = XtNameToWidget(scale, "Scrollbar");
    int x = 0, y = 0;
    Window child;
    XTranslateCoordinates(display, XtWindow(bar), DefaultRootWindow(display), resource<Dimension>(bar, XmNwidth) - 8,
                          resource<Dimension>(bar, XmNheight) / 2, &x, &y, &child);
    XTestFakeMotionEvent(display, DefaultScreen(display), x, y, CurrentTime);
    XTestFakeButtonEvent(display, 1, True, CurrentTime);
    pump(2000);
    release();
}

void open_gas_dialog()
{
    click(db_gas_mix_b);
    ASSERT_TRUE(pump_until([] { return viewable(db_gas_mix_f); })) << "the gas dialog did not come up";
}

} // namespace

// Both sliders show tenths. Save writes them back as they stand (the
// outside change is overwritten), finds nothing to update in an empty
// table, and reports a refused update with its code; the dialog stays.
TEST_F(GasDialog, SaveWritesTheSlidersAsShown)
{
    // Before the start, whether the update is refused, the sliders shown
    // and the row stored afterwards.
    for (const auto &[before, refuse, mix, pressure, stored_after] :
         {std::tuple<const char *, bool, int, int, Table>{"update parameters set gas_value = 35", false, 35, 80, {{"35", "80"}}},
          {"delete from parameters", false, 30, 100, {}},
          {"update parameters set gas_value = 35", true, 44, 80, {{"11", "12"}}}}) {
        SCOPED_TRACE(std::string(before) + (refuse ? ", refused" : ""));
        reset_database();
        sql(before);
        with_program([&] {
            for (Widget scale : {db_gas_mix_i, db_gas_pressure_i})
                EXPECT_EQ(resource<short>(scale, XmNdecimalPoints), 1) << XtName(scale);
            open_gas_dialog();
            sql("update parameters set gas_value = 11, gas_pressure = 12");
            if (refuse) {
                XmScaleSetValue(db_gas_mix_i, 44); // the refused save still takes the slider's value
                sql("alter table parameters rename to parameters_away");
            }
            click(db_gas_mix_save_b);
            long code = store_sqlcode();
            if (refuse)
                sql("alter table parameters_away rename to parameters");
            EXPECT_EQ(text(db_msg_t), refuse ? "Database problem " + std::to_string(code) + "\n" : "");
            EXPECT_EQ(code < 0, refuse) << code;
            EXPECT_EQ(std::vector({scale_value(db_gas_mix_i), db_gas_mix_value, scale_value(db_gas_pressure_i),
                                   db_gas_pressure_value}), std::vector({mix, mix, pressure, pressure}));
            EXPECT_EQ(rows("select gas_value, gas_pressure from parameters"), stored_after);
            EXPECT_TRUE(viewable(db_gas_mix_f)) << "saving must leave the dialog open";
        });
    }
}

// Pressed while open, the button raises the dialog over a window that
// covers it, and neither reloads nor saves the sliders. Closing only hides
// the dialog: reopened, it shows the unsaved slider position while the
// database keeps the old value. Dragged to their right ends, the sliders
// then save their maxima.
TEST_F(GasDialog, ButtonRaisesTheOpenDialogAndClosingKeepsTheSliders)
{
    with_program([] {
        open_gas_dialog();
        Window dialog = XtWindow(db_gas_mix_f);
        XWindowAttributes at;
        XGetWindowAttributes(display, frame_of(dialog), &at);
        Display *other = XOpenDisplay(nullptr);
        ASSERT_NE(other, nullptr);
        Window cover = XCreateSimpleWindow(other, DefaultRootWindow(other), at.x, at.y, 300, 300, 0, 0, 0);
        XSizeHints hints{};
        hints.flags = USPosition;
        hints.x = at.x;
        hints.y = at.y;
        XSetWMNormalHints(other, cover, &hints);
        XMapWindow(other, cover);
        XSync(other, False);
        EXPECT_TRUE(pump_until([&] { return stacked_above(cover, dialog); })) << "the cover never got on top";
        XmScaleSetValue(db_gas_mix_i, 42);
        sql("update parameters set gas_value = 11");
        click(db_gas_mix_b);
        EXPECT_TRUE(pump_until([&] { return stacked_above(dialog, cover); })) << "the dialog was not raised";
        XCloseDisplay(other);
        EXPECT_TRUE(viewable(db_gas_mix_f));
        EXPECT_EQ(std::pair(scale_value(db_gas_mix_i), scale_value(db_gas_pressure_i)), std::pair(42, 80));
        EXPECT_EQ(value("select gas_value from parameters") + "|" + text(db_msg_t), "11|");

        drag_to_right_end(db_gas_mix_i);
        ASSERT_EQ(scale_value(db_gas_mix_i), 50);
        move_to(db_gas_mix_form);
        key(XK_F12);
        ASSERT_TRUE(pump_until([] { return !viewable(db_gas_mix_f); })) << "the window manager did not close it";
        open_gas_dialog();
        EXPECT_EQ(scale_value(db_gas_mix_i), 50);
        EXPECT_EQ(value("select gas_value from parameters"), "11");
        drag_to_right_end(db_gas_pressure_i);
        click(db_gas_mix_save_b);
        EXPECT_EQ(rows("select gas_value, gas_pressure from parameters"), (Table{{"50", "100"}}));
    });
}

// Colours follow the main window's rule; label15 and the help form set
// none of their own, so a user's resource reaches them and no other.
TEST_F(GasDialog, DialogsAreBuiltLikeTheMainWindow)
{
    TempDir dir;
    write_file(dir.path() + "/resources", "*label15.foreground: #ff0000\n*db_help_fr.background: #ff0000\n"
                                          "*db_gas_mix_m.foreground: #ff0000\n*db_help_t.background: #ff0000\n");
    setenv("XENVIRONMENT", (dir.path() + "/resources").c_str(), 1);
    with_program([] {
        const char *panel = "#babac2c2d9d9", *menu = "#8d8d9c9cc5c5", *entry = "#f0f0f1f1f6f6",
                   *black = "#000000000000", *red = "#ff0000";
        Widget form = db_gas_mix_form;
        // Foreground and background; null: not checked.
        for (auto [w, fg, bg] : {std::tuple{form, black, panel},
            {db_gas_mix_m, black, panel},
            {db_gas_mix_i, black, panel},
            {XtNameToWidget(form, "separator1"), menu, panel},
            {XtNameToWidget(form, "separator2"), menu, panel},
            {db_gas_pressure_m, black, panel},
            {db_gas_pressure_i, black, panel},
            {db_gas_mix_save_b, black, menu},
            {XtNameToWidget(form, "label15"), red, panel},
            {db_help_fr, nullptr, red},
            {db_help_t, black, entry},
            {XtParent(db_help_t), black, panel}}) {
            ASSERT_NE(w, nullptr);
            for (auto [resource, colour] : {std::pair{XmNforeground, fg}, {XmNbackground, bg}})
                if (colour) {
                    EXPECT_EQ(pixel_of(w, resource), colour_pixel(colour)) << XtName(w) << " " << resource;
                }
        }
        EXPECT_EQ(std::string(XtName(db_gas_pressure_m)) + "|" + label(db_gas_pressure_m),
                  "Gas pressure|F2+He gas pressure[bar]");
        open_gas_dialog();
        click(db_help_b);
        ASSERT_TRUE(pump_until([] { return viewable(db_help_f); }));
        for (auto [shell, title] : {std::pair{db_gas_mix_f, " "}, {db_help_f, "Parameter configuration help"}}) {
            char *name = nullptr;
            EXPECT_TRUE(XFetchName(display, XtWindow(shell), &name) && name == std::string(title)) << name;
            XFree(name);
        }
    });
    unsetenv("XENVIRONMENT");
}

// Each press of Help reads the file anew: the last byte gives way to the
// end of the text, a NUL ends it early, and a failed load keeps what was
// shown. The load runs on the press, the dialog appears on the release.
TEST_F(HelpDialog, EveryPressReloadsTheFile)
{
    TempDir dir;
    const std::string file = dir.path() + "/helpfiles/param-config.hlp";
    with_program(
        [&] {
            press(db_help_b);
            EXPECT_EQ(text(db_msg_t), "Help file could not be opened\n");
            EXPECT_FALSE(viewable(db_help_f)) << "shown before the release";
            release();
            ASSERT_TRUE(pump_until([] { return viewable(db_help_f); })) << "no help dialog after a failed load";
            EXPECT_EQ(text(db_help_t), "");
            std::filesystem::create_directory(dir.path() + "/helpfiles");
            // The file ("<none>": no file), text typed before the press, what
            // the dialog then shows and the message it adds.
            for (const auto &[content, typed, shown, message] :
                 {std::tuple<std::string, bool, std::string, std::string>{"abc\n", false, "abc", ""},
                  {"abc", false, "ab", ""},
                  {"", false, "ab", "Help file is empty\n"},
                  {"x", false, "", ""},
                  {std::string("ab\0cd\n", 6), false, "ab", ""},
                  {"two\nlines\n", true, "two\nlines", ""},
                  {"<none>", false, "two\nlines", "Help file could not be opened\n"}}) {
                SCOPED_TRACE(content);
                std::filesystem::remove(file);
                if (content != "<none>")
                    write_file(file, content);
                if (typed) {
                    type(db_help_t, "zz");
                    EXPECT_NE(text(db_help_t).find("zz"), std::string::npos) << "the help pane refused typing";
                }
                const std::string before = text(db_msg_t);
                click(db_help_b);
                EXPECT_EQ(text(db_help_t), shown);
                EXPECT_EQ(text(db_msg_t), before + message);
                EXPECT_TRUE(viewable(db_help_f));
            }
            move_to(db_help_t);
            key(XK_F12);
            EXPECT_TRUE(pump_until([] { return !viewable(db_help_f); })) << "the window manager did not close it";
            EXPECT_EQ(text(db_help_t), "two\nlines");
        },
        dir.path());
}

// The help text that ships with the program: narrow lines, a final newline
// (which the dialog drops), every message explained, shown whole from the
// project root.
TEST_F(HelpDialog, ShippedHelpFile)
{
    const std::string shipped = read_file(PROJECT_SOURCE_DIR "/helpfiles/param-config.hlp");
    ASSERT_FALSE(shipped.empty());
    EXPECT_EQ(shipped.back(), '\n');
    std::istringstream lines(shipped);
    for (std::string line; std::getline(lines, line);)
        EXPECT_TRUE(line.size() < 80 && line.find('\t') == std::string::npos) << line;
    for (const char *message :
         {"No operator entered.", "already exists.", "To change password, remove and add again.",
          "No password entered.", "Maximum number of characters is 5.", "Password is impossible to write in cipher.",
          "is added to database.", "was not found.", "is deleted from database.", "is set in database.",
          "Configuration password:", "Impossible to rename graph.def.", "Impossible to open graph.save.",
          "Impossible to open graph.def.", "Database problem", "Help file could not be opened", "Help file is empty"})
        EXPECT_NE(shipped.find(message), std::string::npos) << message;
    with_program(
        [&] {
            click(db_help_b);
            ASSERT_TRUE(pump_until([] { return viewable(db_help_f); }));
            EXPECT_EQ(text(db_help_t) + "|" + text(db_msg_t), shipped.substr(0, shipped.size() - 1) + "|");
        },
        PROJECT_SOURCE_DIR);
}
