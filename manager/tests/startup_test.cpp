// Start-up as a supervisor meets it: the two failures on standard output with
// their exit statuses, the window without a stored row, and a connection lost
// under the running program. (The handler table starts from a stored row.)
#include "testbed.h"

#include <algorithm>

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
        {"PGHOST=/nonexistent,/nonexistent", 1, no_db, "\"/nonexistent/.s.PGSQL.5432\" failed: No such file or directory Is "
         "the server running locally and accepting connections on that socket?; connection to server on socket"},
        {"PGUSER=nobody", 1, no_db, "role \"nobody\" does not exist"},
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
        EXPECT_EQ(sliders(), (std::vector<std::string>{"3.0", "10.0", "1", "1", "1", "1"}));
        sql(std::string("select pg_terminate_backend(pid) from pg_stat_activity where application_name = '") +
            program_app + "'");
        type(db_opname_i, "ab");
        type(db_pwd_i, "pw");
        type(db_conf_pwd_i, "pw");
        for (Widget w : {db_list_b, db_add_b, db_remove_b, db_read_conf_pwd_b, db_conf_pwd_b, db_save_b})
            click(w);
        choose(db_vac_press_unit_sel, db_vac_press_kpa);
        click(db_gas_mix_b);
        EXPECT_TRUE(pump_until([] { return viewable(db_gas_mix_save_b); }));
        click(db_gas_mix_save_b);
        EXPECT_EQ(text(db_msg_t), "Operator ab is added to database.\nOperator ab was not found.\n"
                                  "Configuration password pw is set in database.\nDatabase problem -400\n");
        EXPECT_EQ(text(db_list_t), "Configuration password: \n");
        EXPECT_TRUE(viewable(db_dummy_f));
    });
}
