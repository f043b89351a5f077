// Retention periods: four day counts, loaded into their scales at start-up
// and written back by "Save".
#include "callbacks.h"
#include "store.h"
#include "widgets.h"

#include <Xm/Scale.h>

#include <array>
#include <utility>

namespace {

std::array<std::pair<DaysColumn, Widget *>, 4> retention_scales()
{
    return {{{DaysColumn::tracer_save_days, &db_tracer_save_i},
             {DaysColumn::error_save_days, &db_err_save_i},
             {DaysColumn::net_save_days, &db_net_save_i},
             {DaysColumn::oper_save_days, &db_oper_save_i}}};
}

} // namespace

void db_init()
{
    // A select that finds no row leaves the value as it was: start from the
    // scales' own minimum so nothing undefined is shown.
    int value = 1;
    for (auto [column, scale] : retention_scales()) {
        store_select_days(column, value);
        XmScaleSetValue(*scale, value);
    }
}

void db_save_store_parameters_btn(Widget, XtPointer, XtPointer)
{
    int value = 1;
    for (auto [column, scale] : retention_scales()) {
        XmScaleGetValue(*scale, &value);
        store_update_days(column, value);
    }
}
