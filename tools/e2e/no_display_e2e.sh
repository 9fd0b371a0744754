#!/usr/bin/env bash
# The program started where no desktop can be reached: each time exactly one sentence on standard
# error, nothing on standard output, exit status 1, and no message of the window library. Then a
# desktop that goes away under the running program: again one sentence and status 1, at once.
#
# Usage: no_display_e2e.sh PROGRAM
set -euo pipefail
program=$(realpath -s "$1")
here=$(cd "$(dirname "$0")" && pwd)
source "$here/x11_session.sh"

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

# The display's server ends while the program waits at its prompt. Left to the system library,
# the process would run its exit handlers under the running threads, which could hang for good.
fail() { echo "FAIL: display lost: $*" >&2; exit 1; }
x11_start || fail "no X display"
(cd "$work" && exec env UNVEILO_DRIVE_E="$work" "$program" >"$work/stdout" 2>"$work/stderr") &
program_pid=$!
pids+=("$program_pid")
x11_find_window "Unveilo - Created by the Unveilo project" || fail "no window"
kill "$x11_server_pid"
status=
for _ in $(seq 100); do
    kill -0 "$program_pid" 2>/dev/null || { wait "$program_pid" && status=0 || status=$?; break; }
    sleep 0.1
done
[ -n "$status" ] || fail "the program did not end within 10 s"
[ "$status" = 1 ] || fail "exit status $status, not 1"
expected="Unveilo lost its desktop session: the display \"$DISPLAY\" went away."
[ "$(cat "$work/stderr")" = "$expected" ] || {
    echo "FAIL: display lost: standard error is not '$expected' but:" >&2
    cat "$work/stderr" >&2
    exit 1
}
echo "display $DISPLAY lost at the prompt: '$expected', exit 1: ok"
