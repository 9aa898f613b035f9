#!/usr/bin/env bash
# End-to-end self-update of the real program under its own X display with a tray host:
#   1. a copy of the program finds a newer release on a loopback server (port 80), downloads it, swaps
#      itself, shows "成功升级新版本!", and after the box is closed restarts into the new executable, which
#      finds itself current and downloads nothing;
#   2. a second start finishes what an update cut off by a crash left (a journal of a swap half done is
#      undone, an abandoned staging folder removed); its download fails, and it changes nothing else
#      (and shows the tray balloon);
#   3. with SIGNED_PROGRAM (built with the key of update_test_release_key.pem as release SIGNED_RELEASE):
#      an unsigned package is refused and changes nothing; a genuine older signed release, replayed with
#      its own MD5 in the version reply, is refused and changes nothing; the new package signed by
#      RELEASE_TOOL with a higher release number is installed. Each release is the program with the release
#      number it carries changed in place (same length), as the build of that release would carry it.
# Usage: update_end_to_end.sh PROGRAM [SIGNED_PROGRAM RELEASE_TOOL SIGNED_RELEASE]
#   (programs built with the loopback endpoints 127.0.83.1/.2)
# Exit 77: skipped (a tool is missing or port 80 cannot be bound).
set -uo pipefail
program=$1
signed_program=${2:-}
release_tool=${3:-}
signed_release=${4:-}
here=$(cd "$(dirname "$0")" && pwd)
primary=127.0.83.1

for tool in Xvfb trayer xdotool python3 md5sum; do
    if ! command -v "$tool" >/dev/null; then
        echo "SKIP: $tool is not installed"
        exit 77
    fi
done

