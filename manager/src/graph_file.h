// The graph definition file, whose target-pressure and flow units the
// production system's trend display reads.
#pragma once

#include <cstdio>
#include <string_view>

// Moves graph.def to graph.save and writes it back with the value of every
// pair keyed `param` replaced by `unit`. Failures go to the message pane.
// A graph.def that is not a regular file, or is the same file as
// graph.save, is not touched and is reported as a failed rename.
void db_update_file(const char *param, const char *unit);

// The rewrite itself, stream to stream: reads white-space separated tokens
// of at most 80 characters two at a time and writes each pair as
// key TAB value LF, with `unit` as the value wherever the key is `param`.
// A last key without a value is written with an empty value, or with
// `unit` if it is `param`.
void rewrite_pairs(std::FILE *in, std::FILE *out, std::string_view param, std::string_view unit);
