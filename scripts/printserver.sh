#!/usr/bin/env bash
# A private print server: a CUPS scheduler of its own (configuration, spool, logs and socket in one
# folder) with one default queue, "capture", that keeps every job as a file job-NNNNN.pdf in a folder of
# your choosing. It never touches the machine's own printers or its scheduler.
#
#   printserver.sh start DIR OUT      start it; prints CUPS_SERVER=DIR/cups.sock (use with eval)
#   printserver.sh wait DIR [SECONDS] wait until no job is pending (default 60 s); 1 on time-out
#   printserver.sh stop DIR           stop that scheduler, nothing else
#   printserver.sh disable|enable DIR stop or restart the queue (jobs are held while it is stopped)
#   printserver.sh reject|accept DIR  make the queue refuse or accept new jobs
#   printserver.sh remove DIR         delete the queue, leaving the server without a default printer
#   printserver.sh add-queue DIR NAME OUT   a further capture queue NAME (not the default) keeping its
#                                           jobs in OUT
#   printserver.sh hold|release DIR   hold every new job in the queue (the printer stays idle) or not
#   printserver.sh pace DIR JOB [PAGE]  a slow printer from now on: each job takes JOB seconds plus PAGE
#                                       seconds a page (decimals allowed); OUT/pace.log gets a line
#                                       "job began ended" (seconds since 1970) for each job
# PRINTSERVER_JOB_HISTORY=No at start: finished jobs are forgotten at once, as some servers are set up.
# PRINTSERVER_MAX_JOBS=N at start: the scheduler takes at most N jobs at once and refuses more.
set -euo pipefail

usage() {
    sed -n '2,21p' "$0" | sed 's/^# \{0,1\}//' >&2
    exit 2
}

