// The main window as built: names, kinds, labels, colours, ranges and
// layout, the colour rule on its own, and the dialog links.
#include "testbed.h"

#include "builder.h"
#include "startup.h"
#include "widgets.h"

#include <X11/keysym.h>
#include <Xm/CascadeB.h>
#include <Xm/Form.h>
#include <Xm/Label.h>
#include <Xm/RowColumn.h>
#include <Xm/Scale.h>
#include <Xm/TextF.h>

#include <string>

using namespace testbed;

namespace {

class MainWindow : public ::testing::Test {
protected:
    void SetUp() override { reset_database(); }
};

enum Role { none, panel, menu, entry };

struct Expected {
    Widget *handle;
    const char *name;
    const char *kind;
    const char *parent; // instance name of the parent ("" for the shell)
    const char *label;  // null: no label to check
    Role bg;
    bool fg;
};

const char *role_colour(Role role)
{
    switch (role) {
    case panel: return "#babac2c2d9d9";
    case menu: return "#8d8d9c9cc5c5";
    case entry: return "#f0f0f1f1f6f6";
    case none: break;
    }
    return nullptr;
}

// Every named widget of the main window in creation order.
const Expected tree[] = {
    {&db_input_f, "db_input_f", "XmForm", "param-config", nullptr, panel, false},
    {&target_press_unit_sel, "target_press_unit_sel", "XmCascadeButton", "menuBar1", "Target pressure", menu, true},
    {&db_target_press_unit_sel, "db_target_press_unit_sel", "XmRowColumn", "menuBar1", nullptr, menu, true},
    {&db_targ_press_bar, "db_targ_press_bar", "XmPushButton", "db_target_press_unit_sel", "bar", menu, true},
    {&db_targ_press_kpa, "db_targ_press_kpa", "XmPushButton", "db_target_press_unit_sel", "kPa", menu, true},
    {&db_targ_press_psi, "db_targ_press_psi", "XmPushButton", "db_target_press_unit_sel", "psi", menu, true},
    {&db_vac_press_unit_sel, "db_vac_press_unit_sel", "XmCascadeButton", "menuBar1", "Vacuum pressure", menu, true},
    {&vac_press, "vac_press", "XmRowColumn", "menuBar1", nullptr, menu, true},
    {&db_vac_press_mbar, "db_vac_press_mbar", "XmPushButton", "vac_press", "mbar", menu, true},
    {&db_vac_press_kpa, "db_vac_press_kpa", "XmPushButton", "vac_press", "kPa", menu, true},
    {&db_vac_press_torr, "db_vac_press_torr", "XmPushButton", "vac_press", "torr", menu, true},
    {&db_act_unit_sel, "db_act_unit_sel", "XmCascadeButton", "menuBar1", "Activity", menu, true},
    {&activity, "activity", "XmRowColumn", "menuBar1", nullptr, menu, true},
    {&db_act_unit_mCi, "db_act_unit_mCi", "XmPushButton", "activity", "mCi", menu, true},
    {&db_act_unit_MBq, "db_act_unit_MBq", "XmPushButton", "activity", "MBq", menu, true},
    {&db_flow_unit_sel, "db_flow_unit_sel", "XmCascadeButton", "menuBar1", "Flow", menu, true},
    {&flow, "flow", "XmRowColumn", "menuBar1", nullptr, menu, true},
    {&db_flow_unit_mlm, "db_flow_unit_mlm", "XmPushButton", "flow", "mL/min", menu, true},
    {&db_flow_unit_sccm, "db_flow_unit_sccm", "XmPushButton", "flow", "sccm", menu, true},
    {&db_print_sel, "db_print_sel", "XmCascadeButton", "menuBar1", "Automatic printing", menu, true},
    {&print, "print", "XmRowColumn", "menuBar1", nullptr, menu, true},
    {&db_print_ON, "db_print_ON", "XmPushButton", "print", "ON", menu, true},
    {&db_print_OFF, "db_print_OFF", "XmPushButton", "print", "OFF", menu, true},
    {&db_gas_mix_b, "db_gas_mix_b", "XmCascadeButton", "menuBar1", "F2+He gas concentration", menu, true},
    {&db_help_b, "db_help_b", "XmCascadeButton", "menuBar1", "Help", menu, true},
    {&db_op_frame, "db_op_frame", "XmFrame", "db_input_f", nullptr, panel, false},
    {&db_op_p, "db_op_p", "XmForm", "db_op_frame", nullptr, panel, true},
    {&db_opname_m, "db_opname_m", "XmLabel", "rowcol1", "Operator:", panel, true},
    {&db_pwd_m, "db_pwd_m", "XmLabel", "rowcol1", "Password:", panel, true},
    {&db_opname_i, "db_opname_i", "XmTextField", "rowcol2", nullptr, entry, true},
    {&db_pwd_i, "db_pwd_i", "XmTextField", "rowcol2", nullptr, entry, true},
    {&db_op_label, "db_op_label", "XmLabel", "db_op_p", "Production operators", panel, true},
    {&db_list_b, "db_list_b", "XmCascadeButton", "menuBar3", "List", menu, true},
    {&db_add_b, "db_add_b", "XmCascadeButton", "menuBar3", "Add", menu, true},
    {&db_remove_b, "db_remove_b", "XmCascadeButton", "menuBar3", "Remove", menu, true},
    {&db_opname_oper, "db_opname_info_oper", "XmLabel", "db_op_p", "(A - Z, a - z)", panel, true},
    {&db_opname_info_pwd, "db_opname_info_pwd", "XmLabel", "db_op_p", "(A - Z, a - z)", panel, true},
    {&db_pwd_frame, "db_pwd_frame", "XmFrame", "db_input_f", nullptr, panel, false},
    {&db_pwd_p, "db_pwd_p", "XmForm", "db_pwd_frame", nullptr, panel, true},
    {&db_conf_pwd_m, "db_conf_pwd_m", "XmLabel", "rowcol3", "Password", panel, true},
    {&db_conf_pwd_i, "db_conf_pwd_i", "XmTextField", "rowcol4", nullptr, entry, true},
    {&db_pwd_label, "db_pwd_label", "XmLabel", "db_pwd_p", "Configuration password", panel, true},
    {&db_read_conf_pwd_b, "db_read_conf_pwd_b", "XmCascadeButton", "menuBar4", "Read", menu, true},
    {&db_conf_pwd_b, "db_conf_pwd_b", "XmCascadeButton", "menuBar4", "Set", menu, true},
    {&db_list_t, "db_list_t", "XmText", "db_list_tSW", nullptr, entry, true},
    {&db_list_p, "db_list_tSW", "XmScrolledWindow", "panedWindow2", nullptr, panel, true},
    {&db_msg_t, "db_msg_t", "XmText", "db_msg_tSW", nullptr, entry, true},
    {&db_msg_p, "db_msg_tSW", "XmScrolledWindow", "panedWindow2", nullptr, entry, true},
    {&db_save_frame, "db_save_frame", "XmFrame", "db_input_f", nullptr, panel, false},
    {&db_save_p, "db_save_p", "XmForm", "db_save_frame", nullptr, panel, true},
    {&db_tracer_save_m, "db_tracer_save_m", "XmLabel", "rowcol7", "\nProduction reports:", panel, true},
    {&db_err_save_m, "db_err_save_m", "XmLabel", "rowcol7", "Event log:", panel, true},
    {&db_tracer_save_i, "db_tracer_save_i", "XmScale", "rowcol8", nullptr, panel, true},
    {&db_err_save_i, "db_err_save_i", "XmScale", "rowcol8", nullptr, panel, true},
    {&db_net_save_m, "db_net_save_m", "XmLabel", "rowcol9", "\nNet log:", panel, true},
    {&db_oper_save_m, "db_oper_save_m", "XmLabel", "rowcol9", "Operator reports:", panel, true},
    {&db_net_save_i, "db_net_save_i", "XmScale", "rowcol11", nullptr, panel, true},
    {&db_oper_save_i, "db_oper_save_i", "XmScale", "rowcol11", nullptr, panel, true},
    {&db_save_b, "db_save_b", "XmPushButton", "db_save_p", "Save", menu, true},
    {&db_save_label, "db_save_label", "XmLabel", "db_save_p", " ", panel, true},
};

// A pulldown menu hangs below its menu shell.
Widget logical_parent(Widget w)
{
    Widget parent = XtParent(w);
    return class_name(w) == "XmRowColumn" && XtIsShell(parent) ? XtParent(parent) : parent;
}

int resource(Widget w, const char *name)
{
    int v = 0;
    XtVaGetValues(w, name, &v, nullptr);
    return v;
}

unsigned char byte_resource(Widget w, const char *name)
{
    unsigned char v = 0;
    XtVaGetValues(w, name, &v, nullptr);
    return v;
}

} // namespace

