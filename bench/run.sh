#!/usr/bin/env bash
# Builds the benchmarks in release mode and runs each of them.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BENCH_BUILD_DIR:-build-bench}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUILLMARK_TESTS=OFF >/dev/null
cmake --build "$build" --target bench_listing

echo "=== bench_listing ==="
"$build/bench/bench_listing" "$@"

# The print benchmark needs LibreOffice and its SDK; without them the target does not exist.
if cmake --build "$build" --target bench_print >/dev/null 2>&1; then
    echo "=== bench_print ==="
    "$build/bench/bench_print"
fi

echo "=== bench_update_retry ==="
cmake --build "$build" --target bench_update_retry >/dev/null
"$build/bench/bench_update_retry"

echo "=== bench_update_reply ==="
cmake --build "$build" --target bench_update_reply >/dev/null
"$build/bench/bench_update_reply" 50 body
"$build/bench/bench_update_reply" 50 header

echo "=== bench_update_directory ==="
cmake --build "$build" --target bench_update_directory >/dev/null
if [ -x /usr/bin/time ]; then
    /usr/bin/time -f "peak resident set: %M KiB" "$build/bench/bench_update_directory" 300000 install
    /usr/bin/time -f "peak resident set: %M KiB" "$build/bench/bench_update_directory" 300000 verify
else
    "$build/bench/bench_update_directory" 300000 install
    "$build/bench/bench_update_directory" 300000 verify
fi
