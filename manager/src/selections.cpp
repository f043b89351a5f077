// The unit and printing menus: each entry stores its code in the
// parameters row; target-pressure and flow choices also rewrite the graph
// definition file.
#include "callbacks.h"
#include "graph_file.h"
#include "store.h"

#include <array>
#include <cstdio>
#include <string_view>

namespace {

struct Choice {
    std::string_view key;
    char code;
    const char *unit; // text for the graph file, or null
};

struct Menu {
    CodeColumn column;
    const char *keyword; // graph file keyword, or null
    std::size_t count;
    std::array<Choice, 3> choices;
};

constexpr Menu target_press{CodeColumn::target_press_unit, "PRESSURE_UNITS", 3,
                            {{{"bar", '1', "bar"}, {"kPa", '2', "kPa"}, {"psi", '3', "psi"}}}};
constexpr Menu vac_press{CodeColumn::vac_press_unit, nullptr, 3,
                         {{{"mbar", '1', nullptr}, {"kPa", '2', nullptr}, {"torr", '3', nullptr}}}};
constexpr Menu activity_menu{CodeColumn::activity_unit, nullptr, 2, {{{"mCi", '1', nullptr}, {"MBq", '2', nullptr}}}};
constexpr Menu flow_menu{CodeColumn::flow_unit, "FLOW_UNITS", 2,
                         {{{"mlm", '1', "mL/min"}, {"sccm", '2', "sccm"}}}};
constexpr Menu print_menu{CodeColumn::tracer_print, nullptr, 2, {{{"ON", '1', nullptr}, {"OFF", '0', nullptr}}}};

// A key matches only as the whole string, case included. A key outside the
// menu's table is ignored: no entry passes one.
void select(const Menu &menu, XtPointer client_data)
{
    if (!client_data)
        return;
    std::string_view key{static_cast<const char *>(client_data)};
    for (std::size_t i = 0; i < menu.count; ++i) {
        const Choice &choice = menu.choices[i];
        if (choice.key != key)
            continue;
        store_update_code(menu.column, choice.code);
        if (menu.keyword) {
            std::array<char, 8> unit{};
            std::snprintf(unit.data(), unit.size(), "%s", choice.unit);
            db_update_file(menu.keyword, unit.data());
        }
        return;
    }
}

} // namespace

void db_target_press_unit_selection(Widget, XtPointer client_data, XtPointer)
{
    select(target_press, client_data);
}

void db_vac_press_unit_selection(Widget, XtPointer client_data, XtPointer)
{
    select(vac_press, client_data);
}

void db_act_unit_selection(Widget, XtPointer client_data, XtPointer)
{
    select(activity_menu, client_data);
}

void db_flow_unit_selection(Widget, XtPointer client_data, XtPointer)
{
    select(flow_menu, client_data);
}

void db_print_selection(Widget, XtPointer client_data, XtPointer)
{
    select(print_menu, client_data);
}