TEST_F(MainWindow, EveryWidgetHasItsNameKindParentLabelAndColours)
{
    with_program([] {
        EXPECT_EQ(std::string(XtName(db_dummy_f)), "param-config");
        EXPECT_EQ(class_name(db_dummy_f), "ApplicationShell");
        char *title = nullptr;
        XtVaGetValues(db_dummy_f, XmNtitle, &title, nullptr);
        EXPECT_STREQ(title, "Parameter configuration");
        EXPECT_EQ(byte_resource(db_dummy_f, XmNdeleteResponse), XmUNMAP);
        Pixel black = colour_pixel("#000000000000");
        for (const Expected &e : tree) {
            SCOPED_TRACE(e.name);
            Widget w = *e.handle;
            ASSERT_NE(w, nullptr);
            EXPECT_EQ(std::string(XtName(w)), e.name);
            EXPECT_EQ(class_name(w), e.kind);
            EXPECT_EQ(std::string(XtName(logical_parent(w))), e.parent);
            if (e.label) {
                EXPECT_EQ(label(w), e.label);
            }
            EXPECT_EQ(pixel_of(w, XmNbackground), colour_pixel(role_colour(e.bg)));
            if (e.fg) {
                EXPECT_EQ(pixel_of(w, XmNforeground), black);
            }
            EXPECT_TRUE(XtIsManaged(w) || class_name(w) == "XmRowColumn");
        }
    });
}

