#!/usr/bin/env bash
# Sets up a fresh Debian 12 machine, builds Quillmark and runs every test tier:
#   unit (also under AddressSanitizer and UBSan), gui, system, windows, and each fuzz target for 20 s.
set -uo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
jobs=$(nproc 2>/dev/null || echo 2)

scripts/deps.sh all || { echo "could not install the packages the tests need"; exit 1; }

set -e
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j "$jobs"
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQUILLMARK_SANITIZE=ON
cmake --build build-asan -j "$jobs" --target unit-tests
set +e

failed=()
tier() {
    local name=$1; shift
    echo "=== $name ==="
    if ! "$@"; then
        failed+=("$name")
    fi
}

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
tier unit ctest --test-dir build -L unit --output-on-failure --no-tests=error -j "$jobs"
tier unit-sanitized ctest --test-dir build-asan -L unit --output-on-failure --no-tests=error -j "$jobs"
tier gui ctest --test-dir build -L gui --output-on-failure --no-tests=error -j "$jobs"
tier system ctest --test-dir build -L system --output-on-failure --no-tests=error
# The fuzz targets, each for a short time (scripts/fuzz.sh runs them at length); 77: no clang here.
fuzz_tier() {
    scripts/fuzz.sh 20
    local rc=$?
    [ $rc -eq 77 ] && rc=0
    return $rc
}
tier fuzz fuzz_tier
if [ -x scripts/test-windows.sh ]; then
    tier windows scripts/test-windows.sh
fi

cd "$root"
if [ ${#failed[@]} -ne 0 ]; then
    echo "FAILED tiers: ${failed[*]}"
    exit 1
fi
echo "All test tiers passed."
