// Start-up, its two failures, the message pane, and closing the main
// window through the window manager.
#include "testbed.h"

#include "message_pane.h"
#include "startup.h"
#include "store.h"
#include "widgets.h"

#include <X11/keysym.h>

#include <string>

using namespace testbed;

namespace {

class Startup : public ::testing::Test {
protected:
    void SetUp() override { reset_database(); }
};

// Whether a top-level window was mapped while `run` ran (the toolkit's own
// override-redirect windows do not count; it creates unmapped ones of its
// own at start).
bool shows_window(const std::function<void()> &run)
{
    Display *watch = XOpenDisplay(nullptr);
    Window root = DefaultRootWindow(watch);
    XSelectInput(watch, root, SubstructureNotifyMask);
    XSync(watch, False);
    run();
    XSync(watch, False);
    bool shown = false;
    while (XPending(watch)) {
        XEvent e;
        XNextEvent(watch, &e);
        if (e.type == MapNotify)
            shown |= !e.xmap.override_redirect;
    }
    XCloseDisplay(watch);
    return shown;
}

} // namespace

TEST_F(Startup, NoDisplayNamesTheProgramAsCalledAndExits255)
{
    for (const char *empty_or_bad : {"", ":97"}) {
        Outcome o = run_binary({"./my-param-config"}, {{"DISPLAY", empty_or_bad}});
        EXPECT_EQ(o.exit_status, 255) << "DISPLAY=" << empty_or_bad;
        EXPECT_EQ(o.out, "./my-param-config: can't open display, exiting...\n");
    }
}

TEST_F(Startup, UnreachableDatabaseShowsNoWindowAndExits1)
{
    TempDir nowhere;
    Outcome o;
    EXPECT_FALSE(shows_window([&] { o = run_binary({"param-config"}, {{"PGHOST", nowhere.path()}}); }));
    EXPECT_EQ(o.exit_status, 1);
    EXPECT_EQ(o.out, "Database could not be opened\n");
}

TEST_F(Startup, MissingTableIsADatabaseFailure)
{
    sql("alter table parameters rename to parameters_away");
    Outcome o = run_binary({"param-config"});
    sql("alter table parameters_away rename to parameters");
    EXPECT_EQ(o.exit_status, 1);
    EXPECT_EQ(o.out, "Database could not be opened\n");
}

TEST_F(Startup, StoredValuesAreLoadedBeforeTheWindowShows)
{
    sql("update parameters set gas_value = 42, gas_pressure = 55, tracer_save_days = 1000,"
        " error_save_days = 7, net_save_days = 62, oper_save_days = 1");
    with_program([] {
        EXPECT_EQ(scale_value(db_gas_mix_i), 42);
        EXPECT_EQ(scale_value(db_gas_pressure_i), 55);
        EXPECT_EQ(db_gas_mix_value, 42);
        EXPECT_EQ(db_gas_pressure_value, 55);
        EXPECT_EQ(scale_value(db_tracer_save_i), 1000);
        EXPECT_EQ(scale_value(db_err_save_i), 7);
        EXPECT_EQ(scale_value(db_net_save_i), 62);
        EXPECT_EQ(scale_value(db_oper_save_i), 1);
        EXPECT_EQ(text(db_msg_t), "");
        EXPECT_FALSE(viewable(db_gas_mix_f));
        EXPECT_FALSE(viewable(db_help_f));
    });
}

TEST_F(Startup, EmptyParametersTableStartsWithInitialValues)
{
    sql("delete from parameters");
    with_program([] {
        EXPECT_EQ(scale_value(db_gas_mix_i), 30);
        EXPECT_EQ(scale_value(db_gas_pressure_i), 100);
        for (Widget scale : {db_tracer_save_i, db_err_save_i, db_net_save_i, db_oper_save_i})
            EXPECT_EQ(scale_value(scale), 1) << XtName(scale);
        EXPECT_EQ(text(db_msg_t), "");
    });
}

TEST_F(Startup, MessagesPileUpInOrderAndVerbatim)
{
    with_program([] {
        db_print_msg("No operator entered.\n", nullptr);
        db_print_msg("Operator %s already exists.\n", "ab%sc");
        db_print_msg("Database problem %d\n", -402);
        db_print_msg("Help file is empty\n", 0);
        std::string expected = "No operator entered.\n"
                               "Operator ab%sc already exists.\n"
                               "Database problem -402\n"
                               "Help file is empty\n";
        EXPECT_EQ(text(db_msg_t), expected);
        for (int i = 0; i < 200; ++i)
            db_print_msg("Operator %s is added to database.\n", std::to_string(i).c_str());
        std::string all = text(db_msg_t);
        EXPECT_EQ(all.substr(0, expected.size()), expected);
        EXPECT_NE(all.find("Operator 0 is added to database.\nOperator 1 is added"), std::string::npos);
        EXPECT_EQ(all.substr(all.size() - 35), "Operator 199 is added to database.\n");
    });
}

TEST_F(Startup, OverlongMessageIsCutAt80Characters)
{
    with_program([] {
        std::string long_name(100, 'x');
        db_print_msg("%s", long_name.c_str());
        EXPECT_EQ(text(db_msg_t), std::string(80, 'x'));
    });
}

TEST_F(Startup, DatabaseCheckReportsOnlyNegativeCodes)
{
    with_program([] {
        int days = 0;
        store_select_days(DaysColumn::net_save_days, days); // 0: success
        db_check();
        sql("delete from parameters");
        store_select_days(DaysColumn::net_save_days, days); // 100: no row
        db_check();
        EXPECT_EQ(text(db_msg_t), "");
        sql("alter table parameters rename to parameters_away");
        store_select_days(DaysColumn::net_save_days, days);
        db_check();
        sql("alter table parameters_away rename to parameters");
        std::string shown = text(db_msg_t);
        EXPECT_EQ(shown.rfind("Database problem -", 0), 0u) << shown;
        EXPECT_EQ(shown.back(), '\n');
    });
}

TEST_F(Startup, ClosingTheMainWindowHidesItAndTheProgramGoesOn)
{
    with_program([] {
        move_to(db_input_f);
        key(XK_F12); // the window manager's close binding
        ASSERT_TRUE(pump_until([] { return !viewable(db_dummy_f); })) << "the window manager did not close it";
        // Still running and still connected: a handler reads the database.
        sql("update parameters set net_save_days = 17");
        int days = 0;
        store_select_days(DaysColumn::net_save_days, days);
        EXPECT_EQ(store_sqlcode(), 0);
        EXPECT_EQ(days, 17);
    });
}
