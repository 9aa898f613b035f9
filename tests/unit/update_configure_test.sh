#!/usr/bin/env bash
# What a build trusts an update with is decided when it is configured: the project is configured (its
# Qt-free core only, for speed) with each combination, and must stop or go on as the table says.
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

check "servers without a key" stops "QUILLMARK_UPDATE_ALLOW_UNSIGNED=ON" "${servers[@]}"
check "servers without a key, unsigned allowed" "goes on" "" "${servers[@]}" -DQUILLMARK_UPDATE_ALLOW_UNSIGNED=ON
check "no servers, no key" "goes on" ""
check "servers, key and release number" "goes on" "" "${servers[@]}" "$key" -DQUILLMARK_RELEASE_NUMBER=12
check "key without a release number" stops "needs QUILLMARK_RELEASE_NUMBER" "${servers[@]}" "$key"
check "release number with a leading zero" stops "QUILLMARK_RELEASE_NUMBER must be" "$key" -DQUILLMARK_RELEASE_NUMBER=012
check "release number zero" stops "QUILLMARK_RELEASE_NUMBER must be" "$key" -DQUILLMARK_RELEASE_NUMBER=0
check "release number that is no number" stops "QUILLMARK_RELEASE_NUMBER must be" -DQUILLMARK_RELEASE_NUMBER=2.1
check "release number of 19 digits" stops "QUILLMARK_RELEASE_NUMBER must be" "$key" \
    -DQUILLMARK_RELEASE_NUMBER=1234567890123456789
[ $failures -eq 0 ] && echo PASS
exit $((failures > 0))
