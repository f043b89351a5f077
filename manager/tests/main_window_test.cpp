// The main window as built: names, kinds, labels, colours, ranges and
// layout, the colour rule on its own, and the dialog links.
#include "testbed.h"

#include "builder.h"

#include <X11/keysym.h>
#include <Xm/CascadeB.h>
#include <Xm/Label.h>

#include <array>
#include <tuple>

using namespace testbed;

using MainWindow = StandardRow;

namespace {

const char *const P = "#babac2c2d9d9", *const M = "#8d8d9c9cc5c5", *const E = "#f0f0f1f1f6f6"; // panel, menu, entry

// The parent by its instance name, the label (null: none), the background
// colour, whether the foreground is black, and a field's maximum length or
// a scale's maximum.
struct Expected {
    Widget *handle;
    const char *name, *kind, *parent, *label, *bg;
    bool fg = true;
    int limit = 0;
};

// Every named widget of the main window in creation order.
const Expected tree[] = {
    {&db_input_f, "db_input_f", "XmForm", "param-config", nullptr, P, false},
    {&target_press_unit_sel, "target_press_unit_sel", "XmCascadeButton", "menuBar1", "Target pressure", M},
    {&db_target_press_unit_sel, "db_target_press_unit_sel", "XmRowColumn", "menuBar1", nullptr, M},
    {&db_targ_press_bar, "db_targ_press_bar", "XmPushButton", "db_target_press_unit_sel", "bar", M},
    {&db_targ_press_kpa, "db_targ_press_kpa", "XmPushButton", "db_target_press_unit_sel", "kPa", M},
    {&db_targ_press_psi, "db_targ_press_psi", "XmPushButton", "db_target_press_unit_sel", "psi", M},
    {&db_vac_press_unit_sel, "db_vac_press_unit_sel", "XmCascadeButton", "menuBar1", "Vacuum pressure", M},
    {&vac_press, "vac_press", "XmRowColumn", "menuBar1", nullptr, M},
    {&db_vac_press_mbar, "db_vac_press_mbar", "XmPushButton", "vac_press", "mbar", M},
    {&db_vac_press_kpa, "db_vac_press_kpa", "XmPushButton", "vac_press", "kPa", M},
    {&db_vac_press_torr, "db_vac_press_torr", "XmPushButton", "vac_press", "torr", M},
    {&db_act_unit_sel, "db_act_unit_sel", "XmCascadeButton", "menuBar1", "Activity", M},
    {&activity, "activity", "XmRowColumn", "menuBar1", nullptr, M},
    {&db_act_unit_mCi, "db_act_unit_mCi", "XmPushButton", "activity", "mCi", M},
    {&db_act_unit_MBq, "db_act_unit_MBq", "XmPushButton", "activity", "MBq", M},
    {&db_flow_unit_sel, "db_flow_unit_sel", "XmCascadeButton", "menuBar1", "Flow", M},
    {&flow, "flow", "XmRowColumn", "menuBar1", nullptr, M},
    {&db_flow_unit_mlm, "db_flow_unit_mlm", "XmPushButton", "flow", "mL/min", M},
    {&db_flow_unit_sccm, "db_flow_unit_sccm", "XmPushButton", "flow", "sccm", M},
    {&db_print_sel, "db_print_sel", "XmCascadeButton", "menuBar1", "Automatic printing", M},
    {&print, "print", "XmRowColumn", "menuBar1", nullptr, M},
    {&db_print_ON, "db_print_ON", "XmPushButton", "print", "ON", M},
    {&db_print_OFF, "db_print_OFF", "XmPushButton", "print", "OFF", M},
    {&db_gas_mix_b, "db_gas_mix_b", "XmCascadeButton", "menuBar1", "F2+He gas concentration", M},
    {&db_help_b, "db_help_b", "XmCascadeButton", "menuBar1", "Help", M},
    {&db_op_frame, "db_op_frame", "XmFrame", "db_input_f", nullptr, P, false},
    {&db_op_p, "db_op_p", "XmForm", "db_op_frame", nullptr, P},
    {&db_opname_m, "db_opname_m", "XmLabel", "rowcol1", "Operator:", P},
    {&db_pwd_m, "db_pwd_m", "XmLabel", "rowcol1", "Password:", P},
    {&db_opname_i, "db_opname_i", "XmTextField", "rowcol2", nullptr, E, true, 5},
    {&db_pwd_i, "db_pwd_i", "XmTextField", "rowcol2", nullptr, E, true, 5},
    {&db_op_label, "db_op_label", "XmLabel", "db_op_p", "Production operators", P},
    {&db_list_b, "db_list_b", "XmCascadeButton", "menuBar3", "List", M},
    {&db_add_b, "db_add_b", "XmCascadeButton", "menuBar3", "Add", M},
    {&db_remove_b, "db_remove_b", "XmCascadeButton", "menuBar3", "Remove", M},
    {&db_opname_oper, "db_opname_info_oper", "XmLabel", "db_op_p", "(A - Z, a - z)", P},
    {&db_opname_info_pwd, "db_opname_info_pwd", "XmLabel", "db_op_p", "(A - Z, a - z)", P},
    {&db_pwd_frame, "db_pwd_frame", "XmFrame", "db_input_f", nullptr, P, false},
    {&db_pwd_p, "db_pwd_p", "XmForm", "db_pwd_frame", nullptr, P},
    {&db_conf_pwd_m, "db_conf_pwd_m", "XmLabel", "rowcol3", "Password", P},
    {&db_conf_pwd_i, "db_conf_pwd_i", "XmTextField", "rowcol4", nullptr, E, true, 8},
    {&db_pwd_label, "db_pwd_label", "XmLabel", "db_pwd_p", "Configuration password", P},
    {&db_read_conf_pwd_b, "db_read_conf_pwd_b", "XmCascadeButton", "menuBar4", "Read", M},
    {&db_conf_pwd_b, "db_conf_pwd_b", "XmCascadeButton", "menuBar4", "Set", M},
    {&db_list_t, "db_list_t", "XmText", "db_list_tSW", nullptr, E},
    {&db_list_p, "db_list_tSW", "XmScrolledWindow", "panedWindow2", nullptr, P},
    {&db_msg_t, "db_msg_t", "XmText", "db_msg_tSW", nullptr, E},
    {&db_msg_p, "db_msg_tSW", "XmScrolledWindow", "panedWindow2", nullptr, E},
    {&db_save_frame, "db_save_frame", "XmFrame", "db_input_f", nullptr, P, false},
    {&db_save_p, "db_save_p", "XmForm", "db_save_frame", nullptr, P},
    {&db_tracer_save_m, "db_tracer_save_m", "XmLabel", "rowcol7", "\nProduction reports:", P},
    {&db_err_save_m, "db_err_save_m", "XmLabel", "rowcol7", "Event log:", P},
    {&db_tracer_save_i, "db_tracer_save_i", "XmScale", "rowcol8", nullptr, P, true, 1000},
    {&db_err_save_i, "db_err_save_i", "XmScale", "rowcol8", nullptr, P, true, 1000},
    {&db_net_save_m, "db_net_save_m", "XmLabel", "rowcol9", "\nNet log:", P},
    {&db_oper_save_m, "db_oper_save_m", "XmLabel", "rowcol9", "Operator reports:", P},
    {&db_net_save_i, "db_net_save_i", "XmScale", "rowcol11", nullptr, P, true, 62},
    {&db_oper_save_i, "db_oper_save_i", "XmScale", "rowcol11", nullptr, P, true, 1000},
    {&db_save_b, "db_save_b", "XmPushButton", "db_save_p", "Save", M},
    {&db_save_label, "db_save_label", "XmLabel", "db_save_p", " ", P},
};

} // namespace

