#!/usr/bin/env bash
# The program started where no desktop can be reached: each time exactly one sentence on standard
# error, nothing on standard output, exit status 1, and no message of the window library.
#
# Usage: no_display_e2e.sh PROGRAM
set -euo pipefail
program=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# A display number with no server behind it.
free_display=
for n in $(seq 9000 9050); do
    if [ ! -e "/tmp/.X$n-lock" ] && [ ! -e "/tmp/.X11-unix/X$n" ]; then
        free_display=":$n"
        break
    fi
done
[ -n "$free_display" ] || { echo "FAIL: no free display number" >&2; exit 1; }

not_set="Unveilo needs a desktop session: no display was found (DISPLAY is not set)."
cases=(
    "unset|$not_set"
    "|$not_set"
    "$free_display|Unveilo needs a desktop session: the display \"$free_display\" cannot be opened."
)
for entry in "${cases[@]}"; do
    display=${entry%%|*}
    expected=${entry#*|}
    if [ "$display" = unset ]; then
        environment=(env -u DISPLAY)
    else
        environment=(env DISPLAY="$display")
    fi
    status=0
    timeout 20 "${environment[@]}" UNVEILO_DRIVE_E="$work" "$program" \
        >"$work/stdout" 2>"$work/stderr" </dev/null || status=$?
    [ "$status" = 1 ] || { echo "FAIL: DISPLAY=$display: exit status $status, not 1" >&2; exit 1; }
    [ ! -s "$work/stdout" ] || { echo "FAIL: DISPLAY=$display: standard output:" >&2;
        cat "$work/stdout" >&2; exit 1; }
    [ "$(cat "$work/stderr")" = "$expected" ] || {
        echo "FAIL: DISPLAY=$display: standard error is not '$expected' but:" >&2
        cat "$work/stderr" >&2
        exit 1
    }
    echo "DISPLAY=$display: '$expected', exit 1: ok"
done
