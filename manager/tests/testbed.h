// The test bed: the real program started in a forked child against the X
// server named by DISPLAY and the cluster named by PGHOST (both made for the
// run by check.sh), real input through XTest, and the database read back
// through libpq, with the statements the server logged for the program.
#pragma once

#include <gtest/gtest.h> // before any X header, whose macros would break it

#include "startup.h"
#include "widgets.h"

#include <Xm/Xm.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

namespace testbed {

// The login the program runs as: a member of the tool's least-privilege role.
constexpr const char *clerk = "clerk";
// The application name the program gives the server, which marks its lines
// in the statement log.
constexpr const char *program_app = "under-test";

// Runs SQL as `user` (the superuser by default). Returns every row as
// "field|field\n", or "ERROR sqlstate" when the server refused.
std::string sql(const std::string &statements, const char *user = nullptr);
// Empties both tables and stores the standard row: gas 35 and 80, every code
// '1', days 365, 90, 31, 180, configuration password "secret".
void reset_database();
// Each column of both tables as key and value: "flow_unit" for parameters,
// "name.password" for an operator. Passwords are deciphered here, with the
// key the stored form uses, and padding blanks dropped.
std::map<std::string, std::string> snapshot();
// What changed between two snapshots, "key=value ..." in key order; a
// removed key has an empty value. As audited, passwords show as "changed".
std::string diff(const std::map<std::string, std::string> &before, const std::map<std::string, std::string> &after,
                 bool as_audited = false);
// The same as the audit trail records it after audit mark `since`.
std::string audited_since(const std::string &since);
// The program's statements in the server's log from byte offset `from` on,
// one a line; log_size() gives the offset now.
long log_size();
std::string statements_since(long from);

// Graph definition files and scratch files.
constexpr const char *graph_def = "/home/Kelvaron/graph/graph.def";
constexpr const char *graph_save = "/home/Kelvaron/graph/graph.save";
void write_file(const std::string &path, const std::string &content);
std::string read_file(const std::string &path); // "<none>" when it cannot be read

// Forks; the child runs the program's real start-up with `env` set (name,
// value pairs), handles events until the main window is mapped, runs `body`
// and ends with status 0 only if no assertion failed there.
void with_program(const std::function<void()> &body, const std::vector<std::string> &env = {});
// Runs the built binary; its exit status (-1: killed or out of time) and
// what it wrote to standard output and standard error.
struct Outcome { int status; std::string out, err; };
Outcome run_binary(const std::vector<std::string> &env, int timeout_ms = 15000);

// Handles toolkit events until `done` holds or the time is out.
bool pump_until(const std::function<bool()> &done, int timeout_ms = 3000);
void pump(int ms);
bool viewable(Widget w);

// Real input through XTest.
void press(Widget w); // pointer to the middle of w, button 1 down
void release();
void click(Widget w);
void key(unsigned long keysym);
void type(Widget field, const std::string &text); // clears the field, clicks into it, types
void choose(Widget cascade, Widget entry);        // a menu bar entry through its pulldown

std::string text(Widget w); // XmTextGetString
int value(Widget scale);

} // namespace testbed
