// Handles of every named widget, each named after its instance name, and
// the two-entry link table through which the main window pops up the
// dialogs. All are null until their window is built.
#pragma once

#include <X11/Intrinsic.h>

// Main window: shell, form, menu bar entries and the two panes.
extern Widget db_dummy_f, db_input_f;
extern Widget target_press_unit_sel, db_target_press_unit_sel;
extern Widget db_targ_press_bar, db_targ_press_kpa, db_targ_press_psi;
extern Widget db_vac_press_unit_sel, vac_press;
extern Widget db_vac_press_mbar, db_vac_press_kpa, db_vac_press_torr;
extern Widget db_act_unit_sel, activity, db_act_unit_mCi, db_act_unit_MBq;
extern Widget db_flow_unit_sel, flow, db_flow_unit_mlm, db_flow_unit_sccm;
extern Widget db_print_sel, print, db_print_ON, db_print_OFF;
extern Widget db_gas_mix_b, db_help_b;
extern Widget db_list_t, db_list_p, db_msg_t, db_msg_p;

// Operator panel.
extern Widget db_op_frame, db_op_p, db_opname_m, db_pwd_m, db_opname_i, db_pwd_i, db_op_label;
extern Widget db_list_b, db_add_b, db_remove_b, db_opname_oper, db_opname_info_pwd;

// Configuration-password panel.
extern Widget db_pwd_frame, db_pwd_p, db_conf_pwd_m, db_conf_pwd_i, db_pwd_label;
extern Widget db_read_conf_pwd_b, db_conf_pwd_b;

// Retention panel.
extern Widget db_save_frame, db_save_p, db_tracer_save_m, db_err_save_m;
extern Widget db_tracer_save_i, db_err_save_i, db_net_save_m, db_oper_save_m;
extern Widget db_net_save_i, db_oper_save_i, db_save_b, db_save_label;

// Gas mixture dialog.
extern Widget db_gas_mix_f, db_gas_mix_form, db_gas_mix_m, db_gas_mix_i;
extern Widget db_gas_pressure_m, db_gas_pressure_i, db_gas_mix_save_b;

// Help dialog.
extern Widget db_help_f, db_help_fr, db_help_t;

// [0] the gas mixture dialog's form, [1] the help dialog's form.
extern Widget xd_links[2];

// Builders.
void create_db_dummy_f(Display *display, char *app_name, int app_argc, char **app_argv);
void create_db_help_f(Widget parent);
void create_db_gas_mix_f(Widget parent);

// Manages the widget held in the Widget variable at client_data, if any.
void XDmanage_link(Widget w, XtPointer client_data, XtPointer call_data);
