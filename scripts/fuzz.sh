#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each one for a while:
# JW_FUZZ_SECONDS per target (10 by default, 300 when JW_LONG_TESTS=1).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/install-deps.sh"
build="$top/build/fuzz"
CXX=clang++ cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DJW_FUZZ=ON -DJW_BUILD_TESTS=ON >/dev/null
targets=$(find "$top/tests" -name CMakeLists.txt -exec grep -ho 'jw_add_fuzzer([a-z_]*' {} + |
  sed 's/jw_add_fuzzer(//' | sort)
[ -n "$targets" ] || exit 0
cmake --build "$build" -j "$(nproc)" --target fuzz_targets
default_seconds=10
[ "${JW_LONG_TESTS:-0}" = 1 ] && default_seconds=300
seconds=${JW_FUZZ_SECONDS:-$default_seconds}
for t in $targets; do
  exe=$(find "$build" -type f -name "$t" -perm -u+x | head -n 1)
  corpus="$build/corpus/$t"
  mkdir -p "$corpus"
  echo "fuzzing $t for ${seconds}s"
  "$exe" -max_total_time="$seconds" -max_len=65536 -print_final_stats=0 "$corpus" 2>"$build/$t.log" ||
    { tail -n 60 "$build/$t.log"; exit 1; }
done
