// The unit and printing menus, the graph definition file they rewrite, and
// the retention periods.
#include "testbed.h"

#include "graph_file.h"
#include "widgets.h"

#include <Xm/Scale.h>
#include <sys/resource.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

using namespace testbed;

namespace {

const char *const codes_query =
    "select target_press_unit || vac_press_unit || activity_unit || flow_unit || tracer_print from parameters";
const char *const days_query =
    "select tracer_save_days || ' ' || error_save_days || ' ' || net_save_days || ' ' || oper_save_days"
    " from parameters";
const std::string both_keys = "PRESSURE_UNITS bar\nFLOW_UNITS  sccm\n";

class Units : public ::testing::Test {
protected:
    void SetUp() override
    {
        reset_database();
        clean_graph_dir();
    }
};

// What the user does: opens the pulldown from the menu bar and clicks the
// entry in it.
void choose(Widget cascade, Widget menu, Widget entry)
{
    click(cascade);
    ASSERT_TRUE(pump_until([&] { return viewable(menu); })) << XtName(cascade) << " did not post its pulldown";
    click(entry);
    ASSERT_TRUE(pump_until([&] { return !viewable(menu); })) << XtName(entry) << " left the pulldown posted";
}

void activate(Widget entry)
{
    XtCallCallbacks(entry, XmNactivateCallback, nullptr);
}

// The message pane's text added since `before`.
std::string added(const std::string &before)
{
    std::string now = text(db_msg_t);
    return now.substr(0, before.size()) == before ? now.substr(before.size()) : "<pane rewritten> " + now;
}

} // namespace

// Every entry stores its own code in its own column, and only target
// pressure and flow reach the graph file, keyed by their keyword.
TEST_F(Units, EachEntryStoresItsCodeAndOnlyUnitsOfGraphsReachTheFile)
{
    struct Row {
        Widget *cascade, *menu, *entry;
        const char *codes;   // the five code columns after the choice, from "xxxxx"
        const char *graph;   // graph.def afterwards, or null: untouched
    };
    with_program([] {
        const std::vector<Row> table{
            {&target_press_unit_sel, &db_target_press_unit_sel, &db_targ_press_bar, "1xxxx",
             "PRESSURE_UNITS\tbar\nFLOW_UNITS\tsccm\n"},
            {&target_press_unit_sel, &db_target_press_unit_sel, &db_targ_press_kpa, "2xxxx",
             "PRESSURE_UNITS\tkPa\nFLOW_UNITS\tsccm\n"},
            {&target_press_unit_sel, &db_target_press_unit_sel, &db_targ_press_psi, "3xxxx",
             "PRESSURE_UNITS\tpsi\nFLOW_UNITS\tsccm\n"},
            {&db_vac_press_unit_sel, &vac_press, &db_vac_press_mbar, "x1xxx", nullptr},
            {&db_vac_press_unit_sel, &vac_press, &db_vac_press_kpa, "x2xxx", nullptr},
            {&db_vac_press_unit_sel, &vac_press, &db_vac_press_torr, "x3xxx", nullptr},
            {&db_act_unit_sel, &activity, &db_act_unit_mCi, "xx1xx", nullptr},
            {&db_act_unit_sel, &activity, &db_act_unit_MBq, "xx2xx", nullptr},
            {&db_flow_unit_sel, &flow, &db_flow_unit_mlm, "xxx1x", "PRESSURE_UNITS\tbar\nFLOW_UNITS\tmL/min\n"},
            {&db_flow_unit_sel, &flow, &db_flow_unit_sccm, "xxx2x", "PRESSURE_UNITS\tbar\nFLOW_UNITS\tsccm\n"},
            {&db_print_sel, &print, &db_print_ON, "xxxx1", nullptr},
            {&db_print_sel, &print, &db_print_OFF, "xxxx0", nullptr},
        };
        for (const Row &row : table) {
            SCOPED_TRACE(XtName(*row.entry));
            sql("update parameters set target_press_unit = 'x', vac_press_unit = 'x', activity_unit = 'x',"
                " flow_unit = 'x', tracer_print = 'x'");
            clean_graph_dir();
            write_file(graph_def, both_keys);
            // Two through the pointer; the rest run the callback registered
            // on the entry, with its own key.
            if (*row.entry == db_flow_unit_mlm || *row.entry == db_print_OFF)
                choose(*row.cascade, *row.menu, *row.entry);
            else
                activate(*row.entry);
            EXPECT_EQ(value(codes_query), row.codes);
            EXPECT_EQ(read_file(graph_def), row.graph ? row.graph : both_keys);
            if (row.graph)
                EXPECT_EQ(read_file(graph_save), both_keys);
            else
                EXPECT_FALSE(exists(graph_save));
        }
        EXPECT_EQ(text(db_msg_t), "");
    });
}

