#!/usr/bin/env bash
# Windows tier: cross-builds the Qt-free core and its tests for 32-bit Windows with MinGW-w64 and runs
# them under Wine in a private prefix. Installs the cross compiler, Wine and the zh_CN.UTF-8 locale when
# missing. Environment: QUILLMARK_WINDOWS_BUILD_DIR (default build-windows), QUILLMARK_WINDOWS_TIMEOUT
# (seconds per test program, default 180).
set -uo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build=${QUILLMARK_WINDOWS_BUILD_DIR:-build-windows}
case $build in /*) ;; *) build="$root/$build" ;; esac
timeout=${QUILLMARK_WINDOWS_TIMEOUT:-180}
jobs=$(nproc 2>/dev/null || echo 2)

sudo=""
[ "$(id -u)" -ne 0 ] && sudo=sudo

installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }

# --- packages ----------------------------------------------------------------------------------------
pkgs=(g++-mingw-w64-i686-posix wine wine32:i386 locales cmake ninja-build googletest)
missing=()
for p in "${pkgs[@]}"; do
    installed "$p" || missing+=("$p")
done
if [ ${#missing[@]} -ne 0 ]; then
    echo "Installing: ${missing[*]}"
    if ! dpkg --print-foreign-architectures | grep -qx i386; then
        $sudo dpkg --add-architecture i386 || exit 1
    fi
    $sudo apt-get update || exit 1
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends "${missing[@]}" || exit 1
fi
# The 64-bit loader alone runs a 32-bit program as a silent no-op that exits 0: insist on the 32-bit one.
if ! installed wine32:i386; then
    echo "wine32:i386 is missing: 32-bit test programs cannot run" >&2
    exit 1
fi

# Wine takes its ANSI code page from the Unix locale: zh_CN.UTF-8 gives code page 936.
if ! locale -a 2>/dev/null | grep -qix 'zh_CN.utf8'; then
    echo "Generating the zh_CN.UTF-8 locale"
    if [ -f /etc/locale.gen ]; then
        $sudo sed -i 's/^# *\(zh_CN.UTF-8 UTF-8\)/\1/' /etc/locale.gen
        grep -qx 'zh_CN.UTF-8 UTF-8' /etc/locale.gen || echo 'zh_CN.UTF-8 UTF-8' | $sudo tee -a /etc/locale.gen >/dev/null
    fi
    if command -v locale-gen >/dev/null 2>&1; then
        $sudo locale-gen --keep-existing >/dev/null || $sudo locale-gen >/dev/null
    fi
    if ! locale -a 2>/dev/null | grep -qix 'zh_CN.utf8'; then
        $sudo localedef -i zh_CN -c -f UTF-8 zh_CN.UTF-8
    fi
    locale -a 2>/dev/null | grep -qix 'zh_CN.utf8' || { echo "could not generate zh_CN.UTF-8" >&2; exit 1; }
fi

# --- private Wine prefix -----------------------------------------------------------------------------
mkdir -p "$build"
export WINEPREFIX="$build/wineprefix"
export WINEARCH=win32
export WINEDEBUG=-all
mkdir -p "$WINEPREFIX"

stop_wine() { WINEPREFIX="$WINEPREFIX" wineserver -k >/dev/null 2>&1 || true; }
trap stop_wine EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# Wine's own services (services.exe, explorer, winedevice) start with the first Wine program and inherit
# its output. Starting them here, with output to a log, keeps them off ctest's pipes; the persistent
# server keeps them alive between the test programs. Done in the background while the build runs.
prepare_prefix() {
    # Fails when a server for this prefix already runs (left by an interrupted run): that one serves.
    wineserver -p || echo "wineserver -p: a server for this prefix is already running"
    WINEDLLOVERRIDES="mscoree,mshtml=" wineboot -i || return 1
    wine cmd /c exit 0
}
# A drive E: of its own, so that the tests meet a drive root other than the system's C:. In place before
# Wine's services start, which take the list of drives once. Wine sets up C: and Z: only when it creates
# dosdevices itself, so a fresh prefix gets them here the way Wine makes them.
mkdir -p "$build/drive-e"
if [ ! -d "$WINEPREFIX/dosdevices" ]; then
    mkdir -p "$WINEPREFIX/dosdevices" "$WINEPREFIX/drive_c"
    ln -s ../drive_c "$WINEPREFIX/dosdevices/c:"
    ln -s / "$WINEPREFIX/dosdevices/z:"
fi
ln -sfn "$build/drive-e" "$WINEPREFIX/dosdevices/e:"
prepare_prefix </dev/null >"$build/wineprefix.log" 2>&1 &
prefix_job=$!

# --- build -------------------------------------------------------------------------------------------
generator=()
command -v ninja >/dev/null 2>&1 && generator=(-G Ninja)
if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake -S . -B "$build" "${generator[@]}" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw32.cmake" \
        -DQUILLMARK_CORE_ONLY=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo || exit 1
else
    cmake -S . -B "$build" || exit 1
fi
cmake --build "$build" -j "$jobs" || exit 1

if ! wait "$prefix_job"; then
    echo "could not prepare the Wine prefix:" >&2
    tail -n 20 "$build/wineprefix.log" >&2
    exit 1
fi

# --- run ---------------------------------------------------------------------------------------------
LANG=zh_CN.UTF-8 LC_ALL=zh_CN.UTF-8 ctest --test-dir "$build" -L windows --no-tests=error --timeout "$timeout" \
    --output-on-failure -j "$jobs"
