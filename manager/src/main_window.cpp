// The main window: application shell, form, menu bar with its five
// pulldowns and the gas mixture and Help buttons, and the paned window
// holding the list and message panes.
#include "builder.h"
#include "callbacks.h"
#include "panels.h"
#include "widgets.h"

#include <Xm/CascadeB.h>
#include <Xm/Form.h>
#include <Xm/PanedW.h>
#include <Xm/PushB.h>
#include <Xm/RowColumn.h>
#include <Xm/Text.h>

#include <array>

Widget db_dummy_f, db_input_f;
Widget target_press_unit_sel, db_target_press_unit_sel;
Widget db_targ_press_bar, db_targ_press_kpa, db_targ_press_psi;
Widget db_vac_press_unit_sel, vac_press;
Widget db_vac_press_mbar, db_vac_press_kpa, db_vac_press_torr;
Widget db_act_unit_sel, activity, db_act_unit_mCi, db_act_unit_MBq;
Widget db_flow_unit_sel, flow, db_flow_unit_mlm, db_flow_unit_sccm;
Widget db_print_sel, print, db_print_ON, db_print_OFF;
Widget db_gas_mix_b, db_help_b;
Widget db_list_t, db_list_p, db_msg_t, db_msg_p;

Widget xd_links[2];

namespace {

struct MenuEntry {
    Widget *handle;
    const char *name;
    const char *label;
    const char *key;
};

struct Pulldown {
    Widget *cascade;
    const char *cascade_name;
    int x;
    int height; // 0: not set
    const char *label;
    const char *mnemonic;
    Widget *menu;
    const char *menu_name;
    XtCallbackProc selection;
    std::size_t entry_count;
    std::array<MenuEntry, 3> entries;
};

// The five pulldowns in menu-bar order. The flow entry labelled "mL/min"
// is keyed "mlm".
const std::array<Pulldown, 5> pulldowns{{
    {&target_press_unit_sel, "target_press_unit_sel", 4, 0, "Target pressure", "T",
     &db_target_press_unit_sel, "db_target_press_unit_sel", db_target_press_unit_selection, 3,
     {{{&db_targ_press_bar, "db_targ_press_bar", "bar", "bar"},
       {&db_targ_press_kpa, "db_targ_press_kpa", "kPa", "kPa"},
       {&db_targ_press_psi, "db_targ_press_psi", "psi", "psi"}}}},
    {&db_vac_press_unit_sel, "db_vac_press_unit_sel", 108, 0, "Vacuum pressure", "V",
     &vac_press, "vac_press", db_vac_press_unit_selection, 3,
     {{{&db_vac_press_mbar, "db_vac_press_mbar", "mbar", "mbar"},
       {&db_vac_press_kpa, "db_vac_press_kpa", "kPa", "kPa"},
       {&db_vac_press_torr, "db_vac_press_torr", "torr", "torr"}}}},
    {&db_act_unit_sel, "db_act_unit_sel", 212, 0, "Activity", "A",
     &activity, "activity", db_act_unit_selection, 2,
     {{{&db_act_unit_mCi, "db_act_unit_mCi", "mCi", "mCi"},
       {&db_act_unit_MBq, "db_act_unit_MBq", "MBq", "MBq"}}}},
    {&db_flow_unit_sel, "db_flow_unit_sel", 274, 24, "Flow", "F",
     &flow, "flow", db_flow_unit_selection, 2,
     {{{&db_flow_unit_mlm, "db_flow_unit_mlm", "mL/min", "mlm"},
       {&db_flow_unit_sccm, "db_flow_unit_sccm", "sccm", "sccm"}}}},
    {&db_print_sel, "db_print_sel", 312, 0, "Automatic printing", "p",
     &print, "print", db_print_selection, 2,
     {{{&db_print_ON, "db_print_ON", "ON", "ON"},
       {&db_print_OFF, "db_print_OFF", "OFF", "OFF"}}}},
}};

void create_pulldown(Widget menu_bar, const Pulldown &p)
{
    Args cascade;
    cascade.set(XmNx, p.x).set(XmNy, 4);
    if (p.height)
        cascade.set(XmNheight, p.height);
    *p.cascade = cascade.fg(menu_bar)
                     .bg(colour::menu, menu_bar)
                     .label(p.label)
                     .set(XmNalignment, XmALIGNMENT_END)
                     .mnemonic(p.mnemonic, menu_bar)
                     .create(XmCreateCascadeButton, menu_bar, p.cascade_name);
    // A pulldown's colours are converted against its cascade button.
    *p.menu = Args().fg(*p.cascade).bg(colour::menu, *p.cascade).create(XmCreatePulldownMenu, menu_bar, p.menu_name);
    for (std::size_t i = 0; i < p.entry_count; ++i) {
        const MenuEntry &e = p.entries[i];
        *e.handle = Args().fg(*p.menu).bg(colour::menu, *p.menu).label(e.label).create(XmCreatePushButton, *p.menu, e.name);
    }
}

void complete_pulldown(const Pulldown &p)
{
    std::array<Widget, 3> entries{};
    for (std::size_t i = 0; i < p.entry_count; ++i) {
        const MenuEntry &e = p.entries[i];
        XtAddCallback(*e.handle, XmNactivateCallback, p.selection, const_cast<char *>(e.key));
        entries[i] = *e.handle;
    }
    XtManageChildren(entries.data(), static_cast<Cardinal>(p.entry_count));
    Args().set(XmNsubMenuId, reinterpret_cast<XtArgVal>(*p.menu)).apply(*p.cascade);
}

// A read-only scrolled text pane; returns its scrolled-window parent after
// giving it its height and colours.
Widget create_pane(Widget paned, const char *name, Widget &text, int rows, int parent_height, const char *parent_bg)
{
    text = Args()
               .set(XmNheight, 150)
               .fg(paned)
               .bg(colour::entry, paned)
               .set(XmNeditable, False)
               .set(XmNeditMode, XmMULTI_LINE_EDIT)
               .set(XmNrows, rows)
               .create(XmCreateScrolledText, paned, name);
    Widget parent = XtParent(text);
    Widget horizontal = nullptr, vertical = nullptr;
    XtVaGetValues(parent, XmNhorizontalScrollBar, &horizontal, XmNverticalScrollBar, &vertical, nullptr);
    Args().set(XmNheight, parent_height).fg(paned).bg(parent_bg, paned).apply(parent);
    return parent;
}

} // namespace