// The same choice twice: the backup then holds the first rewrite, not the
// file as the supervisor left it.
TEST_F(Units, ChoosingTwiceKeepsTheFirstResultAsBackup)
{
    write_file(graph_def, "PRESSURE_UNITS   bar\n");
    with_program([] {
        activate(db_targ_press_psi);
        activate(db_targ_press_psi);
        EXPECT_EQ(read_file(graph_def), "PRESSURE_UNITS\tpsi\n");
        EXPECT_EQ(read_file(graph_save), "PRESSURE_UNITS\tpsi\n");
        EXPECT_EQ(text(db_msg_t), "");
    });
}

// The file is rewritten token by token: pairs keep their order, spacing
// becomes one tab, other programs' keys keep their values.
TEST_F(Units, GraphFileRewrite)
{
    struct Case {
        const char *what;
        std::string before;
        const char *keyword, *unit;
        std::string after;
    };
    const std::string long_key(80, 'k');
    const std::string long_run = long_key + "kkkkk";
    const std::vector<Case> cases{
        {"spacing", "  PRESSURE_UNITS \t bar\r\n\n\vGRID\f on  ", "PRESSURE_UNITS", "psi",
         "PRESSURE_UNITS\tpsi\nGRID\ton\n"},
        {"three lines, keyword in the middle", "A 1\nFLOW_UNITS sccm\nB 2\n", "FLOW_UNITS", "mL/min",
         "A\t1\nFLOW_UNITS\tmL/min\nB\t2\n"},
        {"keyword twice", "FLOW_UNITS sccm X y FLOW_UNITS sccm", "FLOW_UNITS", "mL/min",
         "FLOW_UNITS\tmL/min\nX\ty\nFLOW_UNITS\tmL/min\n"},
        {"case counts", "pressure_units bar\nPRESSURE_UNITS bar\n", "PRESSURE_UNITS", "kPa",
         "pressure_units\tbar\nPRESSURE_UNITS\tkPa\n"},
        {"keyword missing", "A 1\nB 2\n", "PRESSURE_UNITS", "kPa", "A\t1\nB\t2\n"},
        {"value as key", "A PRESSURE_UNITS\n", "PRESSURE_UNITS", "kPa", "A\tPRESSURE_UNITS\n"},
        {"token of 85 characters", long_run + " PRESSURE_UNITS bar", "PRESSURE_UNITS", "psi",
         long_key + "\tkkkkk\nPRESSURE_UNITS\tpsi\n"},
        {"token of exactly 80", long_key + " v", "PRESSURE_UNITS", "psi", long_key + "\tv\n"},
        {"empty", "", "PRESSURE_UNITS", "psi", ""},
        {"white space only", " \n\t\n", "PRESSURE_UNITS", "psi", ""},
        // An odd token count: the last key gets an empty value, or the
        // unit when it is the keyword.
        {"last key alone", "A 1 B", "PRESSURE_UNITS", "psi", "A\t1\nB\t\n"},
        {"last keyword alone", "A 1 PRESSURE_UNITS", "PRESSURE_UNITS", "psi", "A\t1\nPRESSURE_UNITS\tpsi\n"},
        {"single token", "GRID", "PRESSURE_UNITS", "psi", "GRID\t\n"},
    };
    with_program([&] {
        for (const Case &c : cases) {
            SCOPED_TRACE(c.what);
            clean_graph_dir();
            write_file(graph_def, c.before);
            db_update_file(c.keyword, c.unit);
            EXPECT_EQ(read_file(graph_def), c.after);
            EXPECT_EQ(read_file(graph_save), c.before);
        }
        EXPECT_EQ(text(db_msg_t), "");
    });
}

