// The F2+He gas mixture dialog and the help dialog, driven through the
// menu-bar buttons with real input under the window manager.
#include "testbed.h"

#include "store.h"

#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
#include <Xm/Scale.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <unistd.h>

using namespace testbed;
using GasDialog = StandardRow;
using HelpDialog = StandardRow;

// Whether the window manager's frame of `w` (its ancestor just below the
// root) is the topmost of the root's children.
static bool on_top(Window w)
{
    Window root = 0, parent = 0, *children = nullptr;
    unsigned int count = 0;
    for (; XQueryTree(display, w, &root, &parent, &children, &count); w = parent) {
        XFree(children);
        if (parent == root)
            break;
    }
    XQueryTree(display, root, &root, &parent, &children, &count);
    const bool top = count > 0 && children[count - 1] == w;
    XFree(children);
    return top;
}

// Holds button 1 near the right end of a slider's trough (inside its
// highlight and shadow) until the slider has travelled there.
static void drag_to_right_end(Widget scale)
{
    Widget bar = XtNameToWidget(scale, "Scrollbar");
    move_to(bar);
    XTestFakeRelativeMotionEvent(display, resource<Dimension>(bar, XmNwidth) / 2 - 8, 0, CurrentTime);
    XTestFakeButtonEvent(display, 1, True, CurrentTime);
    pump(2000);
    release();
}

