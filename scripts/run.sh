#!/usr/bin/env bash
# Sets up a fresh Debian 12 machine, builds Quillmark and starts it.
# Without a default printer, a private virtual printer is started that keeps every page as a PDF in
# out/prints/, so a first try prints somewhere you can look.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh build
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc 2>/dev/null || echo 2)" --target Quillmark

if ! lpstat -d 2>/dev/null | grep -q 'system default destination:'; then
    mkdir -p out/prints
    spool=$(mktemp -d /tmp/quillmark-printer.XXXXXX)
    eval "$(scripts/printserver.sh start "$spool" "$(pwd)/out/prints")"
    export CUPS_SERVER
    unset PRINTER LPDEST
    trap 'scripts/printserver.sh stop "$spool"' EXIT
    echo "No printer here: printing into $(pwd)/out/prints/ (one PDF per document)."
fi
build/Quillmark "$@"
