// The three framed panels of the main window, built within the main
// window's phases: created in tree order, completed after the panes.
#pragma once

#include <X11/Intrinsic.h>

void create_operator_panel(Widget form);
void create_password_panel(Widget form);
void create_retention_panel(Widget form);

void complete_operator_panel();
void complete_password_panel();
void complete_retention_panel();