TEST_F(MainWindow, MenuBarOrderMnemonicsAndPulldowns)
{
    with_program([] {
        Widget bar = XtParent(db_help_b);
        WidgetList children = nullptr;
        Cardinal count = 0;
        XtVaGetValues(bar, XmNchildren, &children, XmNnumChildren, &count, nullptr);
        std::vector<std::string> order;
        for (Cardinal i = 0; i < count; ++i)
            if (class_name(children[i]) == "XmCascadeButton")
                order.emplace_back(XtName(children[i]));
        EXPECT_EQ(order, (std::vector<std::string>{"target_press_unit_sel", "db_vac_press_unit_sel", "db_act_unit_sel",
                                                   "db_flow_unit_sel", "db_print_sel", "db_gas_mix_b", "db_help_b"}));
        Widget help = nullptr;
        XtVaGetValues(bar, XmNmenuHelpWidget, &help, nullptr);
        EXPECT_EQ(help, db_help_b);
        const std::pair<Widget, KeySym> mnemonics[] = {{target_press_unit_sel, XK_T}, {db_vac_press_unit_sel, XK_V},
                                                       {db_act_unit_sel, XK_A},       {db_flow_unit_sel, XK_F},
                                                       {db_print_sel, XK_p},          {db_help_b, XK_H}};
        for (auto [cascade, keysym] : mnemonics) {
            KeySym m = NoSymbol;
            XtVaGetValues(cascade, XmNmnemonic, &m, nullptr);
            EXPECT_EQ(m, keysym) << XtName(cascade);
        }
        // The gas mixture button has none: it keeps a fresh button's default.
        KeySym none_set = 0, gas = 1;
        Widget probe = XmCreateCascadeButton(bar, const_cast<char *>("probe"), nullptr, 0);
        XtVaGetValues(probe, XmNmnemonic, &none_set, nullptr);
        XtVaGetValues(db_gas_mix_b, XmNmnemonic, &gas, nullptr);
        EXPECT_EQ(gas, none_set);
        const std::pair<Widget, Widget> submenus[] = {{target_press_unit_sel, db_target_press_unit_sel},
                                                      {db_vac_press_unit_sel, vac_press},
                                                      {db_act_unit_sel, activity},
                                                      {db_flow_unit_sel, flow},
                                                      {db_print_sel, print},
                                                      {db_gas_mix_b, nullptr},
                                                      {db_help_b, nullptr}};
        for (auto [cascade, submenu] : submenus) {
            Widget sub = nullptr;
            XtVaGetValues(cascade, XmNsubMenuId, &sub, nullptr);
            EXPECT_EQ(sub, submenu) << XtName(cascade);
        }
        // Help keeps to the right end when the window grows.
        XtVaSetValues(db_dummy_f, XmNwidth, 1100, nullptr);
        pump(300);
        Position help_x = 0;
        Dimension help_w = 0, bar_w = 0;
        XtVaGetValues(db_help_b, XmNx, &help_x, XmNwidth, &help_w, nullptr);
        XtVaGetValues(bar, XmNwidth, &bar_w, nullptr);
        EXPECT_GT(bar_w, 1000);
        EXPECT_GT(help_x + help_w, bar_w - 20);
    });
}