// Each failing step reports its line, leaves the files as they are at that
// moment, and the code chosen stays in the database.
TEST_F(Units, FileFailuresAreReportedAndTheDatabaseChangeStands)
{
    with_program([] {
        struct Case {
            const char *what;
            std::function<void()> arrange;
            const char *message;
            const char *save;       // graph.save's content, or null: a dangling link
        };
        const std::vector<Case> cases{
            {"no graph.def", [] { write_file(graph_save, "OLD backup\n"); }, "Impossible to rename graph.def.\n",
             "OLD backup\n"},
            // The rename moves the link itself; opening it then follows a
            // link to nothing, which no privilege overcomes.
            {"graph.def a dangling link", [] { ASSERT_EQ(symlink("/nonexistent/graph.def", graph_def), 0); },
             "Impossible to open graph.save.\n", nullptr},
            // Root passes every permission check on the directory, but not
            // its own descriptor limit: allow the backup's descriptor and
            // no further one, so creating the new file fails.
            {"no descriptor left for the new file",
             [] {
                 write_file(graph_def, both_keys);
                 int first = dup(0), second = dup(0);
                 close(first);
                 close(second);
                 rlimit limit{};
                 getrlimit(RLIMIT_NOFILE, &limit);
                 limit.rlim_cur = static_cast<rlim_t>(second);
                 ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &limit), 0);
             },
             "Impossible to open graph.def.\n", both_keys.c_str()},
        };
        rlimit saved{};
        getrlimit(RLIMIT_NOFILE, &saved);
        for (const Case &c : cases) {
            SCOPED_TRACE(c.what);
            sql("update parameters set target_press_unit = '1'");
            clean_graph_dir();
            c.arrange();
            std::string before = text(db_msg_t);
            activate(db_targ_press_kpa);
            setrlimit(RLIMIT_NOFILE, &saved);
            EXPECT_EQ(added(before), c.message);
            EXPECT_EQ(value("select target_press_unit from parameters"), "2");
            EXPECT_FALSE(exists(graph_def));
            if (c.save)
                EXPECT_EQ(read_file(graph_save), c.save);
            else
                EXPECT_EQ(std::filesystem::read_symlink(graph_save), "/nonexistent/graph.def");
        }
    });
}

// Save writes the four scales back as they stand, at the ends of their
// ranges too, and says nothing.
TEST_F(Units, RetentionRoundTripsAtTheLimits)
{
    sql("update parameters set tracer_save_days = 1000, error_save_days = 1000, net_save_days = 62,"
        " oper_save_days = 1000");
    with_program([] {
        const std::vector<Widget> scales{db_tracer_save_i, db_err_save_i, db_net_save_i, db_oper_save_i};
        EXPECT_EQ(scale_value(db_tracer_save_i), 1000);
        EXPECT_EQ(scale_value(db_err_save_i), 1000);
        EXPECT_EQ(scale_value(db_net_save_i), 62);
        EXPECT_EQ(scale_value(db_oper_save_i), 1000);
        // Changed behind the program's back: Save still writes what the
        // scales loaded, all four.
        sql("update parameters set tracer_save_days = 7, error_save_days = 7, net_save_days = 7,"
            " oper_save_days = 7");
        click(db_save_b);
        EXPECT_EQ(value(days_query), "1000 1000 62 1000");
        for (Widget scale : scales)
            XmScaleSetValue(scale, 1);
        activate(db_save_b);
        EXPECT_EQ(value(days_query), "1 1 1 1");
        XmScaleSetValue(db_net_save_i, 62);
        click(db_save_b);
        EXPECT_EQ(value(days_query), "1 1 62 1");
        EXPECT_EQ(text(db_msg_t), "");
    });
}

// The scale refuses a stored value outside its range (with a toolkit
// warning) and keeps the 1 it was built with; Save then stores that 1.
TEST_F(Units, RetentionOutOfRangeShowsOneAndSaveStoresIt)
{
    sql("update parameters set tracer_save_days = 5000, error_save_days = 0, net_save_days = 63,"
        " oper_save_days = -3");
    with_program([] {
        for (Widget scale : {db_tracer_save_i, db_err_save_i, db_net_save_i, db_oper_save_i})
            EXPECT_EQ(scale_value(scale), 1) << XtName(scale);
        activate(db_save_b);
        EXPECT_EQ(value(days_query), "1 1 1 1");
        EXPECT_EQ(text(db_msg_t), "");
    });
}

// Without the row, choices and Save have nothing to change and say
// nothing; the graph file is rewritten all the same.
TEST_F(Units, EmptyParametersTableChangesNothingAndSaysNothing)
{
    sql("delete from parameters");
    write_file(graph_def, both_keys);
    with_program([] {
        choose(target_press_unit_sel, db_target_press_unit_sel, db_targ_press_kpa);
        for (Widget entry : {db_vac_press_torr, db_act_unit_MBq, db_flow_unit_mlm, db_print_OFF})
            activate(entry);
        XmScaleSetValue(db_net_save_i, 62);
        click(db_save_b);
        EXPECT_EQ(value("select count(*) from parameters"), "0");
        EXPECT_EQ(read_file(graph_def), "PRESSURE_UNITS\tkPa\nFLOW_UNITS\tmL/min\n");
        EXPECT_EQ(text(db_msg_t), "");
    });
}
