#!/bin/sh
# Runs a QtTest program under Wine and prints its report. QtTest on Windows sends its report to the
# debugger channel when standard output is no console, so the report goes to a file and is printed here.
# Usage: wine-qtest.sh PROGRAM [ARGUMENTS]
program=$1
shift
report=$(mktemp "${TMPDIR:-/tmp}/qtest-report.XXXXXX") || exit 1
wine "$program" "$@" -o "Z:$report,txt"
status=$?
cat "$report"
rm -f "$report"
exit $status
