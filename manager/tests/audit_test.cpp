// The audit trail of db/audit.sql: what the program's own changes leave in
// it, and that the tool's role can use the program but not touch the trail.
#include "testbed.h"

#include <Xm/Scale.h>
#include <libpq-fe.h>

#include <cstdlib>
#include <regex>

using namespace testbed;

namespace {

// A login of the tool's least-privilege role.
const char *const supervisor = "audit_supervisor";

// The SQLSTATE is empty when the statement succeeded.
struct Reply { std::string sqlstate; Table rows; };

// One statement as the given role, refusals included in the reply.
Reply run_as(const std::string &user, const std::string &statement, const std::string &application = "")
{
    PGconn *conn = PQconnectdb(("dbname=kelvaron user=" + user + " application_name='" + application + "'").c_str());
    EXPECT_EQ(PQstatus(conn), CONNECTION_OK) << user << ": " << PQerrorMessage(conn);
    PGresult *res = PQexec(conn, statement.c_str());
    const char *state = PQresultErrorField(res, PG_DIAG_SQLSTATE);
    Reply reply{state ? state : "", Table(static_cast<std::size_t>(PQntuples(res)))};
    for (int i = 0; i < PQntuples(res); ++i)
        for (int j = 0; j < PQnfields(res); ++j)
            reply.rows[i].emplace_back(PQgetisnull(res, i, j) ? "<null>" : PQgetvalue(res, i, j));
    PQclear(res);
    PQfinish(conn);
    return reply;
}

struct Audit : ::testing::Test {
    // The trail stays if the test bed installed it; otherwise it is this
    // test's own and goes again. Loading both files again each time is what
    // a site's administrator may do too.
    void SetUp() override
    {
        admin = value("select session_user");
        installed_here = value("select to_regclass('audit.trail') is null") == "t";
        sql(read_file(PROJECT_SOURCE_DIR "/db/role.sql"));
        sql(read_file(PROJECT_SOURCE_DIR "/db/audit.sql"));
        sql("do $$ begin if not exists (select from pg_roles where rolname = '" + std::string(supervisor) +
            "') then create role " + supervisor + " login in role param_config; end if; end $$");
        reset_database();
        mark = value("select coalesce(max(id), 0) from audit.trail");
    }

    void TearDown() override
    {
        if (installed_here)
            sql("set client_min_messages = warning; drop schema audit cascade");
    }

    // Rows added to the trail since the last call (or SetUp).
    Table added(const std::string &columns = "table_name, operation, row_key, column_name, old_value, new_value")
    {
        // As the administrator: the program's tests log in as the tool's role.
        Table r = run_as(admin, "select " + columns + ", id from audit.trail where id > " + mark + " order by id").rows;
        for (auto &row : r) {
            mark = row.back();
            row.pop_back();
        }
        return r;
    }

    std::string admin, mark = "0";
    bool installed_here = false;
};

} // namespace

