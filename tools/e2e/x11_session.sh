# Sourced by the scripts that drive a program in a real window: an Xvfb display of their own and
# the program's window. Sourcing it also gives the script a scratch folder `work` and an array
# `pids` of background processes, both cleared away when the script exits.

work=$(mktemp -d)
pids=()
x11_cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    rm -rf "$work"
}
trap x11_cleanup EXIT

# Starts an Xvfb of its own and exports DISPLAY. Xvfb picks a free display number itself and
# writes it to the descriptor given: two scripts that looked for a free number at the same moment
# would pick the same one, and the one whose server lost would run its windows on the other's
# display until that script ended and took the display with it. ($1, a first number to try, is
# kept for the callers; Xvfb's own choice replaces it.) -noreset: by default the server resets
# when its last client leaves, and a program started in that moment (the next run of a test, right
# after the last one ended) cannot open the display.
x11_start() {
    local display_file=$work/xvfb-display xvfb_pid
    Xvfb -displayfd 3 -noreset -screen 0 1280x1024x24 -nolisten tcp 3>"$display_file" \
        >"$work/xvfb.log" 2>&1 &
    xvfb_pid=$!
    pids+=("$xvfb_pid")
    for _ in $(seq 100); do
        [ -s "$display_file" ] && break
        kill -0 "$xvfb_pid" 2>/dev/null || { echo "Xvfb did not start" >&2; return 1; }
        sleep 0.1
    done
    [ -s "$display_file" ] || { echo "Xvfb chose no display" >&2; return 1; }
    export DISPLAY=":$(head -n 1 "$display_file")"
    x11_server_pid=$xvfb_pid
    for _ in $(seq 100); do xdpyinfo >/dev/null 2>&1 && return 0; sleep 0.1; done
    echo "Xvfb did not start" >&2
    return 1
}

# Empty while the X server runs; otherwise a line saying that it ended, and its last words.
x11_server_gone() {
    kill -0 "$x11_server_pid" 2>/dev/null && return 0
    echo "the X server (Xvfb, pid $x11_server_pid) has ended; its log ends:"
    tail -n 15 "$work/xvfb.log"
}

# Sets `window` to the first window titled exactly $1, waiting up to a minute (Wine starts slowly).
x11_find_window() {
    window=
    for _ in $(seq 600); do
        window=$(xdotool search --name "^$1\$" 2>/dev/null | head -n 1 || true)
        [ -n "$window" ] && return 0
        sleep 0.1
    done
    echo "the window '$1' never appeared" >&2
    return 1
}

# The helpers below need the sourcing script to define `fail MESSAGE` (which exits), to set
# `tools` (the folder of unveilo_screen_decode), and to keep `window` and `program_pid` current.

# Waits until the window's client area has been fitted to the first frame (640x400). Without a
# window manager the window sits at -1,-1, one pixel off the screen: it is moved onto it so that
# screenshots see all of it.
x11_wait_for_size() {
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

# Decodes the window's text into $work/screen.txt. A window that goes away during the capture
# (the console of a command that just ended) can make the capture fail: it is taken again.
x11_screen() {
    for _ in 1 2 3 4 5; do
        eval "$(xdotool getwindowgeometry --shell "$window")"
        if xwd -root -silent 2>/dev/null |
            convert xwd:- -crop "${WIDTH}x${HEIGHT}+${X}+${Y}" +repage ppm:- \
                >"$work/screen.ppm" 2>/dev/null; then
            "$tools/unveilo_screen_decode" "$work/screen.ppm" >"$work/screen.txt" && return 0
        fi
        sleep 0.2
    done
    fail "no screenshot"
}

# Waits until the decoded screen has a line matching the pattern $1, for about $2 seconds (30 by
# default: the composer runs about every 32 ms, but Wine is slow to start).
x11_expect_line() {
    local tries=$(( ${2:-30} * 5 ))
    for _ in $(seq "$tries"); do
        x11_screen
        grep -qE "$1" "$work/screen.txt" && return 0
        sleep 0.2
    done
    fail "no line matches /$1/"
}

# Waits up to 30 s for the program to end, and fails unless its exit status is 0.
x11_wait_exit() {
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
