#!/usr/bin/env bash
# Installs Quillmark for the current user (no root needed) and makes the desktop find it.
#
#   scripts/install.sh [--prefix DIR] [--autostart] [--file-manager] [--build-dir DIR]
#   scripts/install.sh --uninstall [--prefix DIR]
#
#   --prefix DIR      the program's folder (default ~/.local/opt/quillmark); it must stay writable, since
#                     the settings file and the self-update live beside the program
#   --autostart       start it hidden in the tray at login (-autorun)
#   --file-manager    add "打印全部 Word 文档" to the folder menu of Nautilus and of KDE's file managers
#   --build-dir DIR   the build to install from (default build/; configured and built when missing)
#   --uninstall       remove everything installed, the entries and the program's own files beside it
set -euo pipefail

usage() {
    sed -n '2,15p' "$0" | sed 's/^# \{0,1\}//' >&2
    exit 2
}

root=$(cd "$(dirname "$0")/.." && pwd)
prefix="$HOME/.local/opt/quillmark"
build="$root/build"
autostart=0
file_manager=0
uninstall=0
while [ $# -gt 0 ]; do
    case $1 in
    --prefix) [ $# -ge 2 ] || usage; prefix=$2; shift ;;
    --prefix=*) prefix=${1#*=} ;;
    --build-dir) [ $# -ge 2 ] || usage; build=$2; shift ;;
    --build-dir=*) build=${1#*=} ;;
    --autostart) autostart=1 ;;
    --file-manager) file_manager=1 ;;
    --uninstall) uninstall=1 ;;
    -h | --help) usage ;;
    *) echo "install.sh: unknown option $1" >&2; usage ;;
    esac
    shift
done
[ -n "$prefix" ] || usage
if [ $uninstall -eq 0 ]; then
    mkdir -p "$prefix"
    prefix=$(cd "$prefix" && pwd)
elif [ -d "$prefix" ]; then
    prefix=$(cd "$prefix" && pwd)
fi

data_home=${XDG_DATA_HOME:-$HOME/.local/share}
config_home=${XDG_CONFIG_HOME:-$HOME/.config}
record="$prefix/share/quillmark/installed-files"
nautilus_name="打印全部 Word 文档"

# Desktops watch the menu folders themselves; only an icon cache that exists already would hide new icons.
refresh_menus() {
    if command -v gtk-update-icon-cache >/dev/null 2>&1 && [ -f "$data_home/icons/hicolor/icon-theme.cache" ]; then
        gtk-update-icon-cache -q -t "$data_home/icons/hicolor" 2>/dev/null || true
    fi
}

# Copies FILE to TARGET with MODE and notes TARGET for --uninstall.
place() {
    mkdir -p "$(dirname "$3")"
    install -m "$2" "$1" "$3"
    printf '%s\n' "$3" >>"$record.new"
}

# Removes DIR and its parents while they are empty, below the data, configuration or program folder.
prune() {
    local dir=$1
    while :; do
        case $dir in
        "$data_home"/* | "$config_home"/* | "$prefix"/*) ;;
        *) return 0 ;;
        esac
        rmdir -- "$dir" 2>/dev/null || return 0
        dir=$(dirname "$dir")
    done
}

do_uninstall() {
    if [ ! -f "$record" ]; then
        if [ -e "$prefix/Quillmark" ] || [ -e "$prefix/quillmark-print" ]; then
            echo "install.sh: $prefix holds no record of an installation by this script; nothing removed" >&2
            exit 1
        fi
        echo "Quillmark is not installed in $prefix"
        exit 0
    fi
    local file
    # Only what the record names, and the files the program itself keeps beside it: never the folder
    # wholesale, which may have been chosen with other files in it.
    while IFS= read -r file || [ -n "$file" ]; do
        [ -n "$file" ] || continue
        rm -f -- "$file"
        prune "$(dirname "$file")"
    done <"$record"
    rm -f -- "$prefix/Quillmark.kov" "$prefix/Quillmark_old" "$prefix/Quillmark.zip" "$prefix/Quillmark.zip.part" \
        "$prefix/Quillmark.release" "$prefix/Quillmark.scope" "$prefix/Quillmark.manifest" "$prefix/Quillmark.sig" \
        "$prefix"/Quillmark.kov.*.tmp "$record"
    rm -rf -- "$prefix/Quillmark_update" "$prefix"/Quillmark_update.*
    # What the program keeps for the user elsewhere: the office profile reused between runs (a cache) and the
    # record of the PDFs it made (without it --overwrite only keeps more PDFs).
    rm -rf -- "${XDG_CACHE_HOME:-$HOME/.cache}/quillmark" "$data_home/quillmark"
    find "$prefix" -depth -type d -empty -delete 2>/dev/null || true
    refresh_menus
    if [ -d "$prefix" ]; then
        echo "Removed Quillmark; $prefix still holds files that are not its own"
    else
        echo "Removed Quillmark from $prefix"
    fi
}

if [ $uninstall -eq 1 ]; then
    do_uninstall
    exit 0
fi

if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo
fi
cmake --build "$build" -j "$(nproc 2>/dev/null || echo 2)" --target Quillmark quillmark-print quillmark_icons
# A fresh record each time; the files of an earlier install that are not written again stay listed.
old_record=""
[ -f "$record" ] && old_record=$(cat "$record")
cmake --install "$build" --prefix "$prefix" >/dev/null
mkdir -p "$(dirname "$record")"
: >"$record.new"
while IFS= read -r file || [ -n "$file" ]; do
    printf '%s\n' "$file" >>"$record.new"
done <"$build/install_manifest.txt"

share="$prefix/share"
place "$share/applications/quillmark.desktop" 644 "$data_home/applications/quillmark.desktop"
for size in 16 32 48 128; do
    place "$share/icons/hicolor/${size}x${size}/apps/quillmark.png" 644 \
        "$data_home/icons/hicolor/${size}x${size}/apps/quillmark.png"
done
if [ $autostart -eq 1 ]; then
    place "$share/quillmark/autostart/quillmark.desktop" 644 "$config_home/autostart/quillmark.desktop"
fi
if [ $file_manager -eq 1 ]; then
    # Nautilus runs the executables of its scripts folder; the file name is the menu entry.
    mkdir -p "$data_home/nautilus/scripts"
    ln -sfn "$share/quillmark/folder-action" "$data_home/nautilus/scripts/$nautilus_name"
    printf '%s\n' "$data_home/nautilus/scripts/$nautilus_name" >>"$record.new"
    # Plasma 5.85 and later (and 6) read kio/servicemenus, earlier Plasma 5 kservices5/ServiceMenus.
    place "$share/quillmark/servicemenus/quillmark-print-folder.desktop" 755 \
        "$data_home/kio/servicemenus/quillmark-print-folder.desktop"
    place "$share/quillmark/servicemenus/quillmark-print-folder.desktop" 755 \
        "$data_home/kservices5/ServiceMenus/quillmark-print-folder.desktop"
fi
{
    [ -n "$old_record" ] && printf '%s\n' "$old_record"
    cat "$record.new"
} | awk 'NF && !seen[$0]++' >"$record"
rm -f "$record.new"
refresh_menus
echo "Installed Quillmark in $prefix"
echo "  menu entry: 澄笺 ($data_home/applications/quillmark.desktop)"
[ $autostart -eq 1 ] && echo "  starts hidden at login ($config_home/autostart/quillmark.desktop)"
[ $file_manager -eq 1 ] && echo "  folder action: $nautilus_name"
echo "  command line: $prefix/quillmark-print FOLDER (see --help)"
