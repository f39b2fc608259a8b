#!/usr/bin/env bash
# Builds everything and runs the whole test suite twice: a normal build and a
# build under AddressSanitizer and UndefinedBehaviorSanitizer.
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
echo "test.sh: all tests passed (normal and sanitizer builds)"
