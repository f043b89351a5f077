// The F2+He gas mixture dialog and the help dialog, driven through the
// menu-bar buttons with real input under the window manager.
#include "testbed.h"

#include "startup.h"
#include "store.h"
#include "widgets.h"

#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
#include <Xm/Scale.h>
#include <Xm/Text.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

using namespace testbed;

namespace {

class GasDialog : public ::testing::Test {
protected:
    void SetUp() override { reset_database(); }
};

using HelpDialog = GasDialog;

// The window manager's frame of a window: its ancestor just below the root.
Window frame_of(Window w)
{
    for (;;) {
        Window root = 0, parent = 0, *children = nullptr;
        unsigned int count = 0;
        if (!XQueryTree(display, w, &root, &parent, &children, &count))
            return 0;
        XFree(children);
        if (parent == root)
            return w;
        w = parent;
    }
}

// Whether `upper`'s frame is stacked above `lower`'s among the root's
// children (which XQueryTree lists bottom to top).
bool stacked_above(Window upper, Window lower)
{
    Window a = frame_of(upper), b = frame_of(lower);
    Window root = 0, parent = 0, *children = nullptr;
    unsigned int count = 0;
    XQueryTree(display, DefaultRootWindow(display), &root, &parent, &children, &count);
    int ia = -1, ib = -1;
    for (unsigned int i = 0; i < count; ++i) {
        ia = children[i] == a ? static_cast<int>(i) : ia;
        ib = children[i] == b ? static_cast<int>(i) : ib;
    }
    XFree(children);
    return ia >= 0 && ib >= 0 && ia > ib;
}

std::string window_title(Widget shell)
{
    char *name = nullptr;
    std::string out = XFetchName(display, XtWindow(shell), &name) && name ? name : "<none>";
    XFree(name);
    return out;
}

// Holds button 1 near the right end of a slider's trough (inside its
// highlight and shadow) until the slider has travelled there.
void drag_to_right_end(Widget scale)
{
    Widget bar = XtNameToWidget(scale, "Scrollbar");
    ASSERT_NE(bar, nullptr);
    Dimension width = 0, height = 0;
    XtVaGetValues(bar, XmNwidth, &width, XmNheight, &height, nullptr);
    int x = 0, y = 0;
    Window child;
    XTranslateCoordinates(display, XtWindow(bar), DefaultRootWindow(display), width - 8, height / 2, &x, &y, &child);
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

// Save writes both sliders back as they stand (the outside change is
// overwritten), finds nothing to update in an empty table, and reports a
// refused update with its code.
TEST_F(GasDialog, SaveWritesTheSlidersAsShown)
{
    struct Case {
        const char *name;
        const char *before_start;
        int mix, pressure;
        bool refuse;
        std::vector<std::vector<std::string>> stored_after;
    };
    const Case cases[] = {
        {"stored row", "", 35, 80, false, {{"35", "80"}}},
        {"empty table", "delete from parameters", 30, 100, false, {}},
        {"refused update", "", 35, 80, true, {{"11", "12"}}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        reset_database();
        if (*c.before_start)
            sql(c.before_start);
        with_program([&c] {
            EXPECT_EQ(scale_value(db_gas_mix_i), c.mix);
            EXPECT_EQ(scale_value(db_gas_pressure_i), c.pressure);
            for (Widget scale : {db_gas_mix_i, db_gas_pressure_i}) {
                short points = 0;
                XtVaGetValues(scale, XmNdecimalPoints, &points, nullptr);
                EXPECT_EQ(points, 1) << XtName(scale);
            }
            open_gas_dialog();
            sql("update parameters set gas_value = 11, gas_pressure = 12");
            if (c.refuse) {
                XmScaleSetValue(db_gas_mix_i, 44);
                sql("alter table parameters rename to parameters_away");
            }
            click(db_gas_mix_save_b);
            long code = store_sqlcode();
            if (c.refuse) {
                sql("alter table parameters_away rename to parameters");
                EXPECT_LT(code, 0);
                EXPECT_EQ(text(db_msg_t), "Database problem " + std::to_string(code) + "\n");
                EXPECT_EQ(scale_value(db_gas_mix_i), 44);
                EXPECT_EQ(db_gas_mix_value, 44);
            } else {
                EXPECT_EQ(text(db_msg_t), "");
            }
            EXPECT_EQ(rows("select gas_value, gas_pressure from parameters"), c.stored_after);
            EXPECT_TRUE(viewable(db_gas_mix_f)) << "saving must leave the dialog open";
        });
    }
}

TEST_F(GasDialog, SlidersDraggedToTheirRightEndsStoreTheMaxima)
{
    with_program([] {
        open_gas_dialog();
        drag_to_right_end(db_gas_mix_i);
        drag_to_right_end(db_gas_pressure_i);
        click(db_gas_mix_save_b);
        EXPECT_EQ(rows("select gas_value, gas_pressure from parameters"),
                  (std::vector<std::vector<std::string>>{{"50", "100"}}));
    });
}

// Pressed while open, the button raises the dialog over a window that
// covers it, and neither reloads nor saves the sliders.
TEST_F(GasDialog, ButtonRaisesTheOpenDialogAndChangesNoValue)
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
        EXPECT_TRUE(viewable(db_gas_mix_f));
        EXPECT_EQ(scale_value(db_gas_mix_i), 42);
        EXPECT_EQ(scale_value(db_gas_pressure_i), 80);
        EXPECT_EQ(value("select gas_value from parameters"), "11");
        EXPECT_EQ(text(db_msg_t), "");
        XCloseDisplay(other);
    });
}

