#!/usr/bin/env bash
# End-to-end test of what the window shows when nothing new is composed: a program that prints
# one line and ends at once (its only frames are composed before the window has its final size),
# and the window uncovered after another window lay over it.
# Usage: window_e2e.sh PRINT-END-PROGRAM HOST-TOOLS-DIR   (PROGRAM ending in .exe runs under Wine)
set -euo pipefail
program=$(realpath "$1")
tools=$(realpath "$2")
here=$(cd "$(dirname "$0")" && pwd)
fail() { echo "FAIL: $*" >&2; [ -f "$work/screen.txt" ] && cat -A "$work/screen.txt" >&2; exit 1; }

source "$here/x11_session.sh"
x11_start 121 || fail "no X display"

# The window as it is, where it is. Without a window manager it sits at -1,-1: the pixel row
# and column off the screen are replaced by black, which costs nothing to text that starts with a
# space (the closing prompt's first letter may be read as unknown). Not moving the window matters: a move onto the screen is an expose, which would redraw
# the window and hide a wrong first picture.
screen_in_place() {
    eval "$(xdotool getwindowgeometry --shell "$window")"
    local x=$X y=$Y w=$WIDTH h=$HEIGHT left=0 top=0
    if [ "$x" -lt 0 ]; then left=$((-x)); w=$((w + x)); x=0; fi
    if [ "$y" -lt 0 ]; then top=$((-y)); h=$((h + y)); y=0; fi
    xwd -root -silent | convert xwd:- -crop "${w}x${h}+${x}+${y}" +repage \
        -background black -gravity northwest -splice "${left}x${top}" ppm:- >"$work/screen.ppm"
    "$tools/unveilo_screen_decode" "$work/screen.ppm" >"$work/screen.txt"
}

expect_rows() {
    for _ in $(seq 50); do
        screen_in_place
        if [ "$(sed -n 1p "$work/screen.txt")" = " One line, then END." ] &&
            sed -n 25p "$work/screen.txt" | grep -qE '^.ress any key to continue$'; then
            return 0
        fi
        sleep 0.2
    done
    fail "$1: the line is not on row 1 or the closing prompt is not on row 25"
}

if [[ "$program" == *.exe ]]; then
    "$here/../wine-run.sh" "$program" &
else
    "$program" &
fi
program_pid=$!
pids+=("$program_pid")
x11_find_window "Unveilo print and end" || fail "the window never appeared"
for _ in $(seq 100); do
    eval "$(xdotool getwindowgeometry --shell "$window")"
    [ "$WIDTH" = 640 ] && [ "$HEIGHT" = 400 ] && break
    sleep 0.1
done
# Let the presenter settle: whatever it draws now is all it will draw.
sleep 1
expect_rows "first picture"
echo "print and end: line on row 1, closing prompt on row 25: ok"

# Another window over ours, then gone: what it covered must be drawn again.
xmessage -geometry 640x400+0+0 -bg white -fg white "cover" &
cover_pid=$!
pids+=("$cover_pid")
for _ in $(seq 100); do
    xdotool search --class xmessage >/dev/null 2>&1 && break
    sleep 0.1
done
sleep 0.5
kill "$cover_pid"
wait "$cover_pid" 2>/dev/null || true
sleep 0.5
expect_rows "after the cover was removed"
echo "expose: the window was drawn again after being uncovered: ok"

xdotool key --window "$window" space
for _ in $(seq 100); do
    if ! kill -0 "$program_pid" 2>/dev/null; then
        wait "$program_pid" && status=0 || status=$?
        [ "$status" = 0 ] || fail "exit status $status, expected 0"
        echo "a key ended the program with status 0: ok"
        exit 0
    fi
    sleep 0.1
done
fail "the program did not end"
