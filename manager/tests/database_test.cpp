// The site database as the tool's role and other clients meet it. (upgrade.sh
// checks the upgrade of an old site database.)
#include "testbed.h"

using namespace testbed;

// Writes refused to the tool's role (42501) and to anyone (the guards), each
// leaving every stored value as it was.
TEST(Database, RefusedWritesLeaveTheRowAsItWas)
{
    const std::vector<std::tuple<const char *, const char *, const char *>> rows = {
        {clerk, "insert into parameters select * from parameters", "ERROR 42501"},
        {clerk, "delete from parameters", "ERROR 42501"},
        {clerk, "truncate operator_list", "ERROR 42501"},
        {clerk, "update operator_list set password = 'x'", "ERROR 42501"},
        {clerk, "create table public.x (a int)", "ERROR 42501"},
        {clerk, "insert into audit.trail (table_name, operation) values ('x', 'y')", "ERROR 42501"},
        {nullptr, "insert into parameters select * from parameters", "ERROR 23505"},
        {clerk, "insert into operator_list values ('anna ', 'x')", "ERROR 23505"},
    };
    for (const auto &[user, statement, outcome] : rows) {
        reset_database("insert into operator_list values ('anna', 'o'); select test_take_snapshot()");
        EXPECT_EQ(sql(statement, user), outcome) << statement;
        EXPECT_EQ(sql("select test_changes(false)"), "") << statement;
    }
}

// The guards take what the sliders and menus can give, and nothing else; a
// NULL only where it cannot stop the consoles' start-up.
TEST(Database, GuardsTakeWhatTheControlsGive)
{
    for (auto [column, taken] : std::vector<std::pair<std::string, std::string>>{{"gas_value", "10..50"},
             {"gas_pressure", "10..100"}, {"tracer_save_days", "1..1000 null"}, {"error_save_days", "1..1000 null"},
             {"net_save_days", "1..62 null"}, {"oper_save_days", "1..1000 null"}, {"target_press_unit", "1..3 null"},
             {"vac_press_unit", "1..3 null"}, {"activity_unit", "1..2 null"}, {"flow_unit", "1..2 null"},
             {"tracer_print", "0..1 null"}}) {
        reset_database();
        EXPECT_EQ(sql("select test_accepts('" + column + "')"), taken) << column;
    }
}
