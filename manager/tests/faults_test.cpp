// Faults from outside while the program runs: the database server going
// away, a graph directory that is missing or read-only, help files that are
// huge, hold a NUL byte or cannot be read. The program must report what it
// reports anyway, change nothing else and keep running.
#include "testbed.h"

#include "widgets.h"

#include <Xm/Text.h>
#include <pwd.h>
#include <sched.h>
#include <sys/fsuid.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <regex>
#include <string>
#include <vector>

using namespace testbed;
namespace fs = std::filesystem;

namespace {

const std::string pg_bin = std::getenv("TESTBED_PG_BIN") ? std::getenv("TESTBED_PG_BIN") : "/usr/lib/postgresql/15/bin";
const std::string both_keys = "PRESSURE_UNITS bar\nFLOW_UNITS sccm\n";
// The user the file-permission cases run as: not root, who passes every check.
constexpr uid_t unprivileged = 65534;

void activate(Widget w)
{
    XtCallCallbacks(w, XmNactivateCallback, nullptr);
}

// The panels' buttons act when they cascade, as on a press.
void cascade(Widget w)
{
    XtCallCallbacks(w, XmNcascadingCallback, nullptr);
}

// The message pane's text added since `before`.
std::string added(const std::string &before)
{
    std::string now = text(db_msg_t);
    return now.compare(0, before.size(), before) == 0 ? now.substr(before.size()) : "<pane rewritten> " + now;
}

void run(const std::string &command)
{
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
}

// A cluster of the test's own, so that it can be stopped under the program
// without taking the shared one from the other tests. Its socket goes into
// PGHOST while it exists, for the program and for sql().
class PrivateCluster {
public:
    PrivateCluster()
    {
        saved_host_ = std::getenv("PGHOST") ? std::getenv("PGHOST") : "";
        std::string d = dir_.path();
        run("chown postgres: " + d + " && mkdir " + d + "/sock && chown postgres: " + d + "/sock");
        as_postgres("initdb -D " + d + "/data -A trust --no-sync -E SQL_ASCII --locale=C >" + d + "/initdb.log 2>&1");
        as_postgres("pg_ctl -D " + d + "/data -l " + d + "/log -w -t 30 -o \"-c listen_addresses='' -k " + d +
                    "/sock -p 5432 -c fsync=off\" start >/dev/null");
        setenv("PGHOST", (d + "/sock").c_str(), 1);
        // The program connects as the OS user, without naming a role.
        std::string me = getpwuid(geteuid())->pw_name;
        if (me != "postgres")
            as_postgres("psql -X -q -d postgres -c 'create role \"" + me + "\" superuser login'");
        run(pg_bin + "/createdb -E SQL_ASCII --locale=C -T template0 kelvaron");
        run(pg_bin + "/psql -X -q -v ON_ERROR_STOP=1 -d kelvaron -f " PROJECT_SOURCE_DIR "/db/schema.sql >/dev/null");
    }
    ~PrivateCluster()
    {
        stop();
        setenv("PGHOST", saved_host_.c_str(), 1);
    }
    PrivateCluster(const PrivateCluster &) = delete;
    PrivateCluster &operator=(const PrivateCluster &) = delete;

    // As a crash or a pulled plug would: no shutdown handshake with clients.
    void stop()
    {
        if (exists(dir_.path() + "/data/postmaster.pid"))
            as_postgres("pg_ctl -D " + dir_.path() + "/data -m immediate -w -t 30 stop >/dev/null");
    }

private:
    void as_postgres(const std::string &command)
    {
        run("cd " + dir_.path() + " && runuser -u postgres -- " + pg_bin + "/" + command);
    }
    TempDir dir_;
    std::string saved_host_;
};

} // namespace

