// The test bed: the real program started in a child process against the
// X server named by DISPLAY and the private PostgreSQL cluster named by
// PGHOST, real input through XTest, and direct access to the database and
// the graph directory.
#pragma once

// Before any X header: X's macros (None, Bool, Status) would break it.
#include <gtest/gtest.h>

#include "startup.h"
#include "widgets.h"

#include <Xm/Xm.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace testbed {

// ---- Database, through libpq on the test cluster ----

using Table = std::vector<std::vector<std::string>>;

// Runs statements; a failure fails the current test.
void sql(const std::string &statements);
// Every row of a query, NULL read as "<null>".
Table rows(const std::string &query);
// First column of the first row, "<none>" when there is no row.
std::string value(const std::string &query);
// Empties both tables and stores the standard row: gas 35 and 80, every
// code '1', days 365, 90, 31, 180, configuration password "secret".
void reset_database();
// Stored bytes of the XOR-0x0E cipher: as they are, and as an SQL literal.
std::string enciphered(std::string clear);
std::string enciphered_literal(const std::string &clear);
// A fixture that starts every test from reset_database().
struct StandardRow : ::testing::Test { void SetUp() override { reset_database(); } };

// ---- Files ----

constexpr const char *graph_dir = "/home/Kelvaron/graph";
constexpr const char *graph_def = "/home/Kelvaron/graph/graph.def";
constexpr const char *graph_save = "/home/Kelvaron/graph/graph.save";

// Leaves an empty, writable graph directory.
void clean_graph_dir();
void write_file(const std::string &path, const std::string &content);
std::string read_file(const std::string &path);
bool exists(const std::string &path);

// A fresh directory below /tmp, removed with its content on destruction.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;
    const std::string &path() const { return path_; }

private:
    std::string path_;
};

// ---- The program ----

// Forks and runs `body` in the child, which ends with status 0 only if no
// assertion failed there; the calling test fails otherwise.
void in_child(const std::function<void()> &body);

// Forks; the child changes to `cwd` (if given), runs the program's real
// start-up with argv[0] "param-config", processes events until the main
// window is mapped, runs `body` and ends with status 0 only if no
// assertion failed. The calling test fails unless the child ends so.
void with_program(const std::function<void()> &body, const std::string &cwd = {});

// Runs the built binary with extra environment settings (name, value; a
// null-like value "<unset>" removes the variable), capturing stdout and
// stderr. The exit status is -1 when the binary was killed or did not end
// in time.
struct Outcome { int exit_status = -1; std::string out, err; };
Outcome run_binary(const std::vector<std::string> &args,
                   const std::vector<std::pair<std::string, std::string>> &env = {}, int timeout_ms = 20000);

// Processes toolkit events for `ms` milliseconds.
void pump(int ms);
// Processes events until `done` holds; false on time-out.
bool pump_until(const std::function<bool()> &done, int timeout_ms = 5000);
// Whether the widget's window is viewable on the screen.
bool viewable(Widget w);

// ---- Real input, through XTest ----

void move_to(Widget w);
void press(Widget w);   // moves the pointer over w, presses button 1
void release();         // releases button 1 where the pointer is
void click(Widget w);   // press, 300 ms, release, and the events handled
void type(Widget w, const std::string &text); // clicks into w, then types
void key(KeySym sym);   // one press and release of the key
// Opens the pulldown from its cascade button and clicks the entry in it.
void choose_from_menu(Widget cascade, Widget menu, Widget entry);

// ---- What the user sees ----

// A resource's value, read as its own type T.
template <typename T> T resource(Widget w, const char *name)
{
    T v{};
    XtVaGetValues(w, name, &v, nullptr);
    return v;
}
std::string text(Widget w);        // XmTextGetString
// XmTextSetString: unlike typing, not held to the field's maximum length.
void set_text(Widget w, const std::string &s);
int scale_value(Widget w);
std::string label(Widget w);       // XmNlabelString as plain text
Pixel pixel_of(Widget w, const char *resource);
Pixel colour_pixel(const char *colour); // the colour as the screen shows it
std::string class_name(Widget w);

} // namespace testbed
