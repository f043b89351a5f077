// The help text, read from the working directory.
#include "testbed.h"

#include <unistd.h>

using namespace testbed;

// Each press of Help reads the file anew and loads it then; the dialog shows
// on the release. The last byte (the final line end) is not shown, and a file
// that cannot be shown leaves the text as it was.
TEST(Help, LoadsOnPressAndShowsOnRelease)
{
    const std::string shipped = read_file(PROJECT_SOURCE_DIR "/helpfiles/param-config.hlp");
    ASSERT_GT(shipped.size(), 1000u);
    const std::string shown = shipped.substr(0, shipped.size() - 1);
    const std::vector<std::tuple<const char *, std::string>> rows = {
        {PROJECT_SOURCE_DIR, ""},
        {"/tmp", "Help file could not be opened\n"},
    };
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
