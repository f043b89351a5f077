#pragma once

#include <X11/Xlib.h>

// The launcher's exit statuses beside the program's own (1: it could not open
// the database); the keeper reports not_shown for a console still starting.
enum Exit { not_started = 2, server_held = 3, lock_held = 4, not_shown = 5 };

// Starts the program (argv[0] its path) on `d` and stays beside it as its
// parent: writes the launcher's exit status to `report` once its main window
// is shown or it has ended, then watches its database connection and, when
// that has ended, ends the console and, if its window was showing, starts a
// new one in its place. Each of these steps is one line in the system log
// under the launcher's name. Returns when there is nothing left to keep: 0,
// or the first console's exit status if it never showed.
int keep(Display *d, char **argv, int report);
