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
#include <string_view>

// Returns "" when the rewrite's output is the model's, otherwise both.
inline std::string rewrite_and_check(std::string_view data)
{
    constexpr std::string_view choices[][2] = {{"PRESSURE_UNITS", "bar"}, {"PRESSURE_UNITS", "kPa"},
        {"PRESSURE_UNITS", "psi"}, {"FLOW_UNITS", "mL/min"}, {"FLOW_UNITS", "sccm"}};
    if (data.empty())
        return {};
    const auto &[keyword, unit] = choices[static_cast<unsigned char>(data[0]) % 5];
    std::string input(data.substr(1)), model, key, token;
    bool have_key = false;
    auto pair = [&](std::string_view value) {
        model.append(key).append(1, '\t').append(key == keyword ? unit : value).append(1, '\n');
    };
    auto end_token = [&] {
        if (token.empty())
            return;
        if (have_key)
            pair(token);
        else
            key = token;
        have_key = !have_key;
        token.clear();
    };
    for (char c : input) {
        if (std::string_view(" \t\n\r\v\f").find(c) != std::string_view::npos)
            end_token();
        else if (token += c; token.size() == 80)
            end_token();
    }
    end_token();
    if (have_key)
        pair("");
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
