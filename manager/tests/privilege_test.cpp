// The least-privilege role of db/role.sql: a supervisor's login that is a
// member of it and nothing more runs every handler of the program, and the
// server refuses that login anything outside the program's statements.
#include "testbed.h"

#include "widgets.h"

#include <Xm/Scale.h>
#include <Xm/TextF.h>
#include <libpq-fe.h>

#include <cstdlib>
#include <string>
#include <vector>

using namespace testbed;

namespace {

using Table = std::vector<std::vector<std::string>>;

class LeastPrivilege : public ::testing::Test {
protected:
    void SetUp() override
    {
        reset_database();
        sql("insert into operator_list values ('anna', " + enciphered_literal("ann1") + ")");
        clean_graph_dir();
        write_file(graph_def, "PRESSURE_UNITS\tbar\nFLOW_UNITS\tmL/min\n");
        sql(read_file(PROJECT_SOURCE_DIR "/db/role.sql"));
        sql("set client_min_messages = warning;"
            "drop role if exists supervisor; create role supervisor login in role param_config;"
            "drop role if exists visitor; create role visitor login");
    }
};

// The program as the supervisor starts it: the client library takes the
// role from PGUSER, as it would from a service file or ~/.pgpass.
void as_supervisor(const std::function<void()> &body)
{
    in_child([&] {
        setenv("PGUSER", "supervisor", 1);
        with_program(body);
    });
}

// The SQLSTATE with which the server answers a statement from `role`, or
// "ok".
std::string answer_to(const std::string &role, const std::string &statement)
{
    PGconn *conn = PQconnectdb(("dbname=kelvaron user=" + role).c_str());
    std::string state = PQstatus(conn) == CONNECTION_OK ? "ok" : "no connection";
    if (state == "ok") {
        PGresult *result = PQexec(conn, statement.c_str());
        ExecStatusType status = PQresultStatus(result);
        if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) {
            const char *sqlstate = PQresultErrorField(result, PG_DIAG_SQLSTATE);
            state = sqlstate ? sqlstate : "failed";
        }
        PQclear(result);
    }
    PQfinish(conn);
    return state;
}

} // namespace

TEST_F(LeastPrivilege, EveryHandlerWorksForAMemberOfTheRole)
{
    as_supervisor([] {
        choose_from_menu(target_press_unit_sel, db_target_press_unit_sel, db_targ_press_kpa);
        choose_from_menu(db_vac_press_unit_sel, vac_press, db_vac_press_torr);
        choose_from_menu(db_act_unit_sel, activity, db_act_unit_MBq);
        choose_from_menu(db_flow_unit_sel, flow, db_flow_unit_sccm);
        choose_from_menu(db_print_sel, print, db_print_OFF);

        XmScaleSetValue(db_tracer_save_i, 500);
        XmScaleSetValue(db_err_save_i, 45);
        XmScaleSetValue(db_net_save_i, 20);
        XmScaleSetValue(db_oper_save_i, 700);
        click(db_save_b);

        set_text(db_opname_i, "zoe");
        set_text(db_pwd_i, "lily");
        click(db_add_b);
        set_text(db_opname_i, "anna");
        click(db_remove_b);
        click(db_list_b);
        EXPECT_EQ(text(db_list_t), "Operator: zoe       Password: lily\n");

        set_text(db_conf_pwd_i, "tulip8");
        click(db_conf_pwd_b);
        click(db_read_conf_pwd_b);
        EXPECT_EQ(text(db_list_t), "Configuration password: tulip8\n");

        click(db_gas_mix_b);
        ASSERT_TRUE(pump_until([] { return viewable(db_gas_mix_f); })) << "the gas dialog did not come up";
        XmScaleSetValue(db_gas_mix_i, 42);
        XmScaleSetValue(db_gas_pressure_i, 61);
        click(db_gas_mix_save_b);

        EXPECT_EQ(text(db_msg_t), "Operator zoe is added to database.\n"
                                  "Operator anna is deleted from database.\n"
                                  "Configuration password tulip8 is set in database.\n");
    });

    EXPECT_EQ(rows("select target_press_unit, vac_press_unit, activity_unit, flow_unit, tracer_print,"
                   " tracer_save_days, error_save_days, net_save_days, oper_save_days,"
                   " gas_value, gas_pressure, password = " +
                   enciphered_literal("tulip8") + " from parameters"),
              (Table{{"2", "3", "2", "2", "0", "500", "45", "20", "700", "42", "61", "t"}}));
    EXPECT_EQ(rows("select operator, password = " + enciphered_literal("lily") + " from operator_list"),
              (Table{{"zoe  ", "t"}}));
    EXPECT_EQ(read_file(graph_def), "PRESSURE_UNITS\tkPa\nFLOW_UNITS\tsccm\n");
}

TEST_F(LeastPrivilege, EverythingElseIsRefused)
{
    const char *const insufficient_privilege = "42501";
    for (const char *statement : {
             "insert into parameters (gas_value) values (1)",
             "delete from parameters",
             "truncate operator_list",
             "update operator_list set password = 'x'",
             "create table extra (a integer)",
             "alter table parameters add column extra integer",
             "drop table operator_list",
         })
        EXPECT_EQ(answer_to("supervisor", statement), insufficient_privilege) << statement;
    EXPECT_EQ(rows("select count(*) from parameters"), (Table{{"1"}}));
    EXPECT_EQ(rows("select count(*) from operator_list"), (Table{{"1"}}));

    // The grants are the role's: a login outside it cannot even start the
    // program.
    EXPECT_EQ(answer_to("visitor", "select gas_value from parameters"), insufficient_privilege);
    Outcome o = run_binary({"param-config"}, {{"PGUSER", "visitor"}});
    EXPECT_EQ(o.exit_status, 1);
    EXPECT_EQ(o.out, "Database could not be opened\n");
}
