#!/usr/bin/env bash
# Builds everything twice and runs every test in both builds: once with
# AddressSanitizer and UndefinedBehaviorSanitizer, once optimised as the Release
# build that users run (memory our code frees and Qt then touches, and undefined
# behaviour that optimisation turns into a crash, show only there). The fuzzers
# run with the sanitizers. Arguments go to both ctest runs; a failure in either
# build fails the command once both have run.
# JW_LONG_TESTS=1 makes the randomized tests run their large counts. Suites run
# shuffled; GoogleTest prints the seed, and GTEST_RANDOM_SEED=<seed> repeats an order.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/install-deps.sh"
sanitized="$top/build/test"
optimised="$top/build/opt"
cmake -S "$top" -B "$sanitized" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DJW_SANITIZE=ON >/dev/null
cmake -S "$top" -B "$optimised" -G Ninja -DCMAKE_BUILD_TYPE=Release -DJW_BUILD_TESTS=ON >/dev/null
# One tree, then the other, and one build's suites, then the other's, each
# with every core: the end-to-end checks wait on real windows and time out
# when another run takes the machine.
cmake --build "$sanitized" -j "$(nproc)"
cmake --build "$optimised" -j "$(nproc)"
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=0}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}
export GTEST_SHUFFLE=${GTEST_SHUFFLE:-1}
failed=()
for build in "$sanitized" "$optimised"; do
  echo "Running the suites of $build"
  ctest --test-dir "$build" -j "$(nproc)" --output-on-failure "$@" || failed+=("$build")
done
if [ ${#failed[@]} -gt 0 ]; then
  echo "Tests failed in: ${failed[*]}" >&2
  exit 1
fi
"$top/scripts/fuzz.sh"
