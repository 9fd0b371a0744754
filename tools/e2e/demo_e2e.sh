#!/usr/bin/env bash
# End-to-end test of the demo program in a real window under Xvfb: the window's size and title,
# text read back from screenshots, typing with xdotool, the close box, and END's closing prompt.
# Usage: demo_e2e.sh PROGRAM HOST-TOOLS-DIR   (PROGRAM ending in .exe runs under Wine)
set -euo pipefail
program=$(realpath "$1")
tools=$(realpath "$2")
here=$(cd "$(dirname "$0")" && pwd)
fail() { echo "FAIL: $*" >&2; [ -f "$work/screen.txt" ] && cat "$work/screen.txt" >&2; exit 1; }

source "$here/x11_session.sh"
x11_start 91 || fail "no X display"

start_program() {
    if [[ "$program" == *.exe ]]; then
        "$here/../wine-run.sh" "$program" &
    else
        "$program" &
    fi
    program_pid=$!
    pids+=("$program_pid")
    x11_find_window "Unveilo demo" || fail "the window never appeared"
}

# Run 1: what the window shows, typing, and the close box.
start_program
x11_wait_for_size
[ "$(xdotool getwindowname "$window")" = "Unveilo demo" ] || fail "title is not 'Unveilo demo'"
x11_expect_line '^Scrolling line 30$'
x11_expect_line '^Type keys, Esc ends:'
grep -q '^Scrolling line 1$' "$work/screen.txt" && fail "the view did not scroll"
[ "$(sed -n 25p "$work/screen.txt")" = "" ] || fail "row 25 is not empty"
xdotool type --window "$window" --delay 80 'hello'
x11_expect_line '^Type keys, Esc ends: hello'
"$tools/unveilo_x11_close" "$window"
x11_wait_exit
echo "run 1: window 640x400, title, scrolling, typing and the close box: ok"

# Run 2: Esc ends the demo with END's closing prompt; a key press then ends the process.
start_program
x11_wait_for_size
x11_expect_line '^Type keys, Esc ends:'
xdotool key --window "$window" Escape
x11_expect_line '^Press any key to continue'
xdotool key --window "$window" space
x11_wait_exit
echo "run 2: closing prompt and key: ok"