// Closing only hides the dialog: reopened, it shows the unsaved slider
// position while the database keeps the old value.
TEST_F(GasDialog, ClosedThroughTheWindowManagerItReopensAsLeft)
{
    with_program([] {
        open_gas_dialog();
        drag_to_right_end(db_gas_mix_i);
        ASSERT_EQ(scale_value(db_gas_mix_i), 50);
        move_to(db_gas_mix_form);
        key(XK_F12);
        ASSERT_TRUE(pump_until([] { return !viewable(db_gas_mix_f); })) << "the window manager did not close it";
        open_gas_dialog();
        EXPECT_EQ(scale_value(db_gas_mix_i), 50);
        EXPECT_EQ(value("select gas_value from parameters"), "35");
    });
}

// Colours follow the main window's rule; label15 and the help form set
// none of their own, so a user's resource reaches them and no other.
TEST_F(GasDialog, DialogsAreBuiltLikeTheMainWindow)
{
    TempDir dir;
    std::string resources = dir.path() + "/resources";
    write_file(resources, "*label15.foreground: #ff0000\n*db_help_fr.background: #ff0000\n"
                          "*db_gas_mix_m.foreground: #ff0000\n*db_help_t.background: #ff0000\n");
    setenv("XENVIRONMENT", resources.c_str(), 1);
    with_program([] {
        const char *panel = "#babac2c2d9d9", *menu = "#8d8d9c9cc5c5", *entry = "#f0f0f1f1f6f6",
                   *black = "#000000000000", *red = "#ff0000";
        Widget form = db_gas_mix_form;
        struct Row {
            Widget w;
            const char *resource, *colour;
        } table[] = {
            {form, XmNforeground, black},
            {form, XmNbackground, panel},
            {db_gas_mix_m, XmNforeground, black},
            {db_gas_mix_m, XmNbackground, panel},
            {db_gas_mix_i, XmNforeground, black},
            {db_gas_mix_i, XmNbackground, panel},
            {XtNameToWidget(form, "separator1"), XmNforeground, menu},
            {XtNameToWidget(form, "separator1"), XmNbackground, panel},
            {XtNameToWidget(form, "separator2"), XmNforeground, menu},
            {XtNameToWidget(form, "separator2"), XmNbackground, panel},
            {db_gas_pressure_m, XmNforeground, black},
            {db_gas_pressure_i, XmNbackground, panel},
            {db_gas_mix_save_b, XmNforeground, black},
            {db_gas_mix_save_b, XmNbackground, menu},
            {XtNameToWidget(form, "label15"), XmNbackground, panel},
            {XtNameToWidget(form, "label15"), XmNforeground, red},
            {db_help_fr, XmNbackground, red},
            {db_help_t, XmNforeground, black},
            {db_help_t, XmNbackground, entry},
            {XtParent(db_help_t), XmNforeground, black},
            {XtParent(db_help_t), XmNbackground, panel},
        };
        for (const Row &r : table) {
            ASSERT_NE(r.w, nullptr);
            EXPECT_EQ(pixel_of(r.w, r.resource), colour_pixel(r.colour)) << XtName(r.w) << " " << r.resource;
        }
        EXPECT_STREQ(XtName(db_gas_pressure_m), "Gas pressure");
        EXPECT_EQ(label(db_gas_pressure_m), "F2+He gas pressure[bar]");
        open_gas_dialog();
        click(db_help_b);
        ASSERT_TRUE(pump_until([] { return viewable(db_help_f); }));
        EXPECT_EQ(window_title(db_gas_mix_f), " ");
        EXPECT_EQ(window_title(db_help_f), "Parameter configuration help");
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
            struct Case {
                const char *name;
                bool present;
                std::string content;
                bool type_first;
                std::string shown, message;
            } cases[] = {
                {"final newline", true, "abc\n", false, "abc", ""},
                {"no final newline", true, "abc", false, "ab", ""},
                {"empty file", true, "", false, "ab", "Help file is empty\n"},
                {"one byte", true, "x", false, "", ""},
                {"NUL inside", true, std::string("ab\0cd\n", 6), false, "ab", ""},
                {"typed text", true, "two\nlines\n", true, "two\nlines", ""},
                {"file gone", false, "", false, "two\nlines", "Help file could not be opened\n"},
            };
            for (const Case &c : cases) {
                SCOPED_TRACE(c.name);
                std::filesystem::remove(file);
                if (c.present)
                    write_file(file, c.content);
                if (c.type_first) {
                    type(db_help_t, "zz");
                    EXPECT_NE(text(db_help_t).find("zz"), std::string::npos) << "the help pane refused typing";
                }
                std::string before = text(db_msg_t);
                click(db_help_b);
                EXPECT_EQ(text(db_help_t), c.shown);
                EXPECT_EQ(text(db_msg_t).substr(before.size()), c.message);
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
    for (std::string line; std::getline(lines, line);) {
        EXPECT_LT(line.size(), 80u) << line;
        EXPECT_EQ(line.find('\t'), std::string::npos) << line;
    }
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
            EXPECT_EQ(text(db_help_t), shipped.substr(0, shipped.size() - 1));
            EXPECT_EQ(text(db_msg_t), "");
        },
        PROJECT_SOURCE_DIR);
}
