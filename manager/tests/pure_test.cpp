// What runs without X or a database: the graph definition rewrite, byte for
// byte, over a few files and over every input the fuzzer has kept.
#include "graph_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size);

// Old file, keyword, unit, new file.
TEST(GraphRewrite, PairsComeOutAsKeyTabValueWithTheKeywordReplaced)
{
    const char *rows[][4] = {
        {"A  1\r\nFLOW_UNITS\tsccm\n\nB\v2", "FLOW_UNITS", "mL/min", "A\t1\nFLOW_UNITS\tmL/min\nB\t2\n"},
        {"pressure_units bar PRESSURE_UNITS psi TITLE", "PRESSURE_UNITS", "kPa",
         "pressure_units\tbar\nPRESSURE_UNITS\tkPa\nTITLE\t\n"},
    };
    for (const auto &[old_file, keyword, unit, new_file] : rows) {
        std::string in(old_file);
        char *out = nullptr;
        std::size_t length = 0;
        std::FILE *from = fmemopen(in.data(), in.size(), "r"), *to = open_memstream(&out, &length);
        rewrite_pairs(from, to, keyword, unit);
        std::fclose(from);
        std::fclose(to);
        EXPECT_EQ(std::string(out, length), new_file) << old_file;
        std::free(out);
    }
}

// The fuzzer's own check, which stops the run at the first difference.
TEST(GraphRewrite, FuzzCorpusMatchesTheModel)
{
    int files = 0;
    for (const auto &entry : std::filesystem::directory_iterator(PROJECT_SOURCE_DIR "/manager/fuzz/corpus")) {
        std::ifstream f(entry.path(), std::ios::binary);
        std::string data(std::istreambuf_iterator<char>(f), {});
        LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t *>(data.data()), data.size());
        ++files;
    }
    EXPECT_GE(files, 9);
}
