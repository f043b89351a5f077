// The graph definition rewrite run on one input and checked against a model
// of the file's rules worked out here on their own: white-space separated
// tokens of at most 80 characters, taken two at a time, each pair written as
// key TAB value LF, the keyword's value replaced wherever it is a key, a last
// key without a value written with an empty one. The first input byte picks
// one of the program's five keyword and unit choices. Shared by the fuzzer
// and the corpus replay in the tests.
#pragma once

#include "graph_file.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <sstream>
#include <string_view>
#include <vector>

// Returns "" when the rewrite's output is the model's, otherwise both.
inline std::string rewrite_and_check(std::string_view data)
{
    constexpr std::string_view choices[][2] = {{"PRESSURE_UNITS", "bar"}, {"PRESSURE_UNITS", "kPa"},
        {"PRESSURE_UNITS", "psi"}, {"FLOW_UNITS", "mL/min"}, {"FLOW_UNITS", "sccm"}};
    if (data.empty())
        return {};
    const auto &[keyword, unit] = choices[static_cast<unsigned char>(data[0]) % 5];
    std::string input(data.substr(1)), model;
    std::istringstream words(input); // splits at exactly the file's six white-space characters
    std::vector<std::string> tokens;
    for (std::string word; words >> word;)
        for (std::size_t i = 0; i < word.size(); i += 80)
            tokens.push_back(word.substr(i, 80));
    for (std::size_t i = 0; i < tokens.size(); i += 2)
        model += tokens[i] + '\t' + (tokens[i] == keyword ? std::string(unit) : i + 1 < tokens.size() ? tokens[i + 1] : "") + '\n';
    // fmemopen refuses an empty buffer; an empty file reads the same.
    std::FILE *in = input.empty() ? std::fopen("/dev/null", "r") : fmemopen(input.data(), input.size(), "r");
    char *buffer = nullptr;
    std::size_t length = 0;
    std::FILE *out = open_memstream(&buffer, &length);
    rewrite_pairs(in, out, keyword, unit);
    std::fclose(in);
    std::fclose(out);
    std::string output(buffer, length);
    std::free(buffer);
    return output == model ? std::string() : "got:\n" + output + "\nwanted:\n" + model;
}
