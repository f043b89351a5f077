// Coverage-guided fuzzing of the graph definition rewrite, stream to stream,
// checked against a model of the file's rules worked out here on their own:
// white-space separated tokens of at most 80 characters, taken two at a
// time, each pair written as key TAB value LF, the keyword's value replaced
// wherever it is a key, a last key without a value written with an empty
// one. The first input byte picks one of the program's five keyword and unit
// choices. The tests replay the corpus through it.
#include "graph_file.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

// db_update_file, beside the rewrite in its translation unit, reports file
// failures in the message pane; nothing here calls it.
void db_print_msg(const char *, const char *)
{
    std::abort();
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *bytes, std::size_t size)
{
    std::string_view data(reinterpret_cast<const char *>(bytes), size);
    constexpr std::string_view choices[][2] = {{"PRESSURE_UNITS", "bar"}, {"PRESSURE_UNITS", "kPa"},
        {"PRESSURE_UNITS", "psi"}, {"FLOW_UNITS", "mL/min"}, {"FLOW_UNITS", "sccm"}};
    if (data.empty())
        return 0;
    const auto &[keyword, unit] = choices[static_cast<unsigned char>(data[0]) % 5];
    std::string input(data.substr(1)), model;
    std::istringstream words(input); // splits at exactly the file's six white-space characters
    std::vector<std::string> tokens;
    for (std::string word; words >> word;)
        for (std::size_t i = 0; i < word.size(); i += 80)
            tokens.push_back(word.substr(i, 80));
    for (std::size_t i = 0; i < tokens.size(); i += 2) {
        std::string value = tokens[i] == keyword ? std::string(unit) : i + 1 < tokens.size() ? tokens[i + 1] : "";
        model += tokens[i] + '\t' + value + '\n';
    }
    // fmemopen refuses an empty buffer; an empty file reads the same.
    std::FILE *in = input.empty() ? std::fopen("/dev/null", "r") : fmemopen(input.data(), input.size(), "r");
    char *buffer = nullptr;
    std::size_t length = 0;
    std::FILE *out = open_memstream(&buffer, &length);
    rewrite_pairs(in, out, keyword, unit);
    std::fclose(in), std::fclose(out);
    std::string output(buffer, length);
    std::free(buffer);
    if (output != model) {
        std::fprintf(stderr, "rewrite: got:\n%s\nwanted:\n%s\n", output.c_str(), model.c_str());
        std::abort();
    }
    return 0;
}
