#include "graph_file.h"

#include "message_pane.h"
#include "owners.h"

#include <sys/stat.h>

#include <array>
#include <cerrno>
#include <cstdio>

namespace {

constexpr const char *graph_def = "/home/Kelvaron/graph/graph.def";
constexpr const char *graph_save = "/home/Kelvaron/graph/graph.save";

// One token: at most 80 bytes; a longer run goes on as the next token.
struct Token {
    std::array<char, 81> bytes{};
    std::size_t length = 0;
    std::string_view view() const { return {bytes.data(), length}; }
};

bool is_space(int c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

// Reads the next token; false at the end of the stream before any byte.
bool read_token(std::FILE *in, Token &token)
{
    int c;
    do
        c = std::getc(in);
    while (c != EOF && is_space(c));
    token.length = 0;
    while (c != EOF && !is_space(c)) {
        token.bytes[token.length++] = static_cast<char>(c);
        if (token.length == 80)
            return true;
        c = std::getc(in);
    }
    if (c != EOF)
        std::ungetc(c, in);
    return token.length > 0;
}

void write_pair(std::FILE *out, std::string_view key, std::string_view value)
{
    std::fwrite(key.data(), 1, key.size(), out);
    std::fputc('\t', out);
    // An empty view may carry a null pointer, which fwrite must not get
    // even for no bytes.
    if (!value.empty())
        std::fwrite(value.data(), 1, value.size(), out);
    std::fputc('\n', out);
}

// Whether graph.def may be moved to graph.save. Where it names something,
// through any links, that must be a regular file: opening a pipe blocks for
// ever, and a directory or device is no definition file. Nor may it be
// graph.save itself: the rename would then move nothing and the rewrite
// append to the file it reads, or the backup be replaced by a link to it.
// A missing graph.def or a link to nothing is left to the rename as before;
// whatever stat cannot look at is refused.
bool fit_to_rewrite()
{
    struct stat def {};
    if (stat(graph_def, &def) != 0)
        return errno == ENOENT;
    if (!S_ISREG(def.st_mode))
        return false;
    struct stat save {};
    return stat(graph_save, &save) != 0 || save.st_dev != def.st_dev || save.st_ino != def.st_ino;
}

} // namespace

void rewrite_pairs(std::FILE *in, std::FILE *out, std::string_view param, std::string_view unit)
{
    Token key, value;
    while (read_token(in, key)) {
        bool has_value = read_token(in, value);
        if (key.view() == param)
            write_pair(out, key.view(), unit);
        else
            write_pair(out, key.view(), has_value ? value.view() : std::string_view{});
    }
}

void db_update_file(const char *param, const char *unit)
{
    // Without a backup there is no update: a file unfit to be moved is
    // reported as a failed rename, before anything is renamed or opened.
    if (!fit_to_rewrite() || std::rename(graph_def, graph_save) != 0) {
        db_print_msg("Impossible to rename graph.def.\n", nullptr);
        return;
    }
    File save{std::fopen(graph_save, "r")};
    if (!save) {
        db_print_msg("Impossible to open graph.save.\n", nullptr);
        return;
    }
    File def{std::fopen(graph_def, "a")};
    if (!def) {
        db_print_msg("Impossible to open graph.def.\n", nullptr);
        return;
    }
    rewrite_pairs(save.get(), def.get(), param, unit);
}
