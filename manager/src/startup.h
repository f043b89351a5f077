// Program start-up and the state it shares with the handlers.
#pragma once

#include <X11/Intrinsic.h>

extern XtAppContext app_context;
extern Display *display;

// Stored F2+He gas concentration and pressure, in tenths of a percent and
// tenths of a bar.
extern int db_gas_mix_value;
extern int db_gas_pressure_value;

// Brings up the toolkit, builds every window hidden, connects to the
// database, loads the stored values and realizes the main window. Ends the
// process with status 255 when no display can be opened and 1 when the
// database cannot be read.
void startup(int &argc, char **argv);

// Runs the event loop; if it ever returns, disconnects. Returns the exit
// status.
int run_event_loop();
