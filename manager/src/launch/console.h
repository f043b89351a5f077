// A console process held by a pidfd, never by its pid alone, so that a
// recycled pid is never hit; and duplicates of its database and X sockets,
// which show from outside when its one database connection has ended.
#pragma once

#include <sys/types.h>

struct Console {
    pid_t pid = 0;
    int pidfd = -1; // -1 for a child whose pidfd could not be opened: held by its pid until reaped
    bool child = false; // started here, so reaped here
    int db = -1, x = -1;
};

// Starts `argv` (argv[0] the program's path) as a child; false with errno set.
bool start_console(Console &c, char **argv);
// Holds a console this process did not start; false if it is gone.
bool hold_console(Console &c, pid_t pid);
enum class Sockets { watched, refused, gone };
// Takes duplicates of its database and X sockets; refused where this process
// may not (pidfd_getfd is refused on a hardened system).
Sockets take_sockets(Console &c);
bool watch_sockets(Console &c);
// Whether its database connection has ended, as seen now. A console holding
// none has lost it.
bool connection_ended(const Console &c);
bool console_ended(const Console &c);
bool signal_console(const Console &c, int sig);
// Ends it, unless it has ended already: TERM, then KILL if it is not gone
// within half a second; a child is reaped.
void end_console(Console &c);
// Reaps a child that has ended (its wait status) and lets go of it.
int release_console(Console &c);
// Reaps a child that has ended: true with its wait status; never waits.
bool reaped(Console &c, int &status);
