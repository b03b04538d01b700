#!/usr/bin/env bash
# Builds everything with AddressSanitizer and UndefinedBehaviorSanitizer and runs every test.
# JW_LONG_TESTS=1 makes the randomized tests run their large counts. Suites run
# shuffled; GoogleTest prints the seed, and GTEST_RANDOM_SEED=<seed> repeats an order.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/install-deps.sh"
build="$top/build/test"
cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DJW_SANITIZE=ON >/dev/null
cmake --build "$build" -j "$(nproc)"
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=0}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}
export GTEST_SHUFFLE=${GTEST_SHUFFLE:-1}
ctest --test-dir "$build" -j "$(nproc)" --output-on-failure "$@"
"$top/scripts/fuzz.sh"
