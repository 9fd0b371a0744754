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

# The window's client area, once it has been fitted to the first frame. Without a window manager
# the window sits at -1,-1, one pixel off the screen: it is moved fully onto it for screenshots.
wait_for_size() {
    for _ in $(seq 300); do
        eval "$(xdotool getwindowgeometry --shell "$window")"
        if [ "$WIDTH" = 640 ] && [ "$HEIGHT" = 400 ]; then
            xdotool windowmove "$window" 10 10
            return 0
        fi
        sleep 0.1
    done
    fail "window is ${WIDTH}x${HEIGHT}, not 640x400"
}

screen() {
    eval "$(xdotool getwindowgeometry --shell "$window")"
    xwd -root -silent | convert xwd:- -crop "${WIDTH}x${HEIGHT}+${X}+${Y}" +repage ppm:- \
        >"$work/screen.ppm"
    "$tools/unveilo_screen_decode" "$work/screen.ppm" >"$work/screen.txt"
}

# Waits until the decoded screen has a line matching the pattern (the composer runs about every
# 32 ms; Wine is slower to start).
expect_line() {
    for _ in $(seq 100); do
        screen
        grep -qE "$1" "$work/screen.txt" && return 0
        sleep 0.2
    done
    fail "no line matches /$1/"
}

wait_exit() {
    local status
    for _ in $(seq 300); do
        if ! kill -0 "$program_pid" 2>/dev/null; then
            wait "$program_pid" && status=0 || status=$?
            [ "$status" = 0 ] || fail "exit status $status, expected 0"
            return 0
        fi
        sleep 0.1
    done
    fail "the program did not end"
}

# Run 1: what the window shows, typing, and the close box.
start_program
wait_for_size
[ "$(xdotool getwindowname "$window")" = "Unveilo demo" ] || fail "title is not 'Unveilo demo'"
expect_line '^Scrolling line 30$'
expect_line '^Type keys, Esc ends:'
grep -q '^Scrolling line 1$' "$work/screen.txt" && fail "the view did not scroll"
[ "$(sed -n 25p "$work/screen.txt")" = "" ] || fail "row 25 is not empty"
xdotool type --window "$window" --delay 80 'hello'
expect_line '^Type keys, Esc ends: hello'
"$tools/unveilo_x11_close" "$window"
wait_exit
echo "run 1: window 640x400, title, scrolling, typing and the close box: ok"

# Run 2: Esc ends the demo with END's closing prompt; a key press then ends the process.
start_program
wait_for_size
expect_line '^Type keys, Esc ends:'
xdotool key --window "$window" Escape
expect_line '^Press any key to continue'
xdotool key --window "$window" space
wait_exit
echo "run 2: closing prompt and key: ok"
