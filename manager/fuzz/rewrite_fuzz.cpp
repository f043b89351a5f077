// Coverage-guided fuzzing of the graph definition rewrite, stream to stream.
#include "rewrite_check.h"

#include <cstdint>

// db_update_file, beside the rewrite in its translation unit, reports file
// failures in the message pane; the fuzzer never calls it.
void db_print_msg(const char *, const char *)
{
    std::abort();
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    std::string failure = rewrite_and_check({reinterpret_cast<const char *>(data), size});
    if (!failure.empty()) {
        std::fprintf(stderr, "rewrite: %s\n", failure.c_str());
        std::abort();
    }
    return 0;
}