TEST_F(MainWindow, FieldsSlidersAndPanesHaveTheirLimits)
{
    with_program([] {
        for (auto [field, max] : {std::pair{db_opname_i, 5}, {db_pwd_i, 5}, {db_conf_pwd_i, 8}})
            EXPECT_EQ(resource(field, XmNmaxLength), max) << XtName(field);
        for (auto [scale, max] : {std::pair{db_tracer_save_i, 1000}, {db_err_save_i, 1000}, {db_net_save_i, 62},
                                  {db_oper_save_i, 1000}}) {
            EXPECT_EQ(resource(scale, XmNminimum), 1) << XtName(scale);
            EXPECT_EQ(resource(scale, XmNmaximum), max) << XtName(scale);
            EXPECT_EQ(byte_resource(scale, XmNorientation), XmHORIZONTAL);
        }
        for (Widget pane : {db_list_t, db_msg_t}) {
            Boolean editable = True;
            int mode = 0;
            XtVaGetValues(pane, XmNeditable, &editable, XmNeditMode, &mode, nullptr);
            EXPECT_FALSE(editable) << XtName(pane);
            EXPECT_EQ(mode, XmMULTI_LINE_EDIT) << XtName(pane);
        }
        // Typing is refused by a read-only pane.
        type(db_msg_t, "x");
        EXPECT_EQ(text(db_msg_t), "");
    });
}

TEST_F(MainWindow, PanelsAndPanesLieWhereTheFormPutsThem)
{
    with_program([] {
        struct Box {
            Widget w;
            int left, top, right, bottom; // -1: not checked
        };
        Dimension form_w = 0, form_h = 0;
        XtVaGetValues(db_input_f, XmNwidth, &form_w, XmNheight, &form_h, nullptr);
        Dimension save_bottom = 0;
        {
            Position y = 0;
            Dimension h = 0, bw = 0;
            XtVaGetValues(db_save_frame, XmNy, &y, XmNheight, &h, XmNborderWidth, &bw, nullptr);
            save_bottom = static_cast<Dimension>(y + h + 2 * bw);
        }
        const Box boxes[] = {
            {db_op_frame, 12, 60, 301, 210},
            {db_pwd_frame, 350, 63, 539, 210},
            {db_save_frame, 10, 250, form_w - 10, -1},
            {XtParent(db_list_p), 10, save_bottom + 10, 690, form_h - 10},
        };
        for (const Box &b : boxes) {
            Position x = 0, y = 0;
            Dimension w = 0, h = 0, bw = 0;
            XtVaGetValues(b.w, XmNx, &x, XmNy, &y, XmNwidth, &w, XmNheight, &h, XmNborderWidth, &bw, nullptr);
            EXPECT_EQ(x, b.left) << XtName(b.w);
            EXPECT_EQ(y, b.top) << XtName(b.w);
            EXPECT_EQ(x + w + 2 * bw, b.right) << XtName(b.w);
            if (b.bottom >= 0) {
                EXPECT_EQ(y + h + 2 * bw, b.bottom) << XtName(b.w);
            }
        }
        // The whole window fits the screen the tools run on.
        EXPECT_LE(form_h, 1024);
    });
}

