#!/usr/bin/env bash
# Fuzzes the graph definition rewrite with libFuzzer for a bounded time
# (FUZZ_SECONDS, 60 by default), under AddressSanitizer and
# UndefinedBehaviorSanitizer, starting from manager/fuzz/corpus. The harness
# checks every output against the file's rules; a failed check or a
# sanitizer report stops the run, and the input is saved in build/fuzz.
# Needs clang 14 and its libFuzzer runtime, installed here if missing: the
# normal build does not use clang.
set -euo pipefail
cd "$(dirname "$0")/../.."

packages=(clang-14 libclang-rt-14-dev libmotif-dev)
missing=()
for p in "${packages[@]}"; do
    status=$(dpkg-query -W -f='${db:Status-Status}' "$p" 2>/dev/null || true)
    [[ $status == installed ]] || missing+=("$p")
done
if ((${#missing[@]} > 0)); then
    echo "fuzz: installing ${missing[*]}"
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}"
fi

out=build/fuzz
mkdir -p "$out"
clang++-14 -std=c++20 -g -O1 -Wall -Wextra \
    -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all \
    -I manager/src manager/fuzz/rewrite_fuzz.cpp manager/src/graph_file.cpp \
    -o "$out/rewrite_fuzz"

# New inputs go to a scratch corpus; the one in the repository stays small.
work=$(mktemp -d /tmp/param-config-fuzz.XXXXXX)
trap 'rm -rf -- "$work"' EXIT
"$out/rewrite_fuzz" "$work" manager/fuzz/corpus \
    -dict=manager/fuzz/graph.dict -max_len=4096 -timeout=10 \
    -max_total_time="${FUZZ_SECONDS:-60}" -print_final_stats=1 \
    -artifact_prefix="$out/" 2>&1 | grep -Ev '^#[0-9]+\s+(NEW|REDUCE|pulse)'
echo "fuzz: no failure"