// Fields hold a fixed number of characters, scales start at 1 and lie
// horizontally, the panes are read-only, and panels and panes lie where the
// form puts them. The menu bar's cascade buttons come in order with their
// mnemonics (none on the gas mixture button: it keeps a fresh button's
// default) and pulldowns, Help at the right end.
TEST_F(MainWindow, WidgetTreeLimitsLayoutAndMenuBar)
{
    with_program([] {
        EXPECT_EQ(std::string(XtName(db_dummy_f)) + " " + class_name(db_dummy_f), "param-config ApplicationShell");
        EXPECT_STREQ(resource<char *>(db_dummy_f, XmNtitle), "Parameter configuration");
        EXPECT_EQ(resource<unsigned char>(db_dummy_f, XmNdeleteResponse), XmUNMAP);
        const Pixel black = colour_pixel("#000000000000");
        for (const Expected &e : tree) {
            SCOPED_TRACE(e.name);
            Widget w = *e.handle;
            ASSERT_NE(w, nullptr);
            const std::string kind = class_name(w);
            // A pulldown menu hangs below its menu shell.
            Widget parent = kind == "XmRowColumn" && XtIsShell(XtParent(w)) ? XtParent(XtParent(w)) : XtParent(w);
            EXPECT_EQ(std::string(XtName(w)) + " " + kind + " " + XtName(parent),
                      std::string(e.name) + " " + e.kind + " " + e.parent);
            EXPECT_EQ(label(w), e.label ? e.label : "");
            EXPECT_EQ(pixel_of(w, XmNbackground), colour_pixel(e.bg));
            EXPECT_EQ(e.fg ? pixel_of(w, XmNforeground) : black, black);
            EXPECT_TRUE(XtIsManaged(w) || kind == "XmRowColumn");
            if (kind == "XmTextField") {
                EXPECT_EQ(resource<int>(w, XmNmaxLength), e.limit);
            } else if (kind == "XmScale") {
                EXPECT_EQ(std::tuple(resource<int>(w, XmNminimum), resource<int>(w, XmNmaximum),
                                     resource<unsigned char>(w, XmNorientation)), std::tuple(1, e.limit, XmHORIZONTAL));
            } else if (kind == "XmText") {
                EXPECT_EQ(std::pair(resource<Boolean>(w, XmNeditable), resource<int>(w, XmNeditMode)),
                          std::pair(Boolean(False), int(XmMULTI_LINE_EDIT)));
            }
        }
        type(db_msg_t, "x"); // refused by a read-only pane
        EXPECT_EQ(text(db_msg_t), "");

        // Left, top, right and bottom, borders included.
        auto box = [](Widget w) {
            int x = resource<Position>(w, XmNx), y = resource<Position>(w, XmNy);
            int border = 2 * resource<Dimension>(w, XmNborderWidth);
            return std::array{x, y, x + resource<Dimension>(w, XmNwidth) + border,
                              y + resource<Dimension>(w, XmNheight) + border};
        };
        const int form_w = resource<Dimension>(db_input_f, XmNwidth);
        const int form_h = resource<Dimension>(db_input_f, XmNheight);
        const int save_bottom = box(db_save_frame)[3];
        const std::pair<Widget, std::array<int, 4>> boxes[] = {
            {db_op_frame, {12, 60, 301, 210}},
            {db_pwd_frame, {350, 63, 539, 210}},
            {db_save_frame, {10, 250, form_w - 10, save_bottom}},
            {XtParent(db_list_p), {10, save_bottom + 10, 690, form_h - 10}},
        };
        for (const auto &[w, expected] : boxes)
            EXPECT_EQ(box(w), expected) << XtName(w);
        EXPECT_LE(form_h, 1024); // the whole window fits the screen the tools run on

        Widget bar = XtParent(db_help_b);
        std::vector<Widget> cascades;
        for (Cardinal i = 0; i < resource<Cardinal>(bar, XmNnumChildren); ++i)
            if (Widget child = resource<WidgetList>(bar, XmNchildren)[i]; class_name(child) == "XmCascadeButton")
                cascades.push_back(child);
        Widget fresh = XmCreateCascadeButton(bar, const_cast<char *>("probe"), nullptr, 0);
        const std::tuple<Widget, KeySym, Widget> buttons[] = {
            {target_press_unit_sel, XK_T, db_target_press_unit_sel}, {db_vac_press_unit_sel, XK_V, vac_press},
            {db_act_unit_sel, XK_A, activity}, {db_flow_unit_sel, XK_F, flow}, {db_print_sel, XK_p, print},
            {db_gas_mix_b, resource<KeySym>(fresh, XmNmnemonic), nullptr}, {db_help_b, XK_H, nullptr}};
        ASSERT_EQ(cascades.size(), std::size(buttons));
        for (std::size_t i = 0; i < cascades.size(); ++i) {
            auto [button, mnemonic, pulldown] = buttons[i];
            EXPECT_STREQ(XtName(cascades[i]), XtName(button)) << "place " << i;
            EXPECT_EQ(std::pair(resource<KeySym>(button, XmNmnemonic), resource<Widget>(button, XmNsubMenuId)),
                      std::pair(mnemonic, pulldown)) << XtName(button);
        }
        EXPECT_EQ(resource<Widget>(bar, XmNmenuHelpWidget), db_help_b);
        // Help keeps to the right end when the window grows.
        XtVaSetValues(db_dummy_f, XmNwidth, 1100, nullptr);
        pump(300);
        EXPECT_GT(resource<Dimension>(bar, XmNwidth), 1000);
        EXPECT_GT(resource<Position>(db_help_b, XmNx) + resource<Dimension>(db_help_b, XmNwidth),
                  resource<Dimension>(bar, XmNwidth) - 20);
    });
}

