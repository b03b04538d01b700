#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each one for a while:
# JW_FUZZ_SECONDS per target (10 by default, 300 when JW_LONG_TESTS=1), each
# from its working corpus in the build folder and its checked-in seeds in
# <test folder>/fuzz/seeds/<target>/, printing the coverage at start and end.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/install-deps.sh"
build="$top/build/fuzz"
CXX=clang++ cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DJW_FUZZ=ON -DJW_BUILD_TESTS=ON >/dev/null
# Each target as "<test folder> <name>", from the jw_add_fuzzer lines.
targets=$(find "$top/tests" -name CMakeLists.txt -exec grep -Ho 'jw_add_fuzzer([a-z_]*' {} + |
  sed 's|/CMakeLists.txt:jw_add_fuzzer(| |' | sort -k 2)
[ -n "$targets" ] || exit 0
cmake --build "$build" -j "$(nproc)" --target fuzz_targets
default_seconds=10
[ "${JW_LONG_TESTS:-0}" = 1 ] && default_seconds=300
seconds=${JW_FUZZ_SECONDS:-$default_seconds}
while read -r folder t; do
  exe=$(find "$build" -type f -name "$t" -perm -u+x | head -n 1)
  corpus="$build/corpus/$t"
  mkdir -p "$corpus"
  # The checked-in seeds come after the working corpus, which takes the new units.
  seeds="$folder/fuzz/seeds/$t"
  [ -d "$seeds" ] || seeds=
  echo "fuzzing $t for ${seconds}s"
  "$exe" -max_total_time="$seconds" -max_len=65536 -print_final_stats=0 "$corpus" ${seeds:+"$seeds"} \
    </dev/null 2>"$build/$t.log" || { tail -n 60 "$build/$t.log"; exit 1; }
  grep -E '(INITED|DONE) ' "$build/$t.log" | sed "s/^/  /" || true
done <<<"$targets"
