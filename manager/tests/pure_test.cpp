// What runs without X or a database: the graph definition rewrite, byte for
// byte, over every input the fuzzer has kept (manager/fuzz/corpus), through
// the fuzzer's own check, which stops the run at the first difference.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size);

TEST(GraphRewrite, EveryCorpusFileComesOutAsTheModelSays)
{
    int files = 0;
    for (const auto &entry : std::filesystem::directory_iterator(PROJECT_SOURCE_DIR "/manager/fuzz/corpus")) {
        std::ifstream f(entry.path(), std::ios::binary);
        std::string data(std::istreambuf_iterator<char>(f), {});
        LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t *>(data.data()), data.size());
        ++files;
    }
    EXPECT_GE(files, 10);
}
