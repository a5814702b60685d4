#!/usr/bin/env bash
# Builds the take.json fuzzer with clang (libFuzzer, ASan, UBSan) and runs it.
# Usage: tests/fuzz/run-fuzz.sh [SECONDS]   (default 60; a smoke run)
set -euo pipefail
cd "$(dirname "$0")/../.."
seconds="${1:-60}"
build=build-fuzz

CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DREELBOX_FUZZ=ON -DREELBOX_TESTS=OFF -DREELBOX_BENCH=OFF > /dev/null
cmake --build "$build" --target fuzz-take-info

# Seeds: the records in the corpus folder plus whatever earlier runs found.
work="$build/corpus"
mkdir -p "$work" fuzz-out
cp -n tests/fuzz/corpus/* "$work/" 2>/dev/null || true
"$build/bin/fuzz-take-info" -max_total_time="$seconds" -max_len=8192 -timeout=10 \
    -artifact_prefix=fuzz-out/ -print_final_stats=1 "$work"
