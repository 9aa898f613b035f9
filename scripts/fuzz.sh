#!/usr/bin/env bash
# Builds the fuzz targets with clang's libFuzzer in build-fuzz/ and runs each for SECONDS (default 600).
#   scripts/fuzz.sh [SECONDS] [TARGET...]
# New inputs go to build-fuzz/corpus/<target>, crashes to build-fuzz/crashes/<target>; the seeds in
# tests/fuzz/corpus/<target> are read, never written. Exit 0 when no target crashed, 1 otherwise,
# 77 when clang or libFuzzer is missing.
set -uo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-600}
shift || true
targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=(fuzz_version_reply fuzz_json_field fuzz_settings_file fuzz_package fuzz_manifest)

cc=$(command -v clang-14 || command -v clang || true)
cxx=$(command -v clang++-14 || command -v clang++ || true)
if [ -z "$cc" ] || [ -z "$cxx" ]; then
    echo "SKIP: clang is not installed"
    exit 77
fi
if ! echo 'extern "C" int LLVMFuzzerTestOneInput(const char *, unsigned long) { return 0; }' |
    "$cxx" -x c++ -fsanitize=fuzzer - -o /dev/null 2> /dev/null; then
    echo "SKIP: clang has no libFuzzer"
    exit 77
fi

CC=$cc CXX=$cxx cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUILLMARK_FUZZ=ON > /dev/null ||
    exit 1
cmake --build build-fuzz -j "$(nproc 2> /dev/null || echo 2)" --target fuzz-targets || exit 1

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export QT_QPA_PLATFORM=offscreen LANG=C.UTF-8 LC_ALL=C.UTF-8
crashed=()
for target in "${targets[@]}"; do
    corpus=build-fuzz/corpus/$target
    crashes=build-fuzz/crashes/$target
    mkdir -p "$corpus" "$crashes"
    echo "=== $target: ${seconds} s"
    # One process, so that a loopback listener or a temporary folder lives for the whole run.
    if ! build-fuzz/tests/fuzz/"$target" -max_total_time="$seconds" -timeout=20 -rss_limit_mb=2048 \
        -max_len=65536 -print_final_stats=1 -artifact_prefix="$crashes/" "$corpus" "tests/fuzz/corpus/$target" \
        > "build-fuzz/$target.log" 2>&1; then
        crashed+=("$target")
        tail -40 "build-fuzz/$target.log"
    fi
    grep -E '^(stat::number_of_executed_units|stat::peak_rss_mb|#[0-9]+ *DONE)' "build-fuzz/$target.log"
done
if [ ${#crashed[@]} -ne 0 ]; then
    echo "CRASHED: ${crashed[*]} (inputs in build-fuzz/crashes/)"
    exit 1
fi
echo "No fuzz target crashed."