// Both sliders show tenths. Save writes them back as they stand (the
// outside change is overwritten), finds nothing to update in an empty
// table, and reports a refused update with its code; the dialog stays.
TEST_F(GasDialog, SaveWritesTheSlidersAsShown)
{
    // Whether the table is empty at the start and the update refused, the
    // sliders shown and the row stored afterwards.
    for (const auto &[empty, refuse, mix, pressure, stored_after] :
         {std::tuple<bool, bool, int, int, Table>{false, false, 35, 80, {{"35", "80"}}},
          {true, false, 30, 100, {}},
          {false, true, 44, 80, {{"11", "12"}}}}) {
        SCOPED_TRACE(std::string(empty ? "empty" : "stored row") + (refuse ? ", refused" : ""));
        reset_database();
        if (empty)
            sql("delete from parameters");
        with_program([&] {
            for (Widget scale : {db_gas_mix_i, db_gas_pressure_i})
                EXPECT_EQ(resource<short>(scale, XmNdecimalPoints), 1) << XtName(scale);
            click(db_gas_mix_b);
            ASSERT_TRUE(pump_until([] { return viewable(db_gas_mix_f); })) << "the gas dialog did not come up";
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

// Colours follow the main window's rule; label15 and the help form set
// none of their own, so a user's resource reaches them and no other. Pressed
// while open, the button raises the dialog over a window that covers it,
// and neither reloads nor saves the sliders. Closing only hides
// the dialog: reopened, it shows the unsaved slider position while the
// database keeps the old value. Dragged to their right ends, the sliders
// then save their maxima.
TEST_F(GasDialog, BuiltLikeTheMainWindowRaisedOnPressAndKeptWhenClosed)
{
    TempDir dir;
    write_file(dir.path() + "/resources", "*label15.foreground: #ff0000\n*db_help_fr.background: #ff0000\n"
                                          "*db_gas_mix_m.foreground: #ff0000\n*db_help_t.background: #ff0000\n");
    setenv("XENVIRONMENT", (dir.path() + "/resources").c_str(), 1);
    with_program([] {
        const Pixel panel = colour_pixel("#babac2c2d9d9"), menu = colour_pixel("#8d8d9c9cc5c5"),
                    entry = colour_pixel("#f0f0f1f1f6f6"), black = colour_pixel("#000000000000"),
                    red = colour_pixel("#ff0000");
        // The gas form and its children: foreground black, the menu colour on
        // the separators and the user's on label15; background the panel's,
        // the menu colour on the save button.
        std::vector<Widget> gas{db_gas_mix_form};
        WidgetList children = resource<WidgetList>(db_gas_mix_form, XmNchildren);
        gas.insert(gas.end(), children, children + resource<Cardinal>(db_gas_mix_form, XmNnumChildren));
        ASSERT_EQ(gas.size(), 9u);
        for (Widget w : gas) {
            const std::string name = XtName(w);
            EXPECT_EQ(pixel_of(w, XmNforeground), name == "label15" ? red : name.rfind("separator", 0) ? black : menu)
                << name;
            EXPECT_EQ(pixel_of(w, XmNbackground), w == db_gas_mix_save_b ? menu : panel) << name;
        }
        EXPECT_EQ(pixel_of(db_help_fr, XmNbackground), red);
        for (auto [w, bg] : {std::pair{db_help_t, entry}, {XtParent(db_help_t), panel}})
            EXPECT_EQ(std::pair(pixel_of(w, XmNforeground), pixel_of(w, XmNbackground)), std::pair(black, bg))
                << XtName(w);
        EXPECT_EQ(std::string(XtName(db_gas_pressure_m)) + "|" + label(db_gas_pressure_m),
                  "Gas pressure|F2+He gas pressure[bar]");
        click(db_gas_mix_b);
        ASSERT_TRUE(pump_until([] { return viewable(db_gas_mix_f); })) << "the gas dialog did not come up";
        Display *other = XOpenDisplay(nullptr);
        XSetWindowAttributes unmanaged{};
        unmanaged.override_redirect = True;
        Window cover = XCreateWindow(other, DefaultRootWindow(other), resource<Position>(db_gas_mix_f, XmNx),
                                     resource<Position>(db_gas_mix_f, XmNy), 300, 300, 0, CopyFromParent, InputOutput,
                                     CopyFromParent, CWOverrideRedirect, &unmanaged);
        XMapWindow(other, cover);
        XSync(other, False);
        EXPECT_TRUE(pump_until([&] { return on_top(cover); })) << "the cover never got on top";
        XmScaleSetValue(db_gas_mix_i, 42);
        sql("update parameters set gas_value = 11");
        click(db_gas_mix_b);
        EXPECT_TRUE(pump_until([] { return on_top(XtWindow(db_gas_mix_f)); })) << "the dialog was not raised";
        XCloseDisplay(other);
        EXPECT_TRUE(viewable(db_gas_mix_f));
        EXPECT_EQ(std::pair(scale_value(db_gas_mix_i), scale_value(db_gas_pressure_i)), std::pair(42, 80));
        EXPECT_EQ(value("select gas_value from parameters") + "|" + text(db_msg_t), "11|");

        drag_to_right_end(db_gas_mix_i);
        ASSERT_EQ(scale_value(db_gas_mix_i), 50);
        move_to(db_gas_mix_form);
        key(XK_F12);
        ASSERT_TRUE(pump_until([] { return !viewable(db_gas_mix_f); })) << "the window manager did not close it";
        click(db_gas_mix_b);
        ASSERT_TRUE(pump_until([] { return viewable(db_gas_mix_f); })) << "the gas dialog did not come up";
        EXPECT_EQ(scale_value(db_gas_mix_i), 50);
        EXPECT_EQ(value("select gas_value from parameters"), "11");
        drag_to_right_end(db_gas_pressure_i);
        click(db_gas_mix_save_b);
        EXPECT_EQ(rows("select gas_value, gas_pressure from parameters"), (Table{{"50", "100"}}));
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
// shown. The load runs on the press, the dialog appears on the release. The
// help text that ships with the program has narrow lines and a final
// newline, explains every message and is shown whole from the project root.
TEST_F(HelpDialog, EveryPressReloadsTheFileAndTheShippedOneLoadsWhole)
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
            ASSERT_EQ(chdir(PROJECT_SOURCE_DIR), 0);
            set_text(db_msg_t, "");
            click(db_help_b);
            ASSERT_TRUE(pump_until([] { return viewable(db_help_f); }));
            EXPECT_EQ(text(db_help_t) + "|" + text(db_msg_t), shipped.substr(0, shipped.size() - 1) + "|");
        },
        dir.path());
}

