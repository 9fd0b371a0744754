#!/usr/bin/env bash
# Idle cost and key-to-screen latency of the demo program in a real window under Xvfb.
#   CPU: share of one core used by the whole process over 10 s while it waits for a key, at the
#        demo's key prompt and at END's closing prompt; with the waits as built and with
#        UNVEILO_LITERAL_SPIN=1 (the zero-length-sleep polling they replace).
#   Latency: milliseconds from the key event to the presentation of the frame that shows the
#        echoed character, measured inside the program (UNVEILO_LATENCY_LOG), over 220 keys.
# Usage: bench/idle_latency.sh [DEMO]   (default build/linux/tools/unveilo_demo)
set -euo pipefail
demo=$(realpath "${1:-build/linux/tools/unveilo_demo}")
source "$(dirname "$0")/../tools/e2e/x11_session.sh"
x11_start 141

start_demo() {
    env "$@" "$demo" &
    demo_pid=$!
    pids+=("$demo_pid")
    x11_find_window "Unveilo demo"
    sleep 2 # start-up, the first frames, the window fitted to them
}

# CPU seconds (user + system) of a process, from /proc.
cpu_seconds() {
    awk -v hz="$(getconf CLK_TCK)" '{ printf "%.3f", ($14 + $15) / hz }' "/proc/$1/stat"
}

measure_cpu() { # label
    local before after
    before=$(cpu_seconds "$demo_pid")
    sleep 10
    after=$(cpu_seconds "$demo_pid")
    awk -v a="$before" -v b="$after" -v l="$1" \
        'BEGIN { printf "%-46s %6.2f %% of one core\n", l, (b - a) * 10 }'
}

for mode in built literal; do
    settings=()
    [ "$mode" = literal ] && settings=(UNVEILO_LITERAL_SPIN=1)
    start_demo "${settings[@]}"
    measure_cpu "idle at the key prompt ($mode waits)"
    xdotool key --window "$window" Escape
    sleep 1
    measure_cpu "idle at the closing prompt ($mode waits)"
    xdotool key --window "$window" space
    wait "$demo_pid" || true
done

start_demo UNVEILO_LATENCY_LOG="$work/latency.log"
for _ in $(seq 220); do
    xdotool key --window "$window" a
    sleep 0.06
done
sleep 1
kill "$demo_pid"
sort -n "$work/latency.log" | awk '
    { v[NR] = $1 }
    END {
        if (NR == 0) { print "no latency samples"; exit 1 }
        p50 = v[int((NR - 1) * 0.50) + 1]; p95 = v[int((NR - 1) * 0.95) + 1]
        printf "key to screen over %d keys: p50 %d ms, p95 %d ms, max %d ms\n", NR, p50, p95, v[NR]
    }'
