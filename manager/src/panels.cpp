// The operator, configuration-password and retention panels: each a frame
// holding a form, placed in the main window's form.
#include "panels.h"

#include "builder.h"
#include "callbacks.h"
#include "widgets.h"

#include <Xm/CascadeB.h>
#include <Xm/Form.h>
#include <Xm/Frame.h>
#include <Xm/Label.h>
#include <Xm/PushB.h>
#include <Xm/RowColumn.h>
#include <Xm/Scale.h>
#include <Xm/TextF.h>

#include <tuple>

Widget db_op_frame, db_op_p, db_opname_m, db_pwd_m, db_opname_i, db_pwd_i, db_op_label;
Widget db_list_b, db_add_b, db_remove_b, db_opname_oper, db_opname_info_pwd;
Widget db_pwd_frame, db_pwd_p, db_conf_pwd_m, db_conf_pwd_i, db_pwd_label;
Widget db_read_conf_pwd_b, db_conf_pwd_b;
Widget db_save_frame, db_save_p, db_tracer_save_m, db_err_save_m;
Widget db_tracer_save_i, db_err_save_i, db_net_save_m, db_oper_save_m;
Widget db_net_save_i, db_oper_save_i, db_save_b, db_save_label;

namespace {

// Layout containers no handler touches; kept only between creation and
// completion.
Widget rowcol1, rowcol2, menuBar3, rowcol3, rowcol4, menuBar4, rowcol7, rowcol8, rowcol9, rowcol11;

Widget frame(Widget form, const char *name)
{
    return Args().bg(colour::panel, form).create(XmCreateFrame, form, name);
}


Widget caption(Widget parent, const char *name, const char *text, bool left = true)
{
    Args args;
    args.on_panel(parent).label(text);
    if (left)
        args.set(XmNalignment, XmALIGNMENT_BEGINNING);
    return args.create(XmCreateLabel, parent, name);
}

Widget panel_button(Widget menu_bar, const char *name, const char *text)
{
    return Args().fg(menu_bar).bg(colour::menu, menu_bar).label(text).create(XmCreateCascadeButton, menu_bar, name);
}

Widget slider(Widget parent, const char *name, int y, int maximum)
{
    return Args()
        .set(XmNx, 3)
        .set(XmNy, y)
        .set(XmNwidth, 78)
        .set(XmNheight, 37)
        .on_panel(parent)
        .set(XmNshowValue, True)
        .set(XmNminimum, 1)
        .set(XmNvalue, 1)
        .set(XmNorientation, XmHORIZONTAL)
        .set(XmNprocessingDirection, XmMAX_ON_RIGHT)
        .set(XmNscaleMultiple, 1)
        .set(XmNmaximum, maximum)
        .create(XmCreateScale, parent, name);
}

} // namespace

void create_operator_panel(Widget form)
{
    db_op_frame = frame(form, "db_op_frame");
    db_op_p = Args().on_panel(db_op_frame).create(XmCreateForm, db_op_frame, "db_op_p");
    rowcol1 = Args().on_panel(db_op_p).set(XmNspacing, 17).create(XmCreateRowColumn, db_op_p, "rowcol1");
    db_opname_m = caption(rowcol1, "db_opname_m", "Operator:");
    db_pwd_m = caption(rowcol1, "db_pwd_m", "Password:");
    rowcol2 = Args().set(XmNheight, 150).on_panel(db_op_p)
                  .set(XmNpacking, XmPACK_NONE)
                  .create(XmCreateRowColumn, db_op_p, "rowcol2");
    for (auto [field, name, y] : {std::tuple{&db_opname_i, "db_opname_i", 1}, std::tuple{&db_pwd_i, "db_pwd_i", 32}}) {
        *field = Args()
                     .set(XmNx, 12)
                     .set(XmNy, y)
                     .set(XmNwidth, 61)
                     .set(XmNheight, 26)
                     .fg(rowcol2)
                     .bg(colour::entry, rowcol2)
                     .set(XmNmaxLength, 5)
                     .set(XmNcolumns, 5)
                     .create(XmCreateTextField, rowcol2, name);
    }
    db_op_label = caption(db_op_p, "db_op_label", "Production operators");
    menuBar3 = XmCreateMenuBar(db_op_p, const_cast<char *>("menuBar3"), nullptr, 0);
    db_list_b = panel_button(menuBar3, "db_list_b", "List");
    db_add_b = panel_button(menuBar3, "db_add_b", "Add");
    db_remove_b = panel_button(menuBar3, "db_remove_b", "Remove");
    db_opname_oper = caption(db_op_p, "db_opname_info_oper", "(A - Z, a - z)");
    db_opname_info_pwd = caption(db_op_p, "db_opname_info_pwd", "(A - Z, a - z)");
}

void create_password_panel(Widget form)
{
    db_pwd_frame = frame(form, "db_pwd_frame");
    db_pwd_p = Args().on_panel(db_pwd_frame).create(XmCreateForm, db_pwd_frame, "db_pwd_p");
    rowcol3 = Args().on_panel(db_pwd_p).create(XmCreateRowColumn, db_pwd_p, "rowcol3");
    db_conf_pwd_m = caption(rowcol3, "db_conf_pwd_m", "Password");
    rowcol4 = Args().on_panel(db_pwd_p).create(XmCreateRowColumn, db_pwd_p, "rowcol4");
    db_conf_pwd_i = Args()
                        .fg(rowcol4)
                        .bg(colour::entry, rowcol4)
                        .set(XmNmaxLength, 8)
                        .set(XmNcolumns, 9)
                        .create(XmCreateTextField, rowcol4, "db_conf_pwd_i");
    db_pwd_label = caption(db_pwd_p, "db_pwd_label", "Configuration password");
    menuBar4 = XmCreateMenuBar(db_pwd_p, const_cast<char *>("menuBar4"), nullptr, 0);
    db_read_conf_pwd_b = panel_button(menuBar4, "db_read_conf_pwd_b", "Read");
    db_conf_pwd_b = panel_button(menuBar4, "db_conf_pwd_b", "Set");
}

