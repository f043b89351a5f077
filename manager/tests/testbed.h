// The test bed: the real program started in a forked child against the X
// server and the cluster that check.sh made for the run, real input through
// XTest, the database read back through libpq, and the statements the server
// logged for the program.
#pragma once

#include <gtest/gtest.h> // before any X header, whose macros would break it

#include "startup.h"
#include "widgets.h"

#include <functional>
#include <string>
#include <vector>

namespace testbed {

// The program runs as a member of the tool's least-privilege role, under an
// application name that marks its lines in the statement log.
constexpr const char *clerk = "clerk", *program_app = "under-test";
constexpr const char *graph_def = "/home/Kelvaron/graph/graph.def", *graph_save = "/home/Kelvaron/graph/graph.save";

// SQL as `user` (the superuser by default): the rows as "field|field", a
// line each, or "ERROR sqlstate".
std::string sql(const std::string &statements, const char *user = nullptr);
// Both tables emptied, then the standard row: gas 35 and 80, every code '1',
// days 365, 90, 31, 180, configuration password "secret"; then `then`, whose
// last result is returned.
std::string reset_database(const std::string &then = "");
// The program's statements in the server's log after byte `from`, a line each.
long log_size();
std::string statements_since(long from);

std::string read_file(const std::string &path); // "<none>" if unreadable

// Forks: the child starts the program with `env` set (name, value, ...),
// waits for the main window, runs `body` and passes only if nothing failed.
// TESTBED_JOIN_NET=/proc/PID/ns/net among them puts it in that network.
void with_program(const std::function<void()> &body, const std::vector<std::string> &env = {});

// The test process made the subreaper of what it starts, so that whatever a
// launcher leaves running becomes its child: ended by pid on every way out.
struct Subreaper {
    Subreaper();
    ~Subreaper();
    static std::string children(int pid = 0); // "PID PID ...", of this process unless told
    void end() const;
};

bool pump_until(const std::function<bool()> &done, int timeout_ms = 3000);
bool viewable(Widget w);
// Real input: a button (1 unless told) over the middle of a widget, keys, a menu bar entry.
void press(Widget w, unsigned int button = 1);
void release(unsigned int button = 1);
void click(Widget w);
// A slider's thumb dragged with button 2 to the far end: right, or left.
void drag(Widget scale, bool right);
// Whether a's window stands above b's among the window manager's frames.
bool above(Widget a, Widget b);
void type(Widget field, const std::string &text); // emptied first; unshifted keys only
void choose(Widget cascade, Widget entry);
void open_gas();
void save_gas(); // the gas dialog opened, its Save pressed
// Whether a text pane shows any text: its window drawn in the foreground colour.
bool inked(Widget w);
std::string text(Widget w);
void put(Widget w, const std::string &text); // what typing could not enter
// What the two gas sliders and the four retention scales show, in that order.
std::vector<std::string> sliders();

} // namespace testbed