// The server stops under the running program. Every handler still returns
// and reports only what it reports anyway; the gas save, the one that checks,
// shows the negative code; the window stays up and answers.
TEST(Faults, DatabaseServerStoppedWhileRunning)
{
    PrivateCluster cluster;
    reset_database();
    sql("insert into operator_list values ('op1', " + enciphered_literal("pw") + ")");
    with_program(
        [&] {
            cascade(db_list_b);
            ASSERT_EQ(text(db_list_t), "Operator: op1       Password: pw\n") << "not the test's own cluster";
            cluster.stop();
            clean_graph_dir();
            write_file(graph_def, both_keys);

            struct Row {
                const char *what;
                std::function<void()> act;
                const char *message; // a pattern for the text added to the message pane
                const char *list;    // the list pane afterwards, or null: as before
            };
            const std::string help = read_file("helpfiles/param-config.hlp");
            const std::vector<Row> table{
                {"List", [] { cascade(db_list_b); }, "", ""},
                {"Read", [] { cascade(db_read_conf_pwd_b); }, "", "Configuration password: \n"},
                {"Set", [] { set_text(db_conf_pwd_i, "new"); cascade(db_conf_pwd_b); },
                 "Configuration password new is set in database\\.\n", nullptr},
                {"Add", [] { set_text(db_opname_i, "eve"); set_text(db_pwd_i, "pw"); cascade(db_add_b); },
                 "Operator eve is added to database\\.\n", ""},
                {"Remove", [] { set_text(db_opname_i, "op1"); cascade(db_remove_b); }, "Operator op1 was not found\\.\n", ""},
                {"Save", [] { activate(db_save_b); }, "", nullptr},
                {"gas button", [] { click(db_gas_mix_b); }, "", nullptr},
                {"gas save", [] { activate(db_gas_mix_save_b); }, "Database problem -[0-9]+\n", nullptr},
                {"Help", [] { click(db_help_b); }, "", nullptr},
            };
            for (const Row &row : table) {
                SCOPED_TRACE(row.what);
                std::string before = text(db_msg_t), list_before = text(db_list_t);
                row.act();
                EXPECT_TRUE(std::regex_match(added(before), std::regex(row.message))) << added(before);
                EXPECT_EQ(text(db_list_t), row.list ? row.list : list_before);
            }
            EXPECT_EQ(text(db_help_t), help.substr(0, help.size() - 1));

            // Every menu entry: the database change is lost without a word,
            // and the graph file is still rewritten.
            std::string before = text(db_msg_t);
            for (Widget entry : {db_targ_press_bar, db_targ_press_kpa, db_targ_press_psi, db_vac_press_mbar,
                                 db_vac_press_kpa, db_vac_press_torr, db_act_unit_mCi, db_act_unit_MBq,
                                 db_flow_unit_sccm, db_flow_unit_mlm, db_print_ON, db_print_OFF})
                activate(entry);
            EXPECT_EQ(added(before), "");
            EXPECT_EQ(read_file(graph_def), "PRESSURE_UNITS\tpsi\nFLOW_UNITS\tmL/min\n");

            // Still running: the window is up and a press still reaches a
            // handler, which reports as before.
            pump(300);
            EXPECT_TRUE(viewable(db_dummy_f));
            before = text(db_msg_t);
            click(db_gas_mix_b);
            click(db_gas_mix_save_b);
            EXPECT_TRUE(std::regex_match(added(before), std::regex("Database problem -[0-9]+\n"))) << added(before);
        },
        PROJECT_SOURCE_DIR);
}

