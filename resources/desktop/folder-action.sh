#!/bin/sh
# The file manager's "打印全部 Word 文档": prints each chosen folder with quillmark-print and shows the
# outcome in a desktop notification, or in a small dialog where no notification service answers.
# File managers pass the chosen folders as arguments; Nautilus scripts may get none and run in the folder.
here=$(dirname "$(readlink -f "$0")")
print="$here/../../quillmark-print"

notify() { # title, body
    if command -v notify-send >/dev/null 2>&1 &&
        notify-send --app-name=澄笺 --icon=quillmark "$1" "$2" 2>/dev/null; then
        return 0
    fi
    if command -v zenity >/dev/null 2>&1; then
        zenity --info --title="$1" --text="$2" --no-markup 2>/dev/null && return 0
    fi
    if command -v kdialog >/dev/null 2>&1; then
        kdialog --title "$1" --msgbox "$2" 2>/dev/null && return 0
    fi
    if command -v xmessage >/dev/null 2>&1; then
        xmessage -center -title "$1" "$1

$2" 2>/dev/null && return 0
    fi
    printf '%s\n%s\n' "$1" "$2" >&2
}

[ $# -gt 0 ] || set -- "$(pwd)"
status=0
for folder in "$@"; do
    [ -d "$folder" ] || continue
    # No terminal to ask on: the password comes only from QUILLMARK_PASSWORD, when the session sets it.
    output=$("$print" -- "$folder" </dev/null 2>&1)
    code=$?
    case $code in
    0) title="打印完成" ;;
    1) title="部分文档未能打印" ;;
    130) title="打印已中止" ;;
    *) title="未能打印" ;;
    esac
    # The summary, not the progress lines.
    summary=$(printf '%s\n' "$output" | grep -v '^\[[0-9]*/[0-9]*\] ' | tail -n 8)
    notify "$title：$(basename "$folder")" "$summary"
    [ $code -gt $status ] && status=$code
done
exit $status
