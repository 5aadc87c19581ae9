#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test:
#  1. the GCC build: engine, program and widget tests (widgets headless, offscreen);
#  2. the clang build with AddressSanitizer + UndefinedBehaviorSanitizer: engine tests and
#     a short run of every libFuzzer target.
# Exits non-zero when anything fails.
set -euo pipefail
cd "$(dirname "$0")/.."
JOBS=$(nproc)
bash scripts/deps.sh --test

export QT_QPA_PLATFORM=offscreen
export ZEV_SOURCE_DIR=$PWD

echo "== GCC build"
# The options are explicit: start.sh shares build/release and switches tests off there.
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DZEV_BUILD_UI=ON -DZEV_BUILD_TESTS=ON -DZEV_BUILD_BENCH=ON >/dev/null
cmake --build build/release -j "$JOBS"
echo "== GCC tests"
ctest --test-dir build/release --output-on-failure --no-tests=error -j "$JOBS"

echo "== clang ASan+UBSan build"
CC=clang-14 CXX=clang++-14 cmake -S . -B build/asan -G Ninja -DCMAKE_BUILD_TYPE=Debug \
  -DZEV_SANITIZE=ON -DZEV_FUZZ=ON -DZEV_BUILD_UI=OFF -DZEV_BUILD_TESTS=ON -DZEV_BUILD_BENCH=OFF >/dev/null
cmake --build build/asan -j "$JOBS"
echo "== ASan+UBSan tests and fuzzers"
UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 ASAN_OPTIONS=detect_leaks=1 \
  ctest --test-dir build/asan --output-on-failure --no-tests=error -j "$JOBS"
echo "== all tests passed"