void create_retention_panel(Widget form)
{
    db_save_frame = frame(form, "db_save_frame");
    db_save_p = Args().on_panel(db_save_frame).create(XmCreateForm, db_save_frame, "db_save_p");
    rowcol7 = Args().on_panel(db_save_p).set(XmNspacing, 17).create(XmCreateRowColumn, db_save_p, "rowcol7");
    db_tracer_save_m = caption(rowcol7, "db_tracer_save_m", "\nProduction reports:");
    db_err_save_m = caption(rowcol7, "db_err_save_m", "Event log:");
    rowcol8 = Args().on_panel(db_save_p)
                  .set(XmNspacing, 1)
                  .set(XmNorientation, XmVERTICAL)
                  .create(XmCreateRowColumn, db_save_p, "rowcol8");
    db_tracer_save_i = slider(rowcol8, "db_tracer_save_i", 3, 1000);
    db_err_save_i = slider(rowcol8, "db_err_save_i", 41, 1000);
    rowcol9 = Args().on_panel(db_save_p).set(XmNspacing, 17).create(XmCreateRowColumn, db_save_p, "rowcol9");
    db_net_save_m = caption(rowcol9, "db_net_save_m", "\nNet log:", false);
    db_oper_save_m = caption(rowcol9, "db_oper_save_m", "Operator reports:", false);
    rowcol11 = Args().on_panel(db_save_p)
                   .set(XmNspacing, 1)
                   .set(XmNorientation, XmVERTICAL)
                   .create(XmCreateRowColumn, db_save_p, "rowcol11");
    db_net_save_i = slider(rowcol11, "db_net_save_i", 3, 62);
    db_oper_save_i = slider(rowcol11, "db_oper_save_i", 41, 1000);
    db_save_b = Args().fg(db_save_p).bg(colour::menu, db_save_p).label("Save").create(XmCreatePushButton, db_save_p, "db_save_b");
    db_save_label = caption(db_save_p, "db_save_label", " ");
}

void complete_operator_panel()
{
    attach(rowcol1, widget(db_op_label, 10), none(), form(9), none());
    attach(rowcol2, form(34), opposite_form(-96), form(83), opposite_form(-147));
    attach(db_op_label, form(10), none(), form(9), none());
    attach(menuBar3, form(110), opposite_form(-140), form(10), opposite_form(-182));
    attach(db_opname_oper, form(42), opposite_form(-56), form(149), opposite_form(-233));
    attach(db_opname_info_pwd, form(71), opposite_form(-85), form(149), opposite_form(-233));
    manage_together(db_opname_m, db_pwd_m);
    manage_together(db_opname_i, db_pwd_i);
    XtAddCallback(db_list_b, XmNcascadingCallback, db_list_btn, nullptr);
    XtAddCallback(db_add_b, XmNcascadingCallback, db_add_btn, nullptr);
    XtAddCallback(db_remove_b, XmNcascadingCallback, db_remove_btn, nullptr);
    manage_together(db_list_b, db_add_b, db_remove_b);
    manage_together(rowcol1, rowcol2, db_op_label, menuBar3, db_opname_oper, db_opname_info_pwd);
    XtManageChild(db_op_p);
}

void complete_password_panel()
{
    attach(rowcol3, widget(db_pwd_label, 10), none(), form(10), none());
    attach(rowcol4, opposite_widget(rowcol3, 0), none(), form(97), form(10));
    attach(db_pwd_label, form(10), none(), form(10), form(10));
    attach(menuBar4, form(110), form(5), form(10), form(10));
    XtManageChild(db_conf_pwd_m);
    XtManageChild(db_conf_pwd_i);
    XtAddCallback(db_read_conf_pwd_b, XmNcascadingCallback, db_read_conf_pwd_btn, nullptr);
    XtAddCallback(db_conf_pwd_b, XmNcascadingCallback, db_conf_pwd_btn, nullptr);
    manage_together(db_read_conf_pwd_b, db_conf_pwd_b);
    manage_together(rowcol3, rowcol4, db_pwd_label, menuBar4);
    XtManageChild(db_pwd_p);
}

void complete_retention_panel()
{
    attach(rowcol7, widget(db_save_label, 10), opposite_form(-120), form(9), opposite_form(-140));
    attach(rowcol8, widget(db_save_label, 10), opposite_widget(rowcol7, 0), widget(rowcol7, 10), opposite_form(-310));
    attach(rowcol9, opposite_widget(rowcol8, 0), opposite_widget(rowcol8, 0), form(330), opposite_form(-460));
    attach(rowcol11, form(40), opposite_widget(rowcol9, 0), widget(rowcol9, 10), form(10));
    attach(db_save_b, form(130), form(10), form(10), none());
    attach(db_save_label, form(10), none(), form(9), none());
    manage_together(db_tracer_save_m, db_err_save_m);
    manage_together(db_tracer_save_i, db_err_save_i);
    manage_together(db_net_save_m, db_oper_save_m);
    manage_together(db_net_save_i, db_oper_save_i);
    XtAddCallback(db_save_b, XmNactivateCallback, db_save_store_parameters_btn, nullptr);
    manage_together(rowcol7, rowcol8, rowcol9, rowcol11, db_save_b, db_save_label);
    XtManageChild(db_save_p);
}
