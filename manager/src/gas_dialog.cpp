// The F2+He gas mixture dialog: concentration and pressure sliders in
// tenths, shown from the menu bar and saved with " save ".
#include "builder.h"
#include "callbacks.h"
#include "message_pane.h"
#include "startup.h"
#include "store.h"
#include "widgets.h"

#include <Xm/DialogS.h>
#include <Xm/Form.h>
#include <Xm/Label.h>
#include <Xm/PushB.h>
#include <Xm/Scale.h>
#include <Xm/Separator.h>

#include <array>

Widget db_gas_mix_f, db_gas_mix_form, db_gas_mix_m, db_gas_mix_i;
Widget db_gas_pressure_m, db_gas_pressure_i, db_gas_mix_save_b;

namespace {

// The rest of a gas slider's resources, after its own and its colours.
Args &gas_scale(Args &args, int maximum, int value)
{
    return args.set(XmNshowValue, True)
        .set(XmNminimum, 10)
        .set(XmNmaximum, maximum)
        .set(XmNvalue, value)
        .set(XmNorientation, XmHORIZONTAL)
        .set(XmNprocessingDirection, XmMAX_ON_RIGHT)
        .set(XmNdecimalPoints, 1);
}

// Pins a child to a fixed rectangle of the form: top T, bottom B pixels
// below the form's top, left L, right R pixels right of its left edge.
void pin(Widget w, int t, int b, int l, int r)
{
    attach(w, form(t), opposite_form(-b), form(l), opposite_form(-r));
}

} // namespace

void create_db_gas_mix_f(Widget parent)
{
    db_gas_mix_f = Args()
                       .set(XmNwidth, 180)
                       .set(XmNheight, 100)
                       .set(XmNallowShellResize, True)
                       .set(XmNtitle, reinterpret_cast<XtArgVal>(" "))
                       .create(XmCreateDialogShell, parent, "db_gas_mix_f");
    db_gas_mix_form = Args()
                          .set(XmNwidth, 180)
                          .set(XmNheight, 180)
                          .on_panel(db_gas_mix_f)
                          .set(XmNautoUnmanage, False)
                          .create(XmCreateForm, db_gas_mix_f, "db_gas_mix_form");
    Widget form = db_gas_mix_form;
    db_gas_mix_m = Args()
                       .on_panel(form)
                       .label("F2+He gas concentration (%)")
                       .create(XmCreateLabel, form, "db_gas_mix_m");
    db_gas_mix_i = gas_scale(Args()
                                 .set(XmNhighlightThickness, 1)
                                 .set(XmNshadowThickness, 1)
                                 .set(XmNborderWidth, 0)
                                 .on_panel(form),
                             50, 20)
                       .create(XmCreateScale, form, "db_gas_mix_i");
    Widget separator1 = Args()
                            .colour(XmNforeground, colour::menu, form)
                            .bg(colour::panel, form)
                            .set(XmNmargin, 1)
                            .create(XmCreateSeparator, form, "separator1");
    db_gas_pressure_m = Args()
                            .on_panel(form)
                            .label("F2+He gas pressure[bar]")
                            .create(XmCreateLabel, form, "Gas pressure");
    db_gas_pressure_i = gas_scale(Args().on_panel(form), 100, 100).create(XmCreateScale, form, "db_gas_pressure_i");
    Widget separator2 = Args()
                            .colour(XmNforeground, colour::menu, form)
                            .bg(colour::panel, form)
                            .create(XmCreateSeparator, form, "separator2");
    db_gas_mix_save_b = Args()
                            .fg(form)
                            .bg(colour::menu, form)
                            .label(" save ")
                            .create(XmCreatePushButton, form, "db_gas_mix_save_b");
    Widget label15 = Args().bg(colour::panel, form).label(" ").create(XmCreateLabel, form, "label15");

    xd_links[0] = db_gas_mix_form;

    pin(db_gas_mix_m, 9, 31, 3, 173);
    pin(db_gas_mix_i, 33, 63, 18, 158);
    pin(separator1, 66, 72, 3, 171);
    pin(db_gas_pressure_m, 75, 95, 3, 173);
    pin(db_gas_pressure_i, 96, 126, 21, 156);
    pin(separator2, 132, 141, 3, 171);
    pin(db_gas_mix_save_b, 144, 164, 57, 117);
    pin(label15, 165, 176, 3, 173);

    if (db_gas_mix_save_b)
        XtAddCallback(db_gas_mix_save_b, XmNactivateCallback, db_gas_mix_save_btn, nullptr);

    std::array<Widget, 8> children{};
    Cardinal count = 0;
    for (Widget w : {db_gas_mix_m, db_gas_mix_i, separator1, db_gas_pressure_m, db_gas_pressure_i, separator2,
                     db_gas_mix_save_b, label15})
        if (w)
            children[count++] = w;
    if (count > 0)
        XtManageChildren(children.data(), count);
}

void db_gas_mix_btn(Widget, XtPointer, XtPointer)
{
    XtManageChild(db_gas_mix_form);
    // Raise it above other windows, and map the shell again should it have
    // been closed while its form stayed managed.
    if (Window window = XtWindow(db_gas_mix_f)) {
        XRaiseWindow(display, window);
        XMapWindow(display, window);
    }
}

void db_gas_mix_save_btn(Widget, XtPointer, XtPointer)
{
    XmScaleGetValue(db_gas_mix_i, &db_gas_mix_value);
    XmScaleGetValue(db_gas_pressure_i, &db_gas_pressure_value);
    store_update_gas(db_gas_mix_value, db_gas_pressure_value);
    db_check();
}
