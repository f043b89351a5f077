// The site database as several consoles, the tool's role and other clients
// meet it, and the site's server over TLS with its standby. (upgrade.sh
// checks the upgrade of an old site database.)
#include "testbed.h"

#include "callbacks.h"

#include <sys/wait.h>
#include <unistd.h>

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

// Two consoles press Add for the same new name at the same moment: both
// count no such operator while a lock holds their inserts back, and one
// insert is refused.
TEST(Database, TwoConsolesAddingOneNameStoreOneRow)
{
    reset_database();
    std::FILE *lock = popen("psql -X -q -d kelvaron -c 'begin' -c 'lock operator_list in share row exclusive mode' "
                            "-c 'select pg_sleep(2)' -c 'commit'", "r");
    for (int i = 0; i < 200 && sql("select count(*) from pg_locks where mode like 'ShareRowEx%'") != "1"; ++i)
        usleep(10000);
    pid_t consoles[2];
    for (pid_t &pid : consoles)
        if ((pid = fork()) == 0) {
            with_program([] {
                put(db_opname_i, "race");
                put(db_pwd_i, "pw");
                db_add_btn(nullptr, nullptr, nullptr);
            });
            _exit(::testing::Test::HasFailure());
        }
    for (pid_t pid : consoles) {
        int status = 1;
        waitpid(pid, &status, 0);
        EXPECT_EQ(status, 0);
    }
    pclose(lock);
    EXPECT_EQ(sql("select count(*) from operator_list"), "1");
}

// Over TLS with the server's certificate checked, with the standby listed
// first: the tool works on the primary; after the primary is lost and the
// standby promoted, the tool started again shows the change.
TEST(Database, ChangeOverTlsSurvivesTheStandbysTakeover)
{
    const std::vector<std::string> site = {"PGHOST", "localhost,localhost", "PGPORT", std::getenv("TESTBED_TLS_PORTS"),
        "PGTARGETSESSIONATTRS", "read-write", "PGSSLMODE", "verify-full", "PGSSLROOTCERT",
        std::getenv("TESTBED_TLS_CA"), "PGUSER", "supervisor", "PGPASSWORD", "choose-one"};
    with_program([] {
        type(db_conf_pwd_i, "moved");
        click(db_conf_pwd_b);
    }, site);
    ASSERT_EQ(std::system(std::getenv("TESTBED_FAILOVER")), 0);
    with_program([] {
        click(db_read_conf_pwd_b);
        EXPECT_EQ(text(db_list_t), "Configuration password: moved\n");
    }, site);
}
