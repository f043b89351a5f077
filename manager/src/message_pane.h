// The message pane at the foot of the main window: the one way in which
// handlers tell the user something.
#pragma once

// Formats msg (printf notation, at most one conversion) with param into at
// most 80 characters and writes it at the pane's insertion position.
void db_print_msg(const char *msg, const char *param);
void db_print_msg(const char *msg, int param);

// Reports a negative SQL status of the last statement as
// "Database problem %d\n".
void db_check();
