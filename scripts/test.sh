#!/usr/bin/env bash
# Builds everything and runs the whole test suite twice: a normal build and a
# build under AddressSanitizer and UndefinedBehaviorSanitizer; then runs each
# fuzz target briefly.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/bootstrap.sh
JOBS=$(nproc)
export QT_QPA_PLATFORM=offscreen

cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j"$JOBS"
ctest --test-dir build --output-on-failure -j"$JOBS" --timeout 600

cmake -S . -B build-san -DCMAKE_BUILD_TYPE=Debug -DDERIDAR_SANITIZE=ON -DDERIDAR_BENCH=OFF
cmake --build build-san -j"$JOBS"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build-san --output-on-failure -j"$JOBS" --timeout 900
# Fuzz smoke run: the libFuzzer targets, built with clang, about 15 s each
# from their seeds; a finding fails the test command.
CC=clang CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DDERIDAR_FUZZ=ON \
  -DDERIDAR_WITH_QT=OFF -DDERIDAR_TESTS=OFF -DDERIDAR_BENCH=OFF
cmake --build build-fuzz -j"$JOBS" --target fuzz_dbf fuzz_memo fuzz_expr fuzz_cdx fuzz_mdx fuzz_seeds
fuzz/smoke.sh build-fuzz 15
echo "test.sh: all tests passed (normal and sanitizer builds, fuzz smoke run)"