// The graph directory gone, or mounted read-only: the rename is refused,
// which is reported, and nothing is created or changed there; the unit
// chosen still reaches the database.
TEST(Faults, GraphDirectoryMissingOrReadOnly)
{
    reset_database();
    with_program([] {
        struct Case {
            const char *what;
            std::function<void()> arrange, undo;
            bool dir_after; // whether the directory is there afterwards
        };
        const std::vector<Case> cases{
            {"missing", [] { fs::remove_all(graph_dir); }, [] {}, false},
            // A bind mount of the directory onto itself, read-only, in a
            // mount namespace of this process only: gone with the process,
            // and binding for root too.
            {"read-only",
             [] {
                 ASSERT_EQ(unshare(CLONE_NEWNS), 0) << "a mount namespace needs CAP_SYS_ADMIN";
                 ASSERT_EQ(mount("none", "/", "none", MS_REC | MS_PRIVATE, nullptr), 0);
                 ASSERT_EQ(mount(graph_dir, graph_dir, "none", MS_BIND, nullptr), 0);
                 ASSERT_EQ(mount("none", graph_dir, "none", MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr), 0);
             },
             [] { umount2(graph_dir, 0); }, true},
        };
        for (const Case &c : cases) {
            SCOPED_TRACE(c.what);
            clean_graph_dir();
            write_file(graph_def, both_keys);
            c.arrange();
            sql("update parameters set target_press_unit = '1', flow_unit = '2'");
            for (Widget entry : {db_targ_press_kpa, db_flow_unit_mlm}) {
                std::string before = text(db_msg_t);
                activate(entry);
                EXPECT_EQ(added(before), "Impossible to rename graph.def.\n") << XtName(entry);
            }
            EXPECT_EQ(value("select target_press_unit || flow_unit from parameters"), "21");
            if (c.dir_after) {
                EXPECT_EQ(read_file(graph_def), both_keys);
                EXPECT_FALSE(exists(graph_save));
                EXPECT_EQ(std::distance(fs::directory_iterator(graph_dir), fs::directory_iterator()), 1);
            } else {
                EXPECT_FALSE(exists(graph_dir));
            }
            c.undo();
        }
        clean_graph_dir();
    });
}

// Help files out of the ordinary, loaded one after the other into the same
// dialog: what cannot be shown leaves the text as it was.
TEST(Faults, HelpFilesHugeWithNulOrUnreadable)
{
    TempDir cwd;
    const std::string dir = cwd.path() + "/helpfiles", file = dir + "/param-config.hlp";
    fs::create_directory(dir);
    // Let the unprivileged user reach the file: only its own mode stops it.
    fs::permissions(cwd.path(), fs::perms(0755));
    std::string huge;
    for (int i = 0; huge.size() < 4u << 20; ++i)
        huge += "Line " + std::to_string(i) + " of a help text of several megabytes.\n";

    with_program(
        [&] {
            struct Case {
                const char *what;
                std::function<void()> arrange;
                bool unprivileged; // loaded by a user other than root
                const char *message;
                std::string shown;
            };
            const std::vector<Case> cases{
                {"several megabytes", [&] { write_file(file, huge); }, false, "", huge.substr(0, huge.size() - 1)},
                {"NUL byte", [&] { write_file(file, std::string("abc\0def\n", 8)); }, false, "", "abc"},
                {"ordinary", [&] { write_file(file, "Help\n"); }, false, "", "Help"},
                {"mode 000", [&] { write_file(file, "Secret\n"); fs::permissions(file, fs::perms::none); }, true,
                 "Help file could not be opened\n", "Help"},
                // Opens, but every read fails.
                {"a directory", [&] { fs::remove(file); fs::create_directory(file); }, false, "", "Help"},
            };
            for (const Case &c : cases) {
                SCOPED_TRACE(c.what);
                c.arrange();
                std::string before = text(db_msg_t);
                if (c.unprivileged)
                    setfsuid(unprivileged);
                click(db_help_b);
                if (c.unprivileged)
                    setfsuid(0);
                EXPECT_EQ(added(before), c.message);
                std::string shown = text(db_help_t);
                EXPECT_EQ(shown.size(), c.shown.size());
                EXPECT_TRUE(shown == c.shown) << shown.substr(0, 80);
                EXPECT_TRUE(viewable(db_help_f));
            }
        },
        cwd.path());
}
