// The program's toolkit callbacks, each with the (widget, client data,
// call data) signature.
#pragma once

#include <X11/Intrinsic.h>

// Menu entries; client data is the entry's key string.
void db_target_press_unit_selection(Widget w, XtPointer client_data, XtPointer call_data);
void db_vac_press_unit_selection(Widget w, XtPointer client_data, XtPointer call_data);
void db_act_unit_selection(Widget w, XtPointer client_data, XtPointer call_data);
void db_flow_unit_selection(Widget w, XtPointer client_data, XtPointer call_data);
void db_print_selection(Widget w, XtPointer client_data, XtPointer call_data);

// Panels.
void db_list_btn(Widget w, XtPointer client_data, XtPointer xt_call_data);
void db_add_btn(Widget w, XtPointer client_data, XtPointer xt_call_data);
void db_remove_btn(Widget w, XtPointer client_data, XtPointer xt_call_data);
void db_read_conf_pwd_btn(Widget w, XtPointer client_data, XtPointer xt_call_data);
void db_conf_pwd_btn(Widget w, XtPointer client_data, XtPointer xt_call_data);
void db_save_store_parameters_btn(Widget w, XtPointer client_data, XtPointer call_data);

// Dialogs.
void db_gas_mix_btn(Widget w, XtPointer client_data, XtPointer xt_call_data);
void db_gas_mix_save_btn(Widget w, XtPointer client_data, XtPointer xt_call_data);
void db_help_btn(Widget w, XtPointer client_data, XtPointer xt_call_data);

// Start-up's load of the four retention periods into their scales.
void db_init();