[ $# -ge 2 ] || usage
cmd=$1
dir=$2
queue=capture

server_env() {
    export CUPS_SERVER="$dir/cups.sock"
    unset PRINTER LPDEST
}

scheduler_pid() {
    local pid
    pid=$(cat "$dir/cupsd.pid" 2>/dev/null) || return 1
    [ -n "$pid" ] && [ -r "/proc/$pid/cmdline" ] || return 1
    # Only the scheduler started on this folder's configuration, never another process that reused the id.
    tr '\0' ' ' <"/proc/$pid/cmdline" | grep -qF -- "-c $dir/cupsd.conf" || return 1
    echo "$pid"
}

answers() {
    server_env
    lpstat -r 2>/dev/null | grep -q 'is running'
}

start() {
    local out=$1
    mkdir -p "$dir" "$out"
    dir=$(cd "$dir" && pwd)
    out=$(cd "$out" && pwd)
    if scheduler_pid >/dev/null; then
        echo "printserver: a scheduler already runs on $dir" >&2
        exit 1
    fi
    # Filters run as the unprivileged user lp: they must be able to reach the folder.
    chmod 755 "$dir"
    mkdir -p "$dir/spool" "$dir/tmp" "$dir/cache" "$dir/state" "$dir/logs" "$dir/ppd" "$dir/serverbin/backend"
    local sys=/usr/lib/cups
    for sub in filter daemon notifier monitor; do
        [ -e "$sys/$sub" ] && ln -sfn "$sys/$sub" "$dir/serverbin/$sub"
    done

    cat >"$dir/serverbin/backend/capture" <<'EOF'
#!/bin/sh
# Keeps each job as <out>/job-NNNNN.pdf; the file appears complete or not at all.
if [ $# -eq 0 ]; then
    echo 'direct capture "Unknown" "Capture to a folder"'
    exit 0
fi
out=${DEVICE_URI#capture:}
name=$(printf 'job-%05d.pdf' "$1")
part="$out/$name.part"
began=$(date +%s.%N)
if [ $# -ge 6 ]; then
    cat -- "$6" >"$part" || { rm -f "$part"; exit 1; }
else
    cat >"$part" || { rm -f "$part"; exit 1; }
fi
# A slow printer: the pace file in the server's folder holds seconds a job and seconds a page.
pace="${CUPS_SERVERROOT:-/nonexistent}/pace"
if [ -r "$pace" ]; then
    read -r job page <"$pace" || true
    pages=0
    case "${page:-0}" in
    0 | 0.0 | '') ;;
    *) pages=$(pdfinfo "$part" 2>/dev/null | sed -n 's/^Pages: *//p') ;;
    esac
    delay=$(awk -v j="${job:-0}" -v p="${page:-0}" -v n="${pages:-0}" 'BEGIN { printf "%.3f", j + p * n }')
    sleep "$delay"
fi
chmod 644 "$part"
# A raw queue hands the copy count to the backend (argument 4) instead of repeating the pages: a job for
# more than one copy says so beside its pages, before they appear.
if [ "${4:-1}" != 1 ]; then
    printf '%s\n' "$4" >"$out/$name.copies"
    chmod 644 "$out/$name.copies"
fi
mv -f "$part" "$out/$name"
# For a slow printer, when each job began and ended: how busy the printer was kept.
[ -r "$pace" ] && echo "$1 $began $(date +%s.%N)" >>"$out/pace.log"
exit 0
EOF
    # As root, a backend that only its owner may execute runs as root, so it can write anywhere.
    if [ "$(id -u)" -eq 0 ]; then
        chmod 0700 "$dir/serverbin/backend/capture"
    else
        chmod 0755 "$dir/serverbin/backend/capture"
        chmod 1777 "$out"
    fi

    cat >"$dir/cups-files.conf" <<EOF
ServerRoot $dir
StateDir $dir/state
CacheDir $dir/cache
RequestRoot $dir/spool
TempDir $dir/tmp
ServerBin $dir/serverbin
AccessLog $dir/logs/access_log
ErrorLog $dir/logs/error_log
PageLog $dir/logs/page_log
Printcap $dir/printcap
FileDevice No
EOF
    cat >"$dir/cupsd.conf" <<EOF
Listen $dir/cups.sock
Browsing No
WebInterface No
IdleExitTimeout 0
LogLevel warn
MaxLogSize 0
ErrorPolicy abort-job
PreserveJobHistory ${PRINTSERVER_JOB_HISTORY:-Yes}
${PRINTSERVER_MAX_JOBS:+MaxJobs $PRINTSERVER_MAX_JOBS}
DefaultAuthType None
<Location />
  Order allow,deny
  Allow all
</Location>
<Policy default>
  # As an ordinary user meets a shared server: other users' jobs are listed without their names and
  # owners, also to root.
  JobPrivateAccess @OWNER
  JobPrivateValues default
  <Limit All>
    Order deny,allow
  </Limit>
</Policy>
EOF
    touch "$dir/printcap"

    # Its own session, so that it outlives the shell that started it and takes no terminal signals.
    setsid cupsd -F -c "$dir/cupsd.conf" -s "$dir/cups-files.conf" </dev/null >>"$dir/logs/cupsd.out" 2>&1 &
    echo $! >"$dir/cupsd.pid"

    local i
    for i in $(seq 1 100); do
        answers && break
        if ! scheduler_pid >/dev/null; then
            echo "printserver: the scheduler did not start; see $dir/logs/" >&2
            cat "$dir/logs/cupsd.out" "$dir/logs/error_log" 2>/dev/null | tail -n 20 >&2
            exit 1
        fi
        sleep 0.1
    done
    if ! answers; then
        echo "printserver: the scheduler does not answer on $dir/cups.sock" >&2
        stop
        exit 1
    fi

    server_env
    # A raw queue: LibreOffice hands CUPS a PDF, which the backend keeps as it is.
    lpadmin -p "$queue" -E -v "capture:$out" >/dev/null 2>&1
    lpadmin -d "$queue" >/dev/null
    for i in $(seq 1 50); do
        lpstat -d 2>/dev/null | grep -q ": $queue\$" && break
        sleep 0.1
    done
    echo "CUPS_SERVER=$dir/cups.sock"
}

wait_idle() {
    local limit=${1:-60}
    server_env
    local end=$((SECONDS + limit))
    while [ $SECONDS -lt $end ]; do
        if [ -z "$(lpstat -o 2>/dev/null)" ]; then
            return 0
        fi
        sleep 0.1
    done
    echo "printserver: jobs still pending after ${limit}s:" >&2
    lpstat -o >&2 || true
    return 1
}

stop() {
    local pid i
    pid=$(scheduler_pid) || { rm -f "$dir/cupsd.pid"; return 0; }
    kill -TERM "$pid" 2>/dev/null || true
    for i in $(seq 1 50); do
        [ -d "/proc/$pid" ] || break
        sleep 0.1
    done
    [ -d "/proc/$pid" ] && kill -KILL "$pid" 2>/dev/null || true
    rm -f "$dir/cupsd.pid" "$dir/cups.sock"
}

case "$cmd" in
start)
    [ $# -ge 3 ] || usage
    start "$3"
    ;;
wait)
    wait_idle "${3:-60}"
    ;;
stop)
    stop
    ;;
disable | enable | reject | accept)
    server_env
    "cups$cmd" "$queue"
    ;;
remove)
    server_env
    lpadmin -x "$queue"
    ;;
add-queue)
    [ $# -ge 4 ] || usage
    server_env
    mkdir -p "$4"
    out=$(cd "$4" && pwd)
    [ "$(id -u)" -eq 0 ] || chmod 1777 "$out"
    lpadmin -p "$3" -E -v "capture:$out" >/dev/null 2>&1
    ;;
hold)
    server_env
    lpadmin -p "$queue" -o job-hold-until-default=indefinite
    ;;
release)
    server_env
    lpadmin -p "$queue" -o job-hold-until-default=no-hold
    for job in $(lpstat -o "$queue" 2>/dev/null | awk '{print $1}'); do
        lp -i "$job" -H resume >/dev/null 2>&1 || true
    done
    ;;
pace)
    [ $# -ge 3 ] || usage
    printf '%s %s\n' "$3" "${4:-0}" >"$dir/pace.part"
    chmod 644 "$dir/pace.part"
    mv -f "$dir/pace.part" "$dir/pace"
    ;;
*)
    usage
    ;;
esac
