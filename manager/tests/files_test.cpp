// The program's files: graph.def when it cannot be rewritten or is not what
// it seems, and the help text.
#include "testbed.h"

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

using namespace testbed;
namespace fs = std::filesystem;

namespace {

// What a name stands for, without opening it: a pipe would block.
std::string describe(const char *path)
{
    struct stat st {};
    if (lstat(path, &st) != 0)
        return "<none>";
    if (S_ISLNK(st.st_mode))
        return "-> " + fs::read_symlink(path).string();
    if (!S_ISREG(st.st_mode))
        return S_ISDIR(st.st_mode) ? "<directory>" : "<pipe>";
    return read_file(path) + (st.st_nlink > 1 ? " (linked)" : "");
}

// Lets the process open `more` files beyond those it holds, and no more:
// every descriptor below the lowest free one is taken.
void allow_files(int more)
{
    int lowest = dup(0);
    close(lowest);
    rlimit limit{};
    getrlimit(RLIMIT_NOFILE, &limit);
    limit.rlim_cur = static_cast<rlim_t>(lowest + more);
    setrlimit(RLIMIT_NOFILE, &limit);
}

} // namespace

// For each way graph.def can be: the message, and what both names hold after
// a target-pressure choice. The choice itself reaches the database anyway.
TEST(Files, GraphFileFailuresLeaveBothNamesAsTheyWere)
{
    const std::string def = "PRESSURE_UNITS bar\n", save = "old\n";
    const std::string rename = "Impossible to rename graph.def.\n";
    const std::vector<std::tuple<const char *, std::function<void()>, std::string, std::string, std::string>> rows = {
        {"missing", [] {}, rename, "<none>", "<none>"},
        {"backup unreadable", [&] { write_file(graph_def, def); allow_files(0); },
         "Impossible to open graph.save.\n", "<none>", def},
        {"no file for the new one", [&] { write_file(graph_def, def); allow_files(1); },
         "Impossible to open graph.def.\n", "<none>", def},
        {"hard link", [&] { write_file(graph_def, def); link(graph_def, graph_save); }, rename, def + " (linked)",
         def + " (linked)"},
        {"link to backup", [&] { write_file(graph_save, save); symlink(graph_save, graph_def); }, rename,
         std::string("-> ") + graph_save, save},
        {"pipe", [] { mkfifo(graph_def, 0644); }, rename, "<pipe>", "<none>"},
        {"directory", [] { mkdir(graph_def, 0755); }, rename, "<directory>", "<none>"},
    };
    reset_database();
    with_program([&] {
        rlimit files{};
        getrlimit(RLIMIT_NOFILE, &files);
        for (const auto &[what, make, message, def_after, save_after] : rows) {
            SCOPED_TRACE(what);
            fs::remove_all(graph_def), fs::remove_all(graph_save);
            sql("update parameters set target_press_unit = '1'");
            put(db_msg_t, "");
            make();
            choose(target_press_unit_sel, db_targ_press_psi);
            setrlimit(RLIMIT_NOFILE, &files);
            EXPECT_EQ(text(db_msg_t), message);
            EXPECT_EQ(describe(graph_def), def_after);
            EXPECT_EQ(describe(graph_save), save_after);
            EXPECT_EQ(sql("select target_press_unit from parameters"), "3");
        }
    });
}

// Each press of Help reads the file anew and loads it then; the dialog shows
// on the release. The last byte (the final line end) is not shown, and a file
// that cannot be shown leaves the text as it was.
TEST(Files, HelpLoadsOnPressAndShowsOnRelease)
{
    const std::string shipped = read_file(PROJECT_SOURCE_DIR "/helpfiles/param-config.hlp");
    ASSERT_GT(shipped.size(), 1000u);
    const std::string shown = shipped.substr(0, shipped.size() - 1);
    const std::vector<std::tuple<const char *, std::string>> rows = {
        {PROJECT_SOURCE_DIR, ""},
        {"/tmp", "Help file could not be opened\n"},
        {"/home/Kelvaron", "Help file is empty\n"},
    };
    fs::create_directories("/home/Kelvaron/helpfiles");
    write_file("/home/Kelvaron/helpfiles/param-config.hlp", "");
    reset_database();
    with_program([&] {
        for (const auto &[dir, message] : rows) {
            SCOPED_TRACE(dir);
            ASSERT_EQ(chdir(dir), 0);
            XtUnmanageChild(db_help_fr); // as closing it does
            put(db_msg_t, "");
            press(db_help_b);
            EXPECT_EQ(text(db_help_t), shown);
            EXPECT_EQ(text(db_msg_t), message);
            EXPECT_FALSE(viewable(db_help_t));
            release();
            EXPECT_TRUE(pump_until([] { return viewable(db_help_t); }));
        }
    });
}
