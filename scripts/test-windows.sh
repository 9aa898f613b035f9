#!/usr/bin/env bash
# Windows tier: cross-builds the whole program and its tests for 32-bit Windows with MinGW-w64 and the SDK
# in ../shared/windows-sdk/ (Qt 5.15 with ActiveQt, QuaZip, OpenSSL; see its README), packs
# dist/Quillmark-<version>-win32.zip and the installer beside it (scripts/package-windows.sh), and runs
# under Wine, on an Xvfb display of its own: the Qt-free core tests, the Qt tests, the package unpacked into
# a fresh prefix and the installer installed into one.
# Installs the cross compiler, Wine, the X tools and the zh_CN.UTF-8 locale when missing.
# Environment: QUILLMARK_WINDOWS_BUILD_DIR (default build-windows), QUILLMARK_WINDOWS_TIMEOUT (seconds per
# test program, default 600), QUILLMARK_WINDOWS_SDK (the SDK archive, default
# ../shared/windows-sdk/quillmark-winsdk-i686.tar.xz beside the repository).
set -uo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build=${QUILLMARK_WINDOWS_BUILD_DIR:-build-windows}
case $build in /*) ;; *) build="$root/$build" ;; esac
timeout=${QUILLMARK_WINDOWS_TIMEOUT:-600}
jobs=$(nproc 2>/dev/null || echo 2)

sudo=""
[ "$(id -u)" -ne 0 ] && sudo=sudo

installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }

# --- packages ----------------------------------------------------------------------------------------
pkgs=(g++-mingw-w64-i686-posix libz-mingw-w64-dev wine wine32:i386 locales cmake ninja-build googletest libssl-dev
      xz-utils xvfb trayer xdotool imagemagick x11-utils fonts-wqy-microhei python3 wixl msitools)
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

# --- the SDK ------------------------------------------------------------------------------------------
sdk_archive=${QUILLMARK_WINDOWS_SDK:-$root/../shared/windows-sdk/quillmark-winsdk-i686.tar.xz}
sdk_help="It is made by build.sh beside it (../shared/windows-sdk/build.sh; see the README there)."
if [ ! -f "$sdk_archive" ]; then
    echo "The Windows SDK is missing: $sdk_archive" >&2
    echo "$sdk_help" >&2
    exit 1
fi
if [ ! -f "$sdk_archive.sha256" ]; then
    echo "The Windows SDK's checksum is missing: $sdk_archive.sha256" >&2
    echo "$sdk_help" >&2
    exit 1
fi
sdk_sum=$(cut -d' ' -f1 "$sdk_archive.sha256")
mkdir -p "$build"
sdk="$build/sdk/quillmark-winsdk"
if [ "$(cat "$build/sdk/.sha256" 2>/dev/null)" != "$sdk_sum" ]; then
    if [ "$(sha256sum "$sdk_archive" | cut -d' ' -f1)" != "$sdk_sum" ]; then
        echo "The Windows SDK does not match its checksum: $sdk_archive" >&2
        echo "$sdk_help" >&2
        exit 1
    fi
    echo "Unpacking the Windows SDK"
    rm -rf "$build/sdk"
    mkdir -p "$build/sdk"
    tar -xJf "$sdk_archive" -C "$build/sdk" || exit 1
    echo "$sdk_sum" > "$build/sdk/.sha256"
fi
toolchain="$sdk/share/cmake/i686-w64-mingw32.cmake"
[ -f "$toolchain" ] || { echo "The Windows SDK has no toolchain file: $toolchain" >&2; exit 1; }

# --- private X display and Wine prefix ----------------------------------------------------------------
# The Qt tests run on Qt's real Windows platform, which needs a display; the whole-program tests make
# displays and prefixes of their own.
export WINEPREFIX="$build/wineprefix"
export WINEARCH=win32
export WINEDEBUG=-all
xvfb_pid=""
trayer_pid=""
stop_wine() {
    WINEPREFIX="$WINEPREFIX" wineserver -k >/dev/null 2>&1 || true
    [ -n "$trayer_pid" ] && kill "$trayer_pid" 2>/dev/null
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
}
trap stop_wine EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
fifo=$(mktemp -u)
mkfifo "$fifo"
Xvfb -displayfd 9 -screen 0 1280x1024x24 -nolisten tcp -noreset 9>"$fifo" >"$build/xvfb.log" 2>&1 &
xvfb_pid=$!
read -r -t 20 display_number <"$fifo"
rm -f "$fifo"
[ -n "${display_number:-}" ] || { echo "Xvfb did not start" >&2; exit 1; }
export DISPLAY=":$display_number"
# A tray host before Wine's explorer starts: without one Wine keeps the icons in a tray of its own, whose
# answers to a program removing its icon take seconds, and every test that builds a window removes one.
trayer --edge bottom --align right --widthtype request --height 24 >"$build/trayer.log" 2>&1 &
trayer_pid=$!
mkdir -p "$WINEPREFIX"

# Wine's own services (services.exe, explorer, winedevice) start with the first Wine program and inherit
# its output. Starting them here, with output to a log, keeps them off ctest's pipes; the persistent
# server keeps them alive between the test programs. Done in the background while the build runs.
prepare_prefix() {
    # Fails when a server for this prefix already runs (left by an interrupted run): that one serves.
    wineserver -p || echo "wineserver -p: a server for this prefix is already running"
    WINEDLLOVERRIDES="mscoree,mshtml=" wineboot -i || return 1
    wine cmd /c exit 0
    # Wine's desktop process ends a second after its last user, and each test program then starts it
    # again: once the Qt-free tier had run, every program that touched the desktop took some 20 s more.
    # A quiet console program waiting through the whole tier keeps the first one; wineserver -k ends it.
    wine cmd /c "ping -n 86400 127.0.0.1 >nul" </dev/null >/dev/null 2>&1 &
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
launcher=()
command -v ccache >/dev/null 2>&1 && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
# A folder configured otherwise (the Qt-free core build of earlier, another SDK) starts afresh.
if [ -f "$build/CMakeCache.txt" ] && ! grep -qx "CMAKE_TOOLCHAIN_FILE:FILEPATH=$toolchain" "$build/CMakeCache.txt"; then
    rm -rf "$build/CMakeCache.txt" "$build/CMakeFiles"
fi
if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake -S . -B "$build" "${generator[@]}" "${launcher[@]}" -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
        -DCMAKE_BUILD_TYPE=Release || exit 1
else
    cmake -S . -B "$build" || exit 1
fi
cmake --build "$build" -j "$jobs" || exit 1
scripts/package-windows.sh "$build" || exit 1
# The Qt-free core on its own, as before the SDK: no Qt, statically linked, so that it stays buildable
# without the SDK.
core="$build/core"
if [ ! -f "$core/CMakeCache.txt" ]; then
    cmake -S . -B "$core" "${generator[@]}" "${launcher[@]}" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw32.cmake" \
        -DQUILLMARK_CORE_ONLY=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo || exit 1
else
    cmake -S . -B "$core" || exit 1
fi
cmake --build "$core" -j "$jobs" || exit 1

if ! wait "$prefix_job"; then
    echo "could not prepare the Wine prefix:" >&2
    tail -n 20 "$build/wineprefix.log" >&2
    exit 1
fi

# --- run ---------------------------------------------------------------------------------------------
status=0
echo "--- the Qt-free core, without the SDK"
LANG=zh_CN.UTF-8 LC_ALL=zh_CN.UTF-8 ctest --test-dir "$core" -L windows --no-tests=error --timeout "$timeout" \
    --output-on-failure -j "$jobs" || status=1
echo "--- the whole program"
# One at a time: with two Wine programs side by side, a test program that had finished its cases was seen
# to take minutes to end (a download test and the update check), and timed cases stretch past their bounds.
LANG=zh_CN.UTF-8 LC_ALL=zh_CN.UTF-8 ctest --test-dir "$build" -L windows --no-tests=error \
    --timeout "$timeout" --output-on-failure -j 1 || status=1
exit $status
