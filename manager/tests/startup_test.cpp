// Start-up, its two failures, the message pane, and closing the main
// window through the window manager.
#include "testbed.h"

#include "message_pane.h"
#include "store.h"

#include <X11/keysym.h>

using namespace testbed;
using Startup = StandardRow;

// Neither failure maps a top-level window (the toolkit's own
// override-redirect windows do not count). A missing table is a database
// failure too.
TEST_F(Startup, FailuresPrintOneLineShowNoWindowAndExit)
{
    TempDir nowhere;
    const char *no_display = "./my-param-config: can't open display, exiting...\n",
               *no_database = "Database could not be opened\n";
    for (const auto &[arg0, variable, setting, status, out] :
         {std::tuple<const char *, const char *, std::string, int, const char *>{"./my-param-config", "DISPLAY", "",
                                                                                  255, no_display},
          {"./my-param-config", "DISPLAY", ":97", 255, no_display},
          {"param-config", "PGHOST", nowhere.path(), 1, no_database},
          {"param-config", "PGOPTIONS", "-c search_path=nowhere", 1, no_database}}) {
        SCOPED_TRACE(std::string(variable) + "=" + setting);
        Display *watch = XOpenDisplay(nullptr);
        XSelectInput(watch, DefaultRootWindow(watch), SubstructureNotifyMask);
        XSync(watch, False);
        Outcome o = run_binary({arg0}, {{variable, setting}});
        EXPECT_EQ(o.exit_status, status);
        EXPECT_EQ(o.out, out);
        for (XSync(watch, False); XPending(watch);) {
            XEvent e;
            XNextEvent(watch, &e);
            EXPECT_FALSE(e.type == MapNotify && !e.xmap.override_redirect) << "a window was shown";
        }
        XCloseDisplay(watch);
    }
}

// Without the row the sliders of both dialogs and the periods start at
// their initial values (stored ones are loaded in the dialogs' and the
// periods' own tests); nothing is shown but the window.
TEST_F(Startup, EmptyParametersTableStartsWithInitialValues)
{
    sql("delete from parameters");
    with_program([] {
        EXPECT_EQ(std::vector({scale_value(db_gas_mix_i), scale_value(db_gas_pressure_i), db_gas_mix_value,
                               db_gas_pressure_value, scale_value(db_tracer_save_i), scale_value(db_err_save_i),
                               scale_value(db_net_save_i), scale_value(db_oper_save_i)}),
                  std::vector({30, 100, 30, 100, 1, 1, 1, 1}));
        EXPECT_EQ(text(db_msg_t), "");
        EXPECT_FALSE(viewable(db_gas_mix_f) || viewable(db_help_f));
    });
}

// Only a negative code is a database problem; messages pile up verbatim
// and in order, each cut at 80 characters.
TEST_F(Startup, MessagePaneShowsProblemsInOrderVerbatimAndCut)
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
        std::string problem = text(db_msg_t);
        EXPECT_EQ(problem.rfind("Database problem -", 0), 0u) << problem;
        EXPECT_EQ(problem.back(), '\n');

        db_print_msg("No operator entered.\n", nullptr);
        db_print_msg("Operator %s already exists.\n", "ab%sc");
        db_print_msg("Database problem %d\n", -402);
        db_print_msg("%s", std::string(100, 'x').c_str());
        const std::string expected = problem + "No operator entered.\nOperator ab%sc already exists.\n"
                                               "Database problem -402\n" + std::string(80, 'x');
        EXPECT_EQ(text(db_msg_t), expected);
        for (int i = 0; i < 200; ++i)
            db_print_msg("Operator %s is added to database.\n", std::to_string(i).c_str());
        const std::string all = text(db_msg_t);
        EXPECT_EQ(all.substr(0, expected.size() + 52),
                  expected + "Operator 0 is added to database.\nOperator 1 is added");
        EXPECT_EQ(all.substr(all.size() - 35), "Operator 199 is added to database.\n");
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
