// Coverage-guided fuzzing of the graph definition rewrite (rewrite_pairs),
// stream to stream. The first input byte picks one of the program's five
// keyword and unit choices; the rest is the old file. The output is checked
// against the file's rules, worked out here from the input on their own:
// only lines key TAB value LF, no token over 80 characters, the pairs in
// their old order, the keyword's value replaced wherever the keyword is a
// key, and nothing else changed.
#include "graph_file.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

namespace {

struct Choice {
    std::string_view keyword, unit;
};

constexpr Choice choices[] = {
    {"PRESSURE_UNITS", "bar"}, {"PRESSURE_UNITS", "kPa"}, {"PRESSURE_UNITS", "psi"},
    {"FLOW_UNITS", "mL/min"},  {"FLOW_UNITS", "sccm"},
};

constexpr std::size_t max_token = 80;

bool is_space(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

// Tokens of the old file: runs of non-white-space, each cut into pieces of
// at most 80 characters.
std::vector<std::string> tokens(std::string_view text)
{
    std::vector<std::string> out;
    std::size_t i = 0;
    while (i < text.size()) {
        if (is_space(text[i])) {
            ++i;
            continue;
        }
        std::size_t end = i;
        while (end < text.size() && !is_space(text[end]))
            ++end;
        for (; end - i > max_token; i += max_token)
            out.emplace_back(text.substr(i, max_token));
        out.emplace_back(text.substr(i, end - i));
        i = end;
    }
    return out;
}

std::string escaped(std::string_view s)
{
    std::string out;
    for (unsigned char c : s) {
        char hex[8];
        std::snprintf(hex, sizeof hex, c < 0x20 || c >= 0x7f || c == '\\' ? "\\x%02x" : "%c", c);
        out += hex;
    }
    return out;
}

[[noreturn]] void fail(const char *what, std::size_t line, std::string_view got, std::string_view wanted)
{
    std::fprintf(stderr, "rewrite: %s at output line %zu\n  got:    \"%s\"\n  wanted: \"%s\"\n", what, line + 1,
                 escaped(got).c_str(), escaped(wanted).c_str());
    std::abort();
}

void check(std::string_view input, const Choice &choice, std::string_view output)
{
    std::vector<std::string> in = tokens(input);
    std::size_t pairs = (in.size() + 1) / 2;
    std::size_t pos = 0;
    for (std::size_t line = 0; line < pairs; ++line) {
        const std::string &key = in[2 * line];
        std::string value = 2 * line + 1 < in.size() ? in[2 * line + 1] : std::string();
        if (key == choice.keyword)
            value = choice.unit;
        std::string wanted = key + '\t' + value + '\n';

        std::size_t end = output.find('\n', pos);
        if (end == std::string_view::npos)
            fail("line missing or not ended by LF", line, output.substr(pos), wanted);
        std::string_view got = output.substr(pos, end + 1 - pos);
        pos = end + 1;

        // The form of the line, on its own...
        std::size_t tab = got.find('\t');
        if (tab == 0 || tab == std::string_view::npos || got.find('\t', tab + 1) != std::string_view::npos)
            fail("not key TAB value", line, got, wanted);
        std::string_view got_key = got.substr(0, tab), got_value = got.substr(tab + 1, got.size() - tab - 2);
        for (std::string_view token : {got_key, got_value}) {
            if (token.size() > max_token)
                fail("token over 80 characters", line, got, wanted);
            for (char c : token)
                if (is_space(c))
                    fail("white space inside a token", line, got, wanted);
        }
        // ...then against the pair it stands for.
        if (got != wanted)
            fail("pair changed", line, got, wanted);
    }
    if (pos != output.size())
        fail("output beyond the last pair", pairs, output.substr(pos), "");
}

} // namespace

// db_update_file, beside the rewrite in its translation unit, reports file
// failures in the message pane; the fuzzer never calls it.
void db_print_msg(const char *, const char *)
{
    std::abort();
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size == 0)
        return 0;
    const Choice &choice = choices[data[0] % std::size(choices)];
    std::string input(reinterpret_cast<const char *>(data) + 1, size - 1);

    // fmemopen refuses an empty buffer; an empty file reads the same.
    std::FILE *in = input.empty() ? std::fopen("/dev/null", "r") : fmemopen(input.data(), input.size(), "r");
    char *buffer = nullptr;
    std::size_t length = 0;
    std::FILE *out = open_memstream(&buffer, &length);
    if (!in || !out)
        std::abort();
    rewrite_pairs(in, out, choice.keyword, choice.unit);
    std::fclose(in);
    std::fclose(out);
    std::string output(buffer, length);
    std::free(buffer);

    check(input, choice, output);
    return 0;
}
