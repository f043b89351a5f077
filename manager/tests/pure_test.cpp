// What runs without X or a database: the graph definition rewrite, byte for
// byte.
#include "graph_file.h"
#include "../fuzz/rewrite_check.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

// Old file, keyword, unit, new file.
TEST(GraphRewrite, PairsComeOutAsKeyTabValueWithTheKeywordReplaced)
{
    const char *rows[][4] = {
        {"PRESSURE_UNITS bar\n", "PRESSURE_UNITS", "psi", "PRESSURE_UNITS\tpsi\n"},
        {"A  1\r\nFLOW_UNITS\tsccm\n\nB\v2", "FLOW_UNITS", "mL/min", "A\t1\nFLOW_UNITS\tmL/min\nB\t2\n"},
        {"pressure_units bar FLOW_UNITS sccm", "PRESSURE_UNITS", "kPa", "pressure_units\tbar\nFLOW_UNITS\tsccm\n"},
        {"PRESSURE_UNITS bar PRESSURE_UNITS psi", "PRESSURE_UNITS", "kPa", "PRESSURE_UNITS\tkPa\nPRESSURE_UNITS\tkPa\n"},
        {"TITLE", "FLOW_UNITS", "sccm", "TITLE\t\n"},
        {"TITLE x FLOW_UNITS", "FLOW_UNITS", "sccm", "TITLE\tx\nFLOW_UNITS\tsccm\n"},
        {"", "FLOW_UNITS", "sccm", ""},
    };
    for (const auto &[old_file, keyword, unit, new_file] : rows) {
        std::string in(old_file);
        std::FILE *from = in.empty() ? std::fopen("/dev/null", "r") : fmemopen(in.data(), in.size(), "r");
        char *out = nullptr;
        std::size_t length = 0;
        std::FILE *to = open_memstream(&out, &length);
        rewrite_pairs(from, to, keyword, unit);
        std::fclose(from);
        std::fclose(to);
        EXPECT_EQ(std::string(out, length), new_file) << old_file;
        std::free(out);
    }
}

// Every input the fuzzer has kept, checked as the fuzzer checks it.
TEST(GraphRewrite, FuzzCorpusMatchesTheModel)
{
    int files = 0;
    for (const auto &entry : std::filesystem::directory_iterator(PROJECT_SOURCE_DIR "/manager/fuzz/corpus")) {
        std::ifstream f(entry.path(), std::ios::binary);
        EXPECT_EQ(rewrite_and_check(std::string(std::istreambuf_iterator<char>(f), {})), "") << entry.path();
        ++files;
    }
    EXPECT_GE(files, 9);
}
