#!/usr/bin/env bash
# What a build trusts an update with is decided when it is configured: the project is configured (its
# Qt-free core only, for speed) with each combination, and must stop or go on as the table says. The
# release number is version.cmake's; another one given on the command line stops the configuration.
# Usage: update_configure_test.sh SOURCE_DIR
set -uo pipefail
source_dir=$1
work=$(mktemp -d /tmp/quillmark-configure.XXXXXX)
trap 'rm -rf "$work"' EXIT

servers=(-DQUILLMARK_UPDATE_PRIMARY_HOST=upd.example.org
         -DQUILLMARK_UPDATE_PRIMARY_VERSION_PATH=/quillmark/version
         -DQUILLMARK_UPDATE_PRIMARY_DOWNLOAD_BASE=http://upd.example.org/quillmark/
         -DQUILLMARK_UPDATE_SECONDARY_HOST=mirror.example.org
         -DQUILLMARK_UPDATE_SECONDARY_VERSION_PATH=/quillmark/version
         -DQUILLMARK_UPDATE_SECONDARY_DOWNLOAD_BASE=http://mirror.example.org/quillmark/)
key=-DQUILLMARK_UPDATE_PUBLIC_KEY=14aaa55dd519e3cde708fd70e6fab43b3ff177df23511fb209e093b6528454a1

failures=0
n=0
# expect: "stops" with the text its message must hold, or "goes on"
check() {
    local name=$1 expect=$2 text=$3
    shift 3
    n=$((n + 1))
    local out="$work/$n.log"
    cmake -S "$source_dir" -B "$work/build$n" -DQUILLMARK_CORE_ONLY=ON -DQUILLMARK_TESTS=OFF "$@" > "$out" 2>&1
    local rc=$?
    if [ "$expect" = stops ] && { [ $rc -eq 0 ] || ! grep -q -- "$text" "$out"; }; then
        echo "FAIL: $name: expected the configuration to stop with \"$text\" (exit $rc)"
        tail -15 "$out"
        failures=$((failures + 1))
    elif [ "$expect" = "goes on" ] && [ $rc -ne 0 ]; then
        echo "FAIL: $name: expected the configuration to go on (exit $rc)"
        tail -15 "$out"
        failures=$((failures + 1))
    else
        echo "ok: $name"
    fi
    rm -rf "$work/build$n"
}

release=$(sed -n 's/^set(QUILLMARK_RELEASE \([0-9]*\))$/\1/p' "$source_dir/version.cmake")
[ -n "$release" ] || { echo "FAIL: no QUILLMARK_RELEASE in version.cmake"; exit 1; }

check "servers without a key" stops "QUILLMARK_UPDATE_ALLOW_UNSIGNED=ON" "${servers[@]}"
check "servers without a key, unsigned allowed" "goes on" "" "${servers[@]}" -DQUILLMARK_UPDATE_ALLOW_UNSIGNED=ON
check "no servers, no key" "goes on" ""
# The release number comes from version.cmake, the one place a release is numbered.
check "servers and key" "goes on" "" "${servers[@]}" "$key"
check "servers, key and the tree's release number" "goes on" "" "${servers[@]}" "$key" \
    -DQUILLMARK_RELEASE_NUMBER="$release"
check "another release number than the tree's" stops "is not this tree's release" "${servers[@]}" "$key" \
    -DQUILLMARK_RELEASE_NUMBER=$((release + 1))
check "release number that is no number" stops "is not this tree's release" -DQUILLMARK_RELEASE_NUMBER=2.1
check "channel that is no name" stops "QUILLMARK_UPDATE_CHANNEL must be" "$key" -DQUILLMARK_UPDATE_CHANNEL=Beta/1

# A number once given is not kept in the cache: configuring the same tree again without it goes on, and
# the cache holds no stale number.
n=$((n + 1))
cmake -S "$source_dir" -B "$work/again" -DQUILLMARK_CORE_ONLY=ON -DQUILLMARK_TESTS=OFF "$key" \
    -DQUILLMARK_RELEASE_NUMBER="$release" > "$work/again1.log" 2>&1 &&
    cmake -S "$source_dir" -B "$work/again" > "$work/again2.log" 2>&1
if [ $? -ne 0 ] || grep -q "^QUILLMARK_RELEASE_NUMBER" "$work/again/CMakeCache.txt"; then
    echo "FAIL: a release number given once stays in the cache"
    failures=$((failures + 1))
else
    echo "ok: a release number given once is not kept"
fi
[ $failures -eq 0 ] && echo PASS
exit $((failures > 0))