// The program, logged in as a member of the tool's role, with the trail
// installed: every change leaves one row per changed column, a change to
// the same value leaves none, and passwords appear only as "changed".
TEST_F(Audit, EveryChangeIsRecordedAndTheToolRoleCannotAlterTheTrail)
{
    const std::string op_pw = "tulip", conf_pw = "kelvin";
    setenv("PGUSER", supervisor, 1);
    with_program([&] {
        const std::string start = mark, conf_set = "Configuration password " + conf_pw + " is set in database.\n";
        // What is done, how, the message it shows and the rows it leaves.
        for (const auto &[what, act, message, rows] :
             {std::tuple<const char *, std::function<void()>, std::string, Table>{
                  "activity unit MBq", [] { choose_from_menu(db_act_unit_sel, activity, db_act_unit_MBq); }, "",
                  {{"parameters", "UPDATE", "<null>", "activity_unit", "1", "2"}}},
              {"activity unit MBq again", [] { choose_from_menu(db_act_unit_sel, activity, db_act_unit_MBq); }, "", {}},
              {"save with one period changed", [] { XmScaleSetValue(db_net_save_i, 62); click(db_save_b); }, "",
               {{"parameters", "UPDATE", "<null>", "net_save_days", "31", "62"}}},
              {"save unchanged", [] { click(db_save_b); }, "", {}},
              {"add operator", [&] { set_text(db_opname_i, "e  ve"); set_text(db_pwd_i, op_pw); click(db_add_b); },
               "Operator e  ve is added to database.\n",
               {{"operator_list", "INSERT", "e  ve", "operator", "<null>", "e  ve"},
                {"operator_list", "INSERT", "e  ve", "password", "<null>", "changed"}}},
              // The name stays in its field after Add.
              {"remove operator", [] { click(db_remove_b); }, "Operator e  ve is deleted from database.\n",
               {{"operator_list", "DELETE", "e  ve", "operator", "e  ve", "<null>"},
                {"operator_list", "DELETE", "e  ve", "password", "<null>", "changed"}}},
              {"set configuration password", [&] { set_text(db_conf_pwd_i, conf_pw); click(db_conf_pwd_b); },
               conf_set, {{"parameters", "UPDATE", "<null>", "password", "<null>", "changed"}}},
              {"set the same configuration password", [] { click(db_conf_pwd_b); }, conf_set, {}}}) {
            SCOPED_TRACE(what);
            set_text(db_msg_t, "");
            act();
            EXPECT_EQ(text(db_msg_t), message);
            EXPECT_EQ(added(), rows);
        }
        EXPECT_EQ(run_as(admin, "select activity_unit, net_save_days, password, (select count(*) from operator_list)"
                                " from parameters").rows,
                  (Table{{"2", "62", enciphered(conf_pw) + "  ", "0"}}));

        // Who and from where, for every row the program caused; the
        // stored password bytes, their hex and the clear text nowhere.
        std::vector<std::string> secrets;
        for (const std::string &pw : {op_pw, conf_pw})
            secrets.insert(secrets.end(), {pw, enciphered(pw),
                                           std::regex_replace(enciphered_literal(pw), std::regex(R"(E'|\\x|')"), "")});
        mark = start;
        for (const auto &row : added("db_user, application, client_addr, table_name, operation, row_key,"
                                     " column_name, old_value, new_value")) {
            EXPECT_EQ(row[0] + "|" + row[1] + "|" + row[2], std::string(supervisor) + "||<null>")
                << "no application name is set by the program; a Unix socket has no address";
            for (const auto &field : row)
                for (const auto &secret : secrets)
                    EXPECT_EQ(field.find(secret), std::string::npos) << field;
        }
    });
    unsetenv("PGUSER");

    // The tool's role reads this week's changes through the view and can do
    // nothing else to the trail: every attempt is refused for want of a
    // privilege, including switching the triggers off. Even the owner cannot
    // rewrite what is there.
    sql("update parameters set gas_value = 40");
    const Table week = run_as(supervisor, "select db_user, table_name, column_name, old_value, new_value"
                                          " from audit.changes_this_week").rows;
    ASSERT_FALSE(week.empty());
    EXPECT_EQ(week.back(), (std::vector<std::string>{admin, "parameters", "gas_value", "35", "40"}));
    const std::string trail = "select count(*), max(id), max(old_value) from audit.trail";
    const Table before = run_as(admin, trail).rows;
    for (const char *statement :
         {"update audit.trail set old_value = 'x'", "delete from audit.trail", "truncate audit.trail"}) {
        EXPECT_EQ(run_as(supervisor, statement).sqlstate, "42501") << statement;
        EXPECT_EQ(run_as(admin, statement).sqlstate, "P0001") << statement;
    }
    for (const char *statement :
         {"select * from audit.trail", "update audit.changes_this_week set db_user = 'x'",
          "insert into audit.trail (table_name, operation) values ('parameters', 'UPDATE')",
          "delete from audit.changes_this_week",
          "alter table parameters disable trigger audit_row", "drop trigger audit_row on operator_list",
          "set session_replication_role = replica", "select audit.record_change()",
          "create or replace function audit.record_change() returns trigger language sql as 'select null'"})
        EXPECT_EQ(run_as(supervisor, statement).sqlstate, "42501") << statement;
    EXPECT_EQ(run_as(admin, trail).rows, before);

    // Changes from any other client are recorded alike, with the
    // application name it gives; emptying a table is recorded as one row.
    added();
    EXPECT_EQ(run_as(supervisor,
                     "update parameters set gas_value = 41, gas_pressure = 80, password = password;"
                     " update parameters set password = E'\\x01\\xfe\\xff';"
                     " insert into operator_list values ('x', null)",
                     "site-script").sqlstate, "");
    sql("truncate operator_list");
    EXPECT_EQ(added("db_user, application, table_name, operation, row_key, column_name, old_value, new_value"),
              (Table{
                  {supervisor, "site-script", "parameters", "UPDATE", "<null>", "gas_value", "40", "41"},
                  {supervisor, "site-script", "parameters", "UPDATE", "<null>", "password", "<null>", "changed"},
                  {supervisor, "site-script", "operator_list", "INSERT", "x", "operator", "<null>", "x"},
                  {supervisor, "site-script", "operator_list", "INSERT", "x", "password", "<null>", "<null>"},
                  {admin, "", "operator_list", "TRUNCATE", "<null>", "<null>", "<null>", "<null>"},
              }));
}

