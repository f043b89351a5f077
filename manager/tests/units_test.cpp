// The unit and printing menus, the graph definition file they rewrite, and
// the retention periods.
#include "testbed.h"

#include "graph_file.h"

#include <Xm/Scale.h>
#include <sys/resource.h>
#include <unistd.h>

#include <array>
#include <filesystem>

using namespace testbed;
using Units = StandardRow;

const std::string days = "tracer_save_days, error_save_days, net_save_days, oper_save_days",
                  days_query = "select concat_ws(' ', " + days + ") from parameters";
const std::string both_keys = "PRESSURE_UNITS bar\nFLOW_UNITS  sccm\n";

// Runs the callback registered on the entry, with the entry's own key.
static void activate(Widget entry) { XtCallCallbacks(entry, XmNactivateCallback, nullptr); }

// Every entry stores its own code in its own column, and only target
// pressure and flow reach the graph file, keyed by their keyword. The same
// choice twice leaves the first rewrite, not the supervisor's file, as the
// backup. The file is rewritten token by token: pairs keep their order,
// spacing becomes one tab, other programs' keys keep their values. With an
// odd token count the last key gets an empty value, or the unit when it is
// the keyword. Each failing step reports its line, leaves the files as they
// are at that moment, and the code chosen stays in the database. Without
// the row, choices and Save have nothing to change and say nothing; the
// graph file is rewritten all the same.
TEST_F(Units, MenuEntriesStoreTheirCodesAndRewriteTheGraphFile)
{
    with_program([] {
        auto def = [](const char *pressure, const char *flow) {
            return std::string("PRESSURE_UNITS\t") + pressure + "\nFLOW_UNITS\t" + flow + "\n";
        };
        // The entry, the five code columns after the choice (from "xxxxx"),
        // graph.def afterwards ("": untouched) and, for two, the cascade
        // button through which the pointer chooses the entry.
        for (const auto &[entry, codes, graph, cascade] :
             {std::tuple<Widget, const char *, std::string, Widget>{db_targ_press_bar, "1xxxx", def("bar", "sccm"), {}},
              {db_targ_press_kpa, "2xxxx", def("kPa", "sccm"), {}},
              {db_targ_press_psi, "3xxxx", def("psi", "sccm"), {}},
              {db_vac_press_mbar, "x1xxx", "", {}},
              {db_vac_press_kpa, "x2xxx", "", {}},
              {db_vac_press_torr, "x3xxx", "", {}},
              {db_act_unit_mCi, "xx1xx", "", {}},
              {db_act_unit_MBq, "xx2xx", "", {}},
              {db_flow_unit_mlm, "xxx1x", def("bar", "mL/min"), db_flow_unit_sel},
              {db_flow_unit_sccm, "xxx2x", def("bar", "sccm"), {}},
              {db_print_ON, "xxxx1", "", {}},
              {db_print_OFF, "xxxx0", "", db_print_sel}}) {
            SCOPED_TRACE(XtName(entry));
            sql("update parameters set target_press_unit = 'x', vac_press_unit = 'x', activity_unit = 'x',"
                " flow_unit = 'x', tracer_print = 'x'");
            clean_graph_dir();
            write_file(graph_def, both_keys);
            if (cascade)
                choose_from_menu(cascade, XtParent(entry), entry);
            else
                activate(entry);
            EXPECT_EQ(value("select target_press_unit || vac_press_unit || activity_unit || flow_unit || tracer_print"
                            " from parameters"), codes);
            EXPECT_EQ(read_file(graph_def), graph.empty() ? both_keys : graph);
            EXPECT_EQ(exists(graph_save) ? read_file(graph_save) : "<none>", graph.empty() ? "<none>" : both_keys);
        }
        write_file(graph_def, "PRESSURE_UNITS   bar\n");
        activate(db_targ_press_psi);
        activate(db_targ_press_psi);
        EXPECT_EQ(read_file(graph_def) + read_file(graph_save), "PRESSURE_UNITS\tpsi\nPRESSURE_UNITS\tpsi\n");

        const std::string k80(80, 'k'), p = "PRESSURE_UNITS", f = "FLOW_UNITS";
        // Before, keyword, unit, after.
        for (const auto &[before, keyword, unit, after] :
             {std::array<std::string, 4>{"  " + p + " \t bar\r\n\n\vGRID\f on  ", p, "psi", p + "\tpsi\nGRID\ton\n"},
              {"A 1\nFLOW_UNITS sccm\nB 2\n", f, "mL/min", "A\t1\nFLOW_UNITS\tmL/min\nB\t2\n"},
              {"FLOW_UNITS sccm X y FLOW_UNITS sccm", f, "mL/min", "FLOW_UNITS\tmL/min\nX\ty\nFLOW_UNITS\tmL/min\n"},
              {"pressure_units bar\nPRESSURE_UNITS bar\n", p, "kPa", "pressure_units\tbar\nPRESSURE_UNITS\tkPa\n"},
              {"A 1\nB 2\n", p, "kPa", "A\t1\nB\t2\n"},
              {"A PRESSURE_UNITS\n", p, "kPa", "A\tPRESSURE_UNITS\n"},
              {k80 + "kkkkk PRESSURE_UNITS bar", p, "psi", k80 + "\tkkkkk\nPRESSURE_UNITS\tpsi\n"},
              {k80 + " v", p, "psi", k80 + "\tv\n"},
              {"", p, "psi", ""},
              {" \n\t\n", p, "psi", ""},
              {"A 1 B", p, "psi", "A\t1\nB\t\n"},
              {"A 1 PRESSURE_UNITS", p, "psi", "A\t1\nPRESSURE_UNITS\tpsi\n"},
              {"GRID", p, "psi", "GRID\t\n"}}) {
            SCOPED_TRACE(before);
            clean_graph_dir();
            write_file(graph_def, before);
            db_update_file(keyword.c_str(), unit.c_str());
            EXPECT_EQ(read_file(graph_def), after);
            EXPECT_EQ(read_file(graph_save), before);
        }
        EXPECT_EQ(text(db_msg_t), "");

        rlimit saved{};
        getrlimit(RLIMIT_NOFILE, &saved);
        // What is wrong, the message, and graph.save's content or a link's target.
        for (const auto &[what, arrange, message, save] :
             {std::tuple<const char *, std::function<void()>, std::string, std::string>{
                  "no graph.def", [] { write_file(graph_save, "OLD backup\n"); }, "Impossible to rename graph.def.\n",
                  "OLD backup\n"},
              // The rename moves the link itself; opening it then follows a
              // link to nothing, which no privilege overcomes.
              {"graph.def a dangling link", [] { ASSERT_EQ(symlink("/nonexistent/graph.def", graph_def), 0); },
               "Impossible to open graph.save.\n", "/nonexistent/graph.def"},
              // Root passes every permission check on the directory, but not
              // its own descriptor limit: allow the backup's descriptor and
              // no further one, so creating the new file fails.
              {"no descriptor left for the new file",
               [&] {
                   write_file(graph_def, both_keys);
                   int next = dup(0);
                   close(next);
                   rlimit limit{static_cast<rlim_t>(next + 1), saved.rlim_max};
                   ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &limit), 0);
               },
               "Impossible to open graph.def.\n", both_keys}}) {
            SCOPED_TRACE(what);
            sql("update parameters set target_press_unit = '1'");
            clean_graph_dir();
            arrange();
            const std::string before = text(db_msg_t);
            activate(db_targ_press_kpa);
            setrlimit(RLIMIT_NOFILE, &saved);
            EXPECT_EQ(text(db_msg_t), before + message);
            EXPECT_EQ(value("select target_press_unit from parameters"), "2");
            EXPECT_FALSE(exists(graph_def));
            EXPECT_EQ(std::filesystem::is_symlink(graph_save) ? std::filesystem::read_symlink(graph_save).string()
                                                              : read_file(graph_save), save);
        }

        set_text(db_msg_t, "");
        sql("delete from parameters");
        write_file(graph_def, both_keys);
        choose_from_menu(target_press_unit_sel, db_target_press_unit_sel, db_targ_press_kpa);
        for (Widget entry : {db_vac_press_torr, db_act_unit_MBq, db_flow_unit_mlm, db_print_OFF})
            activate(entry);
        XmScaleSetValue(db_net_save_i, 62);
        click(db_save_b);
        EXPECT_EQ(value("select count(*) from parameters"), "0");
        EXPECT_EQ(read_file(graph_def), "PRESSURE_UNITS\tkPa\nFLOW_UNITS\tmL/min\n");
        EXPECT_EQ(text(db_msg_t), "");
    });
}

// Save writes the four scales back as they were loaded, at the ends of
// their ranges too, over a change made behind the program's back, and says
// nothing. A stored value outside a scale's range leaves the 1 the scale
// was built with (and a toolkit warning); Save then stores that 1.
TEST_F(Units, RetentionRoundTripsAtTheLimits)
{
    for (const auto &[stored, shown] : {std::pair{"1000, 1000, 62, 1000", "1000 1000 62 1000"},
                                        {"1000, 7, 62, 1", "1000 7 62 1"}, {"5000, 0, 63, -3", "1 1 1 1"}}) {
        sql("update parameters set (" + days + ") = (" + stored + ")");
        with_program([shown = std::string(shown)] {
            sql("update parameters set (" + days + ") = (7, 7, 7, 7)");
            click(db_save_b);
            EXPECT_EQ(value(days_query), shown);
            for (Widget scale : {db_tracer_save_i, db_err_save_i, db_net_save_i, db_oper_save_i})
                XmScaleSetValue(scale, scale == db_net_save_i ? 62 : 1);
            click(db_save_b);
            EXPECT_EQ(value(days_query), "1 1 62 1");
            EXPECT_EQ(text(db_msg_t), "");
        });
    }
}
