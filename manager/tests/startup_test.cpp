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
        EXPECT_EQ(std::pair(o.exit_status, o.out), std::pair(status, std::string(out)));
        XSync(watch, False);
        for (XEvent e; XCheckTypedEvent(watch, MapNotify, &e);)
            EXPECT_TRUE(e.xmap.override_redirect) << "a window was shown";
        XCloseDisplay(watch);
    }
}

// Without the row the sliders of both dialogs and the periods start at
// their initial values (stored ones are loaded in the dialogs' and the
// periods' own tests); nothing is shown but the window. Only a negative
// code is a database problem; messages pile up verbatim and in order, each
// cut at 80 characters. Closed through the window manager, the main window
// only hides: the program goes on, connected.
TEST_F(Startup, EmptyTableStartsAtInitialValuesMessagesPileUpAndClosingOnlyHides)
{
    sql("delete from parameters");
    with_program([] {
        EXPECT_EQ(std::vector({scale_value(db_gas_mix_i), scale_value(db_gas_pressure_i), db_gas_mix_value,
                               db_gas_pressure_value, scale_value(db_tracer_save_i), scale_value(db_err_save_i),
                               scale_value(db_net_save_i), scale_value(db_oper_save_i)}),
                  std::vector({30, 100, 30, 100, 1, 1, 1, 1}));
        EXPECT_EQ(text(db_msg_t), "");
        EXPECT_FALSE(viewable(db_gas_mix_f) || viewable(db_help_f));

        int days = 0;
        // Codes 100 (no row), 0 (success) and then a negative one.
        for (const char *change : {"delete from parameters", "insert into parameters (net_save_days) values (31)",
                                   "alter table parameters rename to parameters_away"}) {
            sql(change);
            store_select_days(DaysColumn::net_save_days, days);
            db_check();
        }
        sql("alter table parameters_away rename to parameters");
        const std::string problem = text(db_msg_t);
        EXPECT_TRUE(problem.rfind("Database problem -", 0) == 0 && problem.find('\n') == problem.size() - 1)
            << problem;

        db_print_msg("No operator entered.\n", nullptr);
        db_print_msg("Operator %s already exists.\n", "ab%sc");
        db_print_msg("Database problem %d\n", -402);
        db_print_msg("%s", std::string(100, 'x').c_str());
        std::string expected = problem + "No operator entered.\nOperator ab%sc already exists.\n"
                                         "Database problem -402\n" + std::string(80, 'x');
        for (int i = 0; i < 200; ++i) {
            db_print_msg("Operator %s is added to database.\n", std::to_string(i).c_str());
            expected += "Operator " + std::to_string(i) + " is added to database.\n";
        }
        EXPECT_EQ(text(db_msg_t), expected);

        move_to(db_input_f);
        key(XK_F12); // the window manager's close binding
        ASSERT_TRUE(pump_until([] { return !viewable(db_dummy_f); })) << "the window manager did not close it";
        // Still running and still connected: a handler reads the database.
        reset_database();
        store_select_days(DaysColumn::net_save_days, days);
        EXPECT_EQ(std::pair(store_sqlcode(), days), std::pair(0L, 31));
    });
}