work=$(mktemp -d /tmp/quillmark-update-e2e.XXXXXX)
pids=()
cleanup() {
    # Screenshots of the box and the balloon are kept where QUILLMARK_TEST_SCREENSHOTS points, if set.
    if [ -n "${QUILLMARK_TEST_SCREENSHOTS:-}" ]; then
        mkdir -p "$QUILLMARK_TEST_SCREENSHOTS" && cp "$work"/*.png "$QUILLMARK_TEST_SCREENSHOTS"/ 2> /dev/null
    fi
    for pid in "${pids[@]}"; do
        kill "$pid" 2>/dev/null
    done
    for pid in $(program_pids); do
        kill "$pid" 2>/dev/null
    done
    sleep 0.5
    for pid in "${pids[@]}" $(program_pids); do
        kill -9 "$pid" 2>/dev/null
    done
    rm -rf "$work"
}
trap cleanup EXIT
trap "exit 1" TERM INT HUP

fail() {
    echo "FAIL: $*"
    echo "--- requests seen by the server:"
    cat "$work/srv/requests.log" 2>/dev/null
    ls -la "$work/app" 2>/dev/null
    for log in first third; do [ -s "$work/$log.log" ] && { echo "--- $log.log"; tail -20 "$work/$log.log"; }; done
    exit 1
}

# Processes running a file of the test's program folder (the program and the relaunched one).
program_pids() {
    local exe pid
    for exe in /proc/[0-9]*/exe; do
        pid=${exe#/proc/}
        pid=${pid%/exe}
        case "$(readlink "$exe" 2>/dev/null)" in
        "$work"/app/* | "$work"/sapp/*) echo "$pid" ;;
        esac
    done
}

count() { grep -c "^$1 " "$work/srv/requests.log" 2>/dev/null || true; }
at_least() { [ "$(count "$1")" -ge "$2" ]; }

wait_until() { # seconds, then a command
    local limit=$1
    shift
    for ((i = 0; i < limit * 10; i++)); do
        if "$@"; then
            return 0
        fi
        sleep 0.1
    done
    return 1
}

# --- the release and its server
mkdir -p "$work/app" "$work/srv" "$work/release"
cp "$program" "$work/app/Quillmark"
cp "$program" "$work/original"
{ cat "$program"; printf '\nquillmark release 2\n'; } > "$work/release/Quillmark"
printf 'new release notes\n' > "$work/release/readme.txt"
new_md5=$(md5sum < "$work/release/Quillmark" | cut -d' ' -f1)
old_md5=$(md5sum < "$work/original" | cut -d' ' -f1)
python3 - "$work/release" "$work/srv/Quillmark.zip" <<'PY'
import os, sys, zipfile
src, out = sys.argv[1], sys.argv[2]
with zipfile.ZipFile(out, "w", zipfile.ZIP_DEFLATED) as z:
    for name in ("Quillmark", "readme.txt"):
        info = zipfile.ZipInfo(name)
        info.external_attr = (0o100755 if name == "Quillmark" else 0o100644) << 16
        info.create_system = 3
        with open(os.path.join(src, name), "rb") as f:
            z.writestr(info, f.read(), zipfile.ZIP_DEFLATED)
PY
printf '{"name":"Quillmark","Quillmark":"%s","size":1}' "$new_md5" > "$work/srv/version.json"

python3 "$here/update_release_server.py" "$primary" 80 "$work/srv" 2> "$work/server.err" &
pids+=($!)
if ! wait_until 10 test -e "$work/srv/ready"; then
    echo "SKIP: no release server on $primary:80 ($(cat "$work/server.err"))"
    exit 77
fi

# --- an X display of our own with a tray host
display=""
for n in $(seq 83 120); do
    if [ ! -e "/tmp/.X$n-lock" ] && [ ! -e "/tmp/.X11-unix/X$n" ]; then
        display=":$n"
        break
    fi
done
[ -n "$display" ] || fail "no free X display"
Xvfb "$display" -screen 0 1280x800x24 -nolisten tcp > "$work/xvfb.log" 2>&1 &
pids+=($!)
export DISPLAY=$display
wait_until 10 xdpyinfo > /dev/null 2>&1 || wait_until 10 xdotool getmouselocation > /dev/null 2>&1 ||
    fail "Xvfb did not start"
trayer --edge top --align right --widthtype pixel --width 120 --height 24 > "$work/trayer.log" 2>&1 &
pids+=($!)
sleep 1
export QT_QPA_PLATFORM=xcb LANG=C.UTF-8 LC_ALL=C.UTF-8
unset SESSION_MANAGER DBUS_SESSION_BUS_ADDRESS

# A link left at the old staging name, pointing at files of someone else: never unpacked into or emptied.
mkdir -p "$work/elsewhere"
printf 'precious\n' > "$work/elsewhere/precious.txt"
ln -s "$work/elsewhere" "$work/app/Quillmark_update"

# --- 1. update, box, restart
start=$(date +%s)
(cd "$work/app" && exec ./Quillmark > "$work/first.log" 2>&1) &
first=$!
pids+=($first)
box=""
find_box() { box=$(xdotool search --name '注意' 2>/dev/null | head -1); [ -n "$box" ]; }
wait_until 60 find_box || fail "the box after the update did not appear"

[ "$(count POST)" -ge 1 ] || fail "no version request"
[ "$(count GET)" -eq 1 ] || fail "expected one download, saw $(count GET)"
get=$(grep '^GET ' "$work/srv/requests.log")
[[ $get =~ ^GET\ /quillmark/Quillmark\.zip\?t=([0-9]+)$ ]] || fail "download address: $get"
reversed=${BASH_REMATCH[1]}
stamp=""
for ((i = ${#reversed} - 1; i >= 0; i--)); do
    stamp+=${reversed:i:1}
done
stamp=$((10#$stamp))
((stamp >= start - 5 && stamp <= $(date +%s) + 5)) || fail "?t= is not the time with its digits reversed: $get"
[ "$(md5sum < "$work/app/Quillmark" | cut -d' ' -f1)" = "$new_md5" ] || fail "new executable not in place"
[ -x "$work/app/Quillmark" ] || fail "new executable lost its execute permission"
cmp -s "$work/app/Quillmark_old" "$work/original" || fail "backup is not the old executable"
[ ! -e "$work/app/Quillmark.zip" ] || fail "package not deleted"
[ "$(cat "$work/app/readme.txt")" = "new release notes" ] || fail "package file not unpacked"
! compgen -G "$work/app/Quillmark_update.*" >/dev/null || fail "staging folder left behind"
[ -L "$work/app/Quillmark_update" ] && [ "$(ls -A "$work/elsewhere")" = "precious.txt" ] &&
    [ "$(cat "$work/elsewhere/precious.txt")" = "precious" ] || fail "the link at the old staging name was followed"
title=$(xdotool getwindowname "$box")
[ "$title" = "注意：" ] || fail "box title: $title"
command -v import > /dev/null && import -window root "$work/update-box.png" 2> /dev/null

close_box() {
    xdotool windowfocus --sync "$box" 2> /dev/null
    xdotool key --clearmodifiers Return 2> /dev/null
    ! kill -0 "$first" 2> /dev/null
}
wait_until 10 close_box || fail "the program did not end after its box was closed"

second=""
find_second() {
    local pid
    for pid in $(program_pids); do
        if [ "$(readlink "/proc/$pid/exe")" = "$work/app/Quillmark" ]; then
            second=$pid
            return 0
        fi
    done
    return 1
}
wait_until 20 find_second || fail "the new executable was not started"
pids+=($second)
wait_until 30 at_least POST 2 || fail "the new executable did not check for updates"
sleep 2
[ "$(count GET)" -eq 1 ] || fail "the current program downloaded again"
find_window() { xdotool search --onlyvisible --pid "$second" > /dev/null 2>&1; }
wait_until 10 find_window || fail "the new executable shows no window"
echo "update, restart and current check: ok"
kill "$second"
wait_until 10 sh -c "! kill -0 $second 2>/dev/null" || fail "the new executable did not end on SIGTERM"

# --- 2. what a crash left is finished at the start; a failing download changes nothing
rm "$work/srv/Quillmark.zip"
printf '{"Quillmark":"%s"}' "ffffffffffffffffffffffffffffffff" > "$work/srv/version.json"
listing() { (cd "$work/app" && find . ! -name Quillmark.kov -exec md5sum {} + 2> /dev/null | sort); }
before=$(listing)
# A swap killed after it put the new read-me in place (the old one parked), and an unpacking killed
# before its swap began.
crash="$work/app/Quillmark_update.crash1"
mkdir -p "$crash/p" "$crash/d" "$work/app/Quillmark_update.stale1/p/lang"
cp "$work/app/readme.txt" "$crash/d/0"
printf 'half-installed notes\n' > "$work/app/readme.txt"
printf 'staged program\n' > "$crash/p/Quillmark"
printf 'Quillmark swap journal 1\nprogram Quillmark\nbackup Quillmark_old\nnew p/Quillmark\nearlier 1\nfile readme.txt\nend\n' \
    > "$crash/journal"
printf 'unpacked\n' > "$work/app/Quillmark_update.stale1/p/lang/zh.txt"
(cd "$work/app" && exec ./Quillmark -autorun > "$work/third.log" 2>&1) &
third=$!
pids+=($third)
wait_until 30 at_least GET 2 || fail "the failing download was not attempted"
# With -autorun the program shows only its tray icon; the balloon is the one wide window it can show.
balloon() {
    local w width
    for w in $(xdotool search --onlyvisible --pid "$third" 2> /dev/null); do
        width=$(xdotool getwindowgeometry "$w" 2> /dev/null | sed -n 's/.*Geometry: \([0-9]*\)x.*/\1/p')
        [ "${width:-0}" -gt 100 ] && return 0
    done
    return 1
}
if wait_until 5 balloon; then
    echo "balloon after the failed download: shown"
    command -v import > /dev/null && import -window root "$work/update-balloon.png" 2> /dev/null
else
    echo "note: the balloon could not be observed on this display"
    xdotool search --onlyvisible --pid "$third" 2> /dev/null | while read -r w; do
        xdotool getwindowgeometry "$w"
    done
fi
sleep 2
kill -0 "$third" 2> /dev/null || fail "the program ended after a failed download"
[ "$(listing)" = "$before" ] || fail "a failed download changed the program folder, or what a crash left stayed"
echo "crashed swap undone and abandoned staging removed at the start; failed download changes nothing: ok"
kill "$third"
wait_until 10 sh -c "! kill -0 $third 2>/dev/null" || fail "the program did not end on SIGTERM"

# --- 3. a program with a release key installs only a signed package
if [ -n "$signed_program" ] && [ -n "$signed_release" ]; then
    # FILE as the build of release N would be: the release number it carries, changed in place.
    as_release() {
        python3 - "$1" "$signed_release" "$2" <<'PY' || fail "cannot make $1 release $2"
import sys
path, old, new = sys.argv[1], sys.argv[2].encode(), sys.argv[3].encode()
data = open(path, "rb").read()
marker = b"quillmark-release-identity:release="
assert len(old) == len(new) and data.count(marker + old + b";") == 1, "no single identity of release " + old.decode()
open(path, "wb").write(data.replace(marker + old + b";", marker + new + b";"))
PY
    }
    mkdir -p "$work/sapp" "$work/srelease"
    cp "$signed_program" "$work/sapp/Quillmark"
    { cat "$signed_program"; printf '\nquillmark signed release 2\n'; } > "$work/srelease/Quillmark"
    as_release "$work/srelease/Quillmark" $((signed_release + 1))
    signed_md5=$(md5sum < "$work/srelease/Quillmark" | cut -d' ' -f1)
    (cd "$work/srelease" && chmod 755 Quillmark && zip -q -X "$work/srelease.zip" Quillmark) ||
        fail "cannot pack the signed release"
    cp "$work/srelease.zip" "$work/srv/Quillmark.zip"
    printf '{"Quillmark":"%s"}' "$signed_md5" > "$work/srv/version.json"
    slisting() { (cd "$work/sapp" && find . ! -name Quillmark.kov -exec md5sum {} + 2> /dev/null | sort); }
    sbefore=$(slisting)
    gets=$(count GET)
    (cd "$work/sapp" && exec ./Quillmark -autorun > "$work/unsigned.log" 2>&1) &
    unsigned=$!
    pids+=($unsigned)
    wait_until 30 at_least GET $((gets + 1)) || fail "the unsigned package was not downloaded"
    sleep 2
    find_box && fail "an unsigned package was installed"
    kill -0 "$unsigned" 2> /dev/null || fail "the program ended after refusing an unsigned package"
    [ "$(slisting)" = "$sbefore" ] || fail "an unsigned package changed the program folder"
    kill "$unsigned"
    wait_until 10 sh -c "! kill -0 $unsigned 2>/dev/null" || fail "the program did not end on SIGTERM"
    echo "unsigned package refused: ok"

    # A genuine release signed with the same key, but one before the program's own: whoever answers for
    # the update servers announces its MD5 and serves it, to roll the program back.
    mkdir -p "$work/oldrelease"
    { cat "$signed_program"; printf '\nquillmark signed release 0\n'; } > "$work/oldrelease/Quillmark"
    as_release "$work/oldrelease/Quillmark" $((signed_release - 1))
    (cd "$work/oldrelease" && chmod 755 Quillmark && zip -q -X "$work/oldrelease.zip" Quillmark) ||
        fail "cannot pack the older release"
    "$release_tool" sign --release $((signed_release - 1)) "$here/update_test_release_key.pem" \
        "$work/oldrelease.zip" || fail "signing the older release failed"
    cp "$work/oldrelease.zip" "$work/srv/Quillmark.zip"
    printf '{"Quillmark":"%s"}' "$(md5sum < "$work/oldrelease/Quillmark" | cut -d' ' -f1)" > "$work/srv/version.json"
    gets=$(count GET)
    (cd "$work/sapp" && exec ./Quillmark -autorun > "$work/replayed.log" 2>&1) &
    replayed=$!
    pids+=($replayed)
    wait_until 30 at_least GET $((gets + 1)) || fail "the older release was not downloaded"
    sleep 2
    find_box && fail "an older signed release was installed"
    kill -0 "$replayed" 2> /dev/null || fail "the program ended after refusing an older release"
    [ "$(slisting)" = "$sbefore" ] || fail "an older signed release changed the program folder"
    kill "$replayed"
    wait_until 10 sh -c "! kill -0 $replayed 2>/dev/null" || fail "the program did not end on SIGTERM"
    echo "replayed older signed release refused: ok"

    cp "$work/srelease.zip" "$work/srv/Quillmark.zip"
    printf '{"Quillmark":"%s"}' "$signed_md5" > "$work/srv/version.json"
    "$release_tool" sign --release $((signed_release + 1)) "$here/update_test_release_key.pem" \
        "$work/srv/Quillmark.zip" || fail "signing failed"
    (cd "$work/sapp" && exec ./Quillmark > "$work/signed.log" 2>&1) &
    signed=$!
    pids+=($signed)
    wait_until 60 find_box || fail "the box after the signed update did not appear"
    [ "$(md5sum < "$work/sapp/Quillmark" | cut -d' ' -f1)" = "$signed_md5" ] || fail "signed release not in place"
    cmp -s "$work/sapp/Quillmark_old" "$signed_program" || fail "backup is not the old signed program"
    [ ! -e "$work/sapp/Quillmark.zip" ] || fail "signed package not deleted"
    [ "$(cat "$work/sapp/Quillmark.release")" = "$((signed_release + 1))" ] || fail "release file not unpacked"
    grep -q '^platform=' "$work/sapp/Quillmark.scope" || fail "scope file not unpacked"
    first=$signed
    wait_until 10 close_box || fail "the program did not end after its box was closed"
    echo "signed package installed: ok"
fi
echo "PASS"
