#!/usr/bin/env bash
# Packs the Windows build twice from the same files:
#   dist/Quillmark-<version>-win32.zip        unpacked anywhere and run from there
#   dist/Quillmark-<version>.<release>-win32.msi   installed per user (packaging/windows/)
# Both hold Quillmark.exe, quillmark-print.exe, quillmark-shell.exe (Explorer's folder menu), exactly the
# DLLs they and their Qt plugins load (found by following the import tables through the SDK's bin/), the
# plugins platforms/qwindows.dll, styles/qwindowsvistastyle.dll and imageformats/qico.dll (without it the
# .ico icon, and so the tray icon, does not load), and a read-me. Programs and DLLs are stripped: no debug
# information ships. The version and the release number come from version.cmake.
# Usage: scripts/package-windows.sh [--release N] [--msi-only] [BUILD_DIR [OUT_DIR]]
#   (defaults: build-windows, dist; --release packs the installer under another release number, as the
#   upgrade test does for an older one)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
release=""
msi_only=0
while [ $# -gt 0 ]; do
    case $1 in
    --release)
        release=${2:-}
        shift 2 || { echo "package-windows.sh: --release needs a number" >&2; exit 1; } ;;
    --msi-only) msi_only=1; shift ;;
    *) break ;;
    esac
done
build=${1:-build-windows}
out=${2:-dist}
case $build in /*) ;; *) build="$root/$build" ;; esac
case $out in /*) ;; *) out="$root/$out" ;; esac

die() { echo "package-windows.sh: $*" >&2; exit 1; }

[ -f "$build/CMakeCache.txt" ] || die "no build in $build (scripts/test-windows.sh makes one)"
sdk=$(sed -n 's/^QUILLMARK_WINDOWS_SDK_ROOT:INTERNAL=//p' "$build/CMakeCache.txt")
[ -n "$sdk" ] && [ -d "$sdk/bin" ] || die "$build is not a build with the Windows SDK"
for program in Quillmark.exe cli/quillmark-print.exe winshell/quillmark-shell.exe; do
    [ -f "$build/$program" ] || die "$build/$program is missing: build it first"
done
objdump=i686-w64-mingw32-objdump
strip=i686-w64-mingw32-strip
command -v "$objdump" >/dev/null && command -v "$strip" >/dev/null || die "the MinGW binutils are missing"
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
[ -n "$version" ] || die "no project version in $build/CMakeCache.txt"
[ -n "$release" ] || release=$(sed -n 's/^set(QUILLMARK_RELEASE \([0-9]*\))$/\1/p' "$root/version.cmake")
[[ "$release" =~ ^[0-9]+$ ]] || die "no release number (version.cmake's QUILLMARK_RELEASE, or --release N)"
command -v wixl >/dev/null && command -v msibuild >/dev/null || die "wixl and msibuild are missing (scripts/deps.sh)"

stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
name=Quillmark-$version-win32
dir=$stage/$name
mkdir -p "$dir/platforms" "$dir/styles" "$dir/imageformats"
cp "$build/Quillmark.exe" "$build/cli/quillmark-print.exe" "$build/winshell/quillmark-shell.exe" "$dir/"
cp "$sdk/plugins/platforms/qwindows.dll" "$dir/platforms/"
cp "$sdk/plugins/styles/qwindowsvistastyle.dll" "$dir/styles/"
cp "$sdk/plugins/imageformats/qico.dll" "$dir/imageformats/"

# The DLLs that the programs and plugins import, and what those import, as far as the SDK has them;
# the rest are Windows's own.
imports() { "$objdump" -p "$1" | sed -n 's/^[[:space:]]*DLL Name: //p'; }
declare -A seen=()
queue=("$dir"/*.exe "$dir"/*/*.dll)
while [ ${#queue[@]} -gt 0 ]; do
    file=${queue[0]}
    queue=("${queue[@]:1}")
    while read -r dll; do
        key=${dll,,}
        [ -n "${seen[$key]:-}" ] && continue
        seen[$key]=1
        found=$(find "$sdk/bin" -maxdepth 1 -iname "$dll" -print -quit)
        if [ -n "$found" ]; then
            cp "$found" "$dir/"
            queue+=("$dir/$(basename "$found")")
        fi
    done < <(imports "$file")
done
"$strip" --strip-all "$dir"/*.exe
find "$dir" -name "*.dll" -exec "$strip" --strip-unneeded {} +

# Read-me for Windows users: UTF-8 with a byte order mark and CR LF, so that Notepad shows it right.
printf '\xef\xbb\xbf' > "$dir/README.txt"
sed -e "s/@VERSION@/$version/g" -e "s/@RELEASE@/$release/g" -e 's/$/\r/' "$root/resources/windows/README.txt" \
    >> "$dir/README.txt"

mkdir -p "$out"
msi=$out/Quillmark-$version.$release-win32.msi
rm -f "$msi"
python3 "$root/packaging/windows/build-msi.py" "$dir" "$msi" "$version.$release" || die "the installer was not built"
echo "$msi"
[ "$msi_only" = 1 ] && exit 0
rm -f "$out/$name.zip"
(cd "$stage" && python3 - "$out/$name.zip" "$name" <<'PY'
import os, sys, zipfile
target, top = sys.argv[1], sys.argv[2]
with zipfile.ZipFile(target, "w", zipfile.ZIP_DEFLATED) as z:
    for base, dirs, files in os.walk(top):
        dirs.sort()
        for f in sorted(files):
            z.write(os.path.join(base, f))
PY
)
echo "$out/$name.zip"
(cd "$dir" && find . -type f | sort | sed 's|^\./|  |')