void create_db_dummy_f(Display *display, char *app_name, int app_argc, char **app_argv)
{
    Args shell;
    shell.set(XmNallowShellResize, True)
        .set(XmNtitle, reinterpret_cast<XtArgVal>("Parameter configuration"))
        .set(XmNdeleteResponse, XmUNMAP)
        .set(XtNiconic, False)
        .set(XtNargc, app_argc)
        .set(XtNargv, reinterpret_cast<XtArgVal>(app_argv));
    db_dummy_f = XtAppCreateShell(app_name, const_cast<char *>("param-config"), applicationShellWidgetClass, display,
                                  shell.list(), shell.count());

    db_input_f = Args()
                     .bg(colour::panel, db_dummy_f)
                     .string(XmNdialogTitle, "Parameter configuration")
                     .set(XmNautoUnmanage, False)
                     .create(XmCreateForm, db_dummy_f, "db_input_f");
    Widget menuBar1 = Args()
                          .fg(db_input_f)
                          .bg(colour::menu, db_input_f)
                          .set(XmNpacking, XmPACK_TIGHT)
                          .set(XmNentryAlignment, XmALIGNMENT_END)
                          .create(XmCreateMenuBar, db_input_f, "menuBar1");
    for (const Pulldown &p : pulldowns)
        create_pulldown(menuBar1, p);
    db_gas_mix_b = Args()
                       .fg(menuBar1)
                       .bg(colour::menu, menuBar1)
                       .label("F2+He gas concentration")
                       .create(XmCreateCascadeButton, menuBar1, "db_gas_mix_b");
    db_help_b = Args()
                    .fg(menuBar1)
                    .bg(colour::menu, menuBar1)
                    .label("Help")
                    .mnemonic("H", menuBar1)
                    .create(XmCreateCascadeButton, menuBar1, "db_help_b");
    Args().set(XmNmenuHelpWidget, reinterpret_cast<XtArgVal>(db_help_b)).apply(menuBar1);

    create_operator_panel(db_input_f);
    create_password_panel(db_input_f);
    Widget panedWindow2 = XmCreatePanedWindow(db_input_f, const_cast<char *>("panedWindow2"), nullptr, 0);
    db_list_p = create_pane(panedWindow2, "db_list_t", db_list_t, 16, 250, colour::panel);
    db_msg_p = create_pane(panedWindow2, "db_msg_t", db_msg_t, 5, 100, colour::entry);
    create_retention_panel(db_input_f);

    attach(menuBar1, form(10), none(), form(10), position(100));
    attach(db_op_frame, form(60), opposite_form(-210), form(12), opposite_form(-301));
    attach(db_pwd_frame, form(63), opposite_form(-210), form(350), opposite_form(-539));
    attach(panedWindow2, widget(db_save_frame, 10), form(10), form(10), opposite_form(-690));
    attach(db_save_frame, form(250), none(), form(10), form(10));

    for (const Pulldown &p : pulldowns)
        complete_pulldown(p);
    XtAddCallback(db_gas_mix_b, XmNactivateCallback, XDmanage_link, &xd_links[0]);
    XtAddCallback(db_gas_mix_b, XmNcascadingCallback, db_gas_mix_btn, nullptr);
    XtAddCallback(db_gas_mix_b, XmNactivateCallback, db_gas_mix_btn, nullptr);
    XtAddCallback(db_help_b, XmNactivateCallback, XDmanage_link, &xd_links[1]);
    XtAddCallback(db_help_b, XmNcascadingCallback, db_help_btn, nullptr);
    manage_together(target_press_unit_sel, db_vac_press_unit_sel, db_act_unit_sel, db_flow_unit_sel, db_print_sel,
                    db_gas_mix_b, db_help_b);

    complete_operator_panel();
    complete_password_panel();
    XtManageChild(db_list_t);
    XtManageChild(db_msg_t);
    complete_retention_panel();
    manage_together(menuBar1, db_op_frame, db_pwd_frame, panedWindow2, db_save_frame);
    XtManageChild(db_input_f);
}

void XDmanage_link(Widget, XtPointer client_data, XtPointer)
{
    auto *link = static_cast<Widget *>(client_data);
    if (link && *link)
        XtManageChild(*link);
}