TEST(ColourRule, AppliesOnlyAboveDepthOneAndOnlyWhenTheColourConverts)
{
    in_child([] {
        char arg0[] = "param-config";
        char *argv[] = {arg0, nullptr};
        int argc = 1;
        startup(argc, argv);
        for (const char *colour : {"#babac2c2d9d9", "#8d8d9c9cc5c5", "#f0f0f1f1f6f6", "#000000000000"}) {
            Pixel pixel = 12345;
            EXPECT_FALSE(colour_rule(db_input_f, colour, 1, pixel)) << colour;
            EXPECT_EQ(pixel, 12345u) << "a monochrome screen keeps the default";
            EXPECT_TRUE(colour_rule(db_input_f, colour, 24, pixel)) << colour;
            EXPECT_EQ(pixel, colour_pixel(colour));
        }
        Pixel pixel = 12345;
        EXPECT_FALSE(colour_rule(db_input_f, "#no-such-colour", 24, pixel));
        // A colour that does not convert leaves only that resource out.
        Widget odd = Args()
                         .colour(XmNbackground, "#no-such-colour", db_op_p)
                         .fg(db_op_p)
                         .label("odd")
                         .create(XmCreateLabel, db_op_p, "odd");
        ASSERT_NE(odd, nullptr);
        EXPECT_EQ(label(odd), "odd");
        EXPECT_NE(pixel_of(odd, XmNbackground), colour_pixel("#babac2c2d9d9"));
        EXPECT_EQ(pixel_of(odd, XmNforeground), colour_pixel("#000000000000"));
        // The mnemonic conversion does not depend on colours at all.
        KeySym m = NoSymbol;
        Widget cascade = Args().mnemonic("T", XtParent(db_help_b)).create(XmCreateCascadeButton, XtParent(db_help_b), "m");
        XtVaGetValues(cascade, XmNmnemonic, &m, nullptr);
        EXPECT_EQ(m, XK_T);
    });
}

TEST(DialogLinks, AreEmptyUntilTheDialogsAreBuilt)
{
    in_child([] {
        XtToolkitInitialize();
        app_context = XtCreateApplicationContext();
        int argc = 1;
        char arg0[] = "param-config";
        char *argv[] = {arg0, nullptr};
        display = XtOpenDisplay(app_context, nullptr, argv[0], "param-config", nullptr, 0, &argc, argv);
        ASSERT_NE(display, nullptr);
        create_db_dummy_f(display, argv[0], argc, argv);
        EXPECT_EQ(xd_links[0], nullptr);
        EXPECT_EQ(xd_links[1], nullptr);
        XDmanage_link(db_gas_mix_b, &xd_links[0], nullptr); // does nothing
        XDmanage_link(db_help_b, nullptr, nullptr);
        create_db_help_f(db_dummy_f);
        create_db_gas_mix_f(db_dummy_f);
        EXPECT_EQ(xd_links[0], db_gas_mix_form);
        EXPECT_EQ(xd_links[1], db_help_fr);
        EXPECT_FALSE(XtIsManaged(db_gas_mix_form));
        XDmanage_link(db_help_b, &xd_links[1], nullptr);
        EXPECT_TRUE(XtIsManaged(db_help_fr));
    });
}
