#!/usr/bin/env bash
# Fuzzes the reading of a server's bytes (telnet and RFC 2217) and the
# rfc2217:// address with libFuzzer under AddressSanitizer and
# UndefinedBehaviorSanitizer, from the committed corpus of real sessions, for
# a bounded time. Exit status 77 (skipped) with the reason when Debian's
# clang or its libFuzzer (libclang-rt-14-dev) is missing.
#
# usage: run_fuzz.sh SOURCE WORK [SECONDS]
set -euo pipefail
source=$(cd "$1" && pwd) seconds=${3:-60}
mkdir -p "$2"
work=$(cd "$2" && pwd)
here=$source/tests/fuzz

skip() {
    echo "SKIP: $*"
    exit 77
}

clang=$(command -v clang++ || command -v clang++-14 || true)
[ -n "$clang" ] || skip "no clang++: install clang"
mkdir -p "$work"
echo 'extern "C" int LLVMFuzzerTestOneInput(const unsigned char *, unsigned long) { return 0; }' \
    >"$work/probe.cpp"
"$clang" -fsanitize=fuzzer "$work/probe.cpp" -o "$work/probe" 2>/dev/null ||
    skip "clang++ cannot link libFuzzer: install libclang-rt-14-dev"

"$clang" -std=c++17 -g -O1 -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all \
    -I"$source/driver/src" -I"$source/driver/include" \
    "$here/fuzz_telnet.cpp" "$source/driver/src/network/telnet.cpp" \
    "$source/driver/src/network/address.cpp" "$source/driver/src/core/decimal.cpp" \
    -o "$work/fuzz_telnet"

# New inputs go to a folder of the build, never into the source tree.
rm -rf "$work/corpus"
mkdir -p "$work/corpus"
cd "$work"
exec ./fuzz_telnet -max_total_time="$seconds" -rss_limit_mb=1024 -max_len=4096 \
    -timeout=10 -print_final_stats=1 "$work/corpus" "$here/corpus"
