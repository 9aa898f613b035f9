#!/bin/sh
# Runs a Qt test that reaches the stand-in word processor in a prefix of its own, made away from the
# display (the test needs none). Activating a local server needs Wine's RPC service; left to Wine (8) it
# was asked for while the prefix's services were still coming up, failed, and every activation then hung.
# So it is started here and asked for until it runs.
# Usage: standin-qtest.sh PREFIX PROGRAM [ARGUMENTS]
prefix=$1
shift
unset DISPLAY
export WINEPREFIX="$prefix" WINEARCH=win32 WINEDEBUG=-all
wineserver -k >/dev/null 2>&1
rm -rf "$prefix"
mkdir -p "$prefix"
WINEDLLOVERRIDES="mscoree,mshtml=" wineboot -i </dev/null >/dev/null 2>&1 || { echo "wineboot failed" >&2; exit 1; }
tries=0
while :; do
    # "started" exits 0; "already running" (English, or 已在运行 in code page 936) ends the wait too.
    out=$(wine net start RpcSs </dev/null 2>/dev/null) && break
    printf '%s' "$out" | LC_ALL=C grep -q -e 'already' -e "$(printf '\322\321\324\332\324\313\320\320')" && break
    tries=$((tries + 1))
    if [ "$tries" -ge 20 ]; then
        echo "Wine's RPC service does not start: $out" >&2
        wineserver -k
        exit 1
    fi
    sleep 3
done
"$(dirname "$0")/wine-qtest.sh" "$@"
status=$?
wineserver -k
exit $status
