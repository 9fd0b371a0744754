#!/usr/bin/env bash
# The recovery tool at its drive-letter prompt, in a real window under Xvfb:
#   launch to window: milliseconds from starting the process until xdotool finds its window
#        (searched back to back, every 10-20 ms), over 5 starts;
#   launch to prompt: milliseconds from starting the process until a screenshot of its window
#        shows "Enter USB Drive letter : " (screenshots are taken back to back, about every
#        30-60 ms, so the figure is an upper bound by that much), over 5 starts;
#   idle CPU: share of one core used by the whole process over 10 s while the prompt waits.
# Usage: bench/recovery_prompt.sh [PROGRAM [HOST-TOOLS-DIR]]
#        (default build/linux/unveilo and build/linux/tools)
set -euo pipefail
program=$(realpath "${1:-build/linux/unveilo}")
tools=$(realpath "${2:-build/linux/tools}")
source "$(dirname "$0")/../tools/e2e/x11_session.sh"
x11_start 161
title="Unveilo - Created by the Unveilo project"

now_ms() { date +%s%3N; }
cpu_seconds() {
    awk -v hz="$(getconf CLK_TCK)" '{ printf "%.3f", ($14 + $15) / hz }' "/proc/$1/stat"
}
at_prompt() {
    local id geometry
    id=$(xdotool search --name "^$title\$" 2>/dev/null | head -n 1) || return 1
    [ -n "$id" ] || return 1
    [ -n "$window_ms" ] || window_ms=$(($(now_ms) - start))
    eval "$(xdotool getwindowgeometry --shell "$id" 2>/dev/null)" || return 1
    [ "$WIDTH" = 640 ] && [ "$HEIGHT" = 400 ] || return 1
    # Without a window manager the window sits at -1,-1: the first column is off the screen.
    xwd -root -silent 2>/dev/null |
        convert xwd:- -crop "639x399+0+0" +repage -background black -splice 1x1 ppm:- \
            2>/dev/null | "$tools/unveilo_screen_decode" /dev/stdin 2>/dev/null |
        grep -q 'nter USB Drive letter : '
}

times=()
window_times=()
for run in 1 2 3 4 5; do
    window_ms=
    start=$(now_ms)
    "$program" &
    pid=$!
    pids+=("$pid")
    until at_prompt; do
        kill -0 "$pid" 2>/dev/null || { echo "the program ended" >&2; exit 1; }
        [ $(($(now_ms) - start)) -lt 30000 ] || { echo "no prompt after 30 s" >&2; exit 1; }
    done
    times+=($(($(now_ms) - start)))
    window_times+=("$window_ms")
    if [ "$run" = 5 ]; then
        sleep 2
        before=$(cpu_seconds "$pid")
        sleep 10
        after=$(cpu_seconds "$pid")
        awk -v a="$before" -v b="$after" \
            'BEGIN { printf "idle at the drive-letter prompt: %.2f %% of one core (10 s)\n", (b - a) * 10 }'
    fi
    kill "$pid"
    wait "$pid" 2>/dev/null || true
done
summary() { # label, then the times
    local label=$1
    shift
    printf '%s\n' "$@" | sort -n | awk -v l="$label" '
        { v[NR] = $1 }
        END { printf "launch to %s over %d starts: median %d ms, min %d ms, max %d ms\n",
                     l, NR, v[int((NR + 1) / 2)], v[1], v[NR] }'
}
summary window "${window_times[@]}"
summary prompt "${times[@]}"