// The dialog links stay empty until the dialogs are built. The colour rule
// leaves a monochrome screen's defaults alone, and a colour that does not
// convert leaves out only that resource.
TEST(Builder, DialogLinksWaitForTheDialogsAndColoursForDepthAndAKnownName)
{
    in_child([] {
        XtToolkitInitialize();
        app_context = XtCreateApplicationContext();
        int argc = 1;
        char arg0[] = "param-config", *argv[] = {arg0, nullptr};
        display = XtOpenDisplay(app_context, nullptr, argv[0], "param-config", nullptr, 0, &argc, argv);
        ASSERT_NE(display, nullptr);
        create_db_dummy_f(display, argv[0], argc, argv);
        EXPECT_EQ(std::pair(xd_links[0], xd_links[1]), (std::pair<Widget, Widget>{}));
        XDmanage_link(db_gas_mix_b, &xd_links[0], nullptr); // does nothing
        XDmanage_link(db_help_b, nullptr, nullptr);
        create_db_help_f(db_dummy_f);
        create_db_gas_mix_f(db_dummy_f);
        EXPECT_EQ(std::pair(xd_links[0], xd_links[1]), std::pair(db_gas_mix_form, db_help_fr));
        EXPECT_FALSE(XtIsManaged(db_gas_mix_form));
        XDmanage_link(db_help_b, &xd_links[1], nullptr);
        EXPECT_TRUE(XtIsManaged(db_help_fr));

        for (const char *colour : {P, M, E, "#000000000000"}) {
            Pixel pixel = 12345;
            EXPECT_FALSE(colour_rule(db_input_f, colour, 1, pixel)) << colour;
            EXPECT_EQ(pixel, 12345u) << "a monochrome screen keeps the default";
            EXPECT_TRUE(colour_rule(db_input_f, colour, 24, pixel)) << colour;
            EXPECT_EQ(pixel, colour_pixel(colour));
        }
        Pixel pixel = 12345;
        EXPECT_FALSE(colour_rule(db_input_f, "#no-such-colour", 24, pixel));
        Widget odd = Args().colour(XmNbackground, "#no-such-colour", db_op_p).fg(db_op_p).label("odd").create(
            XmCreateLabel, db_op_p, "odd");
        ASSERT_NE(odd, nullptr);
        EXPECT_EQ(label(odd), "odd");
        EXPECT_NE(pixel_of(odd, XmNbackground), colour_pixel(P));
        EXPECT_EQ(pixel_of(odd, XmNforeground), colour_pixel("#000000000000"));
    });
}
