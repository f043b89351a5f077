// Start-up as a supervisor meets it: the two failures on standard output with
// their exit statuses, the window without a stored row, and a connection lost
// under the running program. (The handler table starts from a stored row.)
#include "testbed.h"

#include <ecpglib.h>

#include <algorithm>
#include <chrono>

using namespace testbed;

// Standard output and the exit status as the program has always given them;
// the reason goes to standard error.
TEST(Startup, FailuresPrintOneLineAndExit)
{
    sql("create role outsider login"); // may not select
    const char *tls = "PGHOST=localhost,localhost PGPORT=$TESTBED_TLS_PORTS PGSSLMODE=verify-full PGUSER=supervisor "
                      "PGPASSWORD=choose-one PGSSLROOTCERT=$TESTBED_TLS_WRONG_CA";
    const std::string no_db = "Database could not be opened\n";
    const std::vector<std::tuple<std::string, int, std::string, std::string>> rows = {
        {"DISPLAY=", 255, "param-config: can't open display, exiting...\n", ""},
        {"PGHOST=/nonexistent", 1, no_db, "param-config: connection to server on socket \"/nonexistent/.s.PGSQL"},
        {"PGUSER=nobody", 1, no_db, "role \"nobody\" does not exist"},
        {"PGSERVICE=nosuch", 1, no_db, "param-config: definition of service \"nosuch\" not found"},
        {"PGUSER=outsider", 1, no_db, "param-config: permission denied for table parameters"},
        {tls, 1, no_db, "certificate verify failed"},
    };
    for (const auto &[env, status, out, err] : rows) {
        Outcome o = run_binary(env);
        EXPECT_EQ(o.status, status) << env;
        EXPECT_EQ(o.out, out) << env;
        EXPECT_NE(o.err.find(err), std::string::npos) << env << ": " << o.err;
        EXPECT_EQ(std::count(o.err.begin(), o.err.end(), '\n'), err.empty() ? 0 : 1) << o.err;
    }
}

// With no parameters row the sliders show the gas values' initial 30 and 100
// and the scales their minimum. Then the server ends the program's session:
// every handler still returns, only the gas save (the one that checks)
// reports it, and the window stays.
TEST(Startup, NoRowThenTheSessionEndedUnderTheProgram)
{
    reset_database("delete from parameters");
    with_program([] {
        EXPECT_EQ(sliders(), (std::vector{30, 100, 1, 1, 1, 1}));
        sql(std::string("select pg_terminate_backend(pid) from pg_stat_activity where application_name = '") +
            program_app + "'");
        type(db_opname_i, "ab");
        type(db_pwd_i, "pw");
        type(db_conf_pwd_i, "pw");
        for (Widget w : {db_list_b, db_add_b, db_remove_b, db_read_conf_pwd_b, db_conf_pwd_b, db_save_b})
            click(w);
        choose(db_vac_press_unit_sel, db_vac_press_kpa);
        save_gas();
        EXPECT_EQ(text(db_msg_t), "Operator ab is added to database.\nOperator ab was not found.\n"
                                  "Configuration password pw is set in database.\nDatabase problem -400\n");
        EXPECT_EQ(text(db_list_t), "Configuration password: \n");
        EXPECT_TRUE(viewable(db_dummy_f));
    });
}

// The database host vanishes (its network drops every packet) just before
// Save: with the service file's settings in effect (their waits shortened for
// the run), Save gives up within the bound and stores nothing; the process
// lives, and its window answers the next action, whose gas save reports the
// connection gone.
TEST(Startup, HostVanishedUnderTheProgram)
{
    const std::string net = "/proc/" + std::string(std::getenv("TESTBED_NET_PID")) + "/ns/net";
    with_program([] {
        const std::string file = "\n" + read_file(std::getenv("PGSERVICEFILE"));
        PQconninfoOption *in_effect = PQconninfo(ECPGget_PGconn(nullptr));
        for (PQconninfoOption *o = in_effect; o->keyword; ++o) // what the file sets is what the connection has
            EXPECT_EQ(file.find("\n" + std::string(o->keyword) + "="),
                      file.find("\n" + std::string(o->keyword) + "=" + (o->val ? o->val : "") + "\n")) << o->keyword;
        PQconninfoFree(in_effect);
        sql("update parameters set tracer_save_days = 7, net_save_days = 8", "postgres");
        ASSERT_EQ(std::system("ip link set lo down"), 0);
        const auto start = std::chrono::steady_clock::now();
        click(db_save_b);
        save_gas();
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
        EXPECT_EQ(std::system("ip link set lo up"), 0);
        EXPECT_EQ(text(db_msg_t), "Database problem -400\n");
        EXPECT_EQ(sql("select tracer_save_days, net_save_days from parameters", "postgres"), "7|8");
    }, {"TESTBED_JOIN_NET", net, "PGHOST", "127.0.0.1", "PGSERVICE", "param-config"});
}
