#!/usr/bin/env bash
# Builds the benchmarks in Release, runs each one and prints every operation's
# time; engine operations stand beside the same work in SQLite with their ratio.
# Extra arguments go to every benchmark (for example --benchmark_filter=Insert).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/install-deps.sh"
build="$top/build/bench"
cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DJW_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j "$(nproc)"
export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}
results="$build/results"
rm -rf "$results"
mkdir -p "$results"
for exe in $(find "$build/bench" -maxdepth 1 -type f -name '*_bench' -perm -u+x | sort); do
  "$exe" --benchmark_format=json --benchmark_out="$results/$(basename "$exe").json" \
    --benchmark_out_format=json "$@" >/dev/null
done
/usr/bin/python3 "$top/scripts/bench_table.py" "$results"/*.json
