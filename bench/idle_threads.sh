#!/usr/bin/env bash
# Where the recovery tool spends its idle time at the drive-letter prompt, in a real window under
# Xvfb: per thread, the share of one core used (utime + stime of /proc/PID/task/TID/stat) and
# the wake-ups per second (voluntary + involuntary context switches of .../status), over 10 s,
# and the same for the whole process.
#
# Threads are named by their comm where it differs from the program's (the run-time names its
# threads; Mesa names its llvmpipe workers); a build whose threads carry no names is labelled by
# start order: the initial thread is the window thread, then the program, timer and display
# threads in the order start-up creates them.
# Usage: bench/idle_threads.sh [PROGRAM [HOST-TOOLS-DIR [SECONDS]]]
#        (default build/linux/unveilo, build/linux/tools, 10)
set -euo pipefail
program=$(realpath "${1:-build/linux/unveilo}")
tools=$(realpath "${2:-build/linux/tools}")
seconds=${3:-10}
source "$(dirname "$0")/../tools/e2e/x11_session.sh"
fail() { echo "FAIL: $*" >&2; exit 1; }
x11_start 171

"$program" &
program_pid=$!
pids+=("$program_pid")
x11_find_window "Unveilo - Created by the Unveilo project"
x11_wait_for_size
x11_expect_line 'nter USB Drive letter : '
sleep 2 # the frames after the prompt, the window settled

# One line per thread: tid, comm, CPU ticks, context switches.
sample() {
    local task tid stat comm ticks switches
    for task in /proc/"$program_pid"/task/*; do
        tid=${task##*/}
        stat=$(cat "$task/stat" 2>/dev/null) || continue
        comm=${stat#*(}
        comm=${comm%)*}
        # Fields after the closing parenthesis: state is field 3, utime 14, stime 15.
        ticks=$(awk '{ print $12 + $13 }' <<<"${stat##*) }")
        switches=$(awk '/^(non)?voluntary_ctxt_switches/ { n += $2 } END { print n }' \
            "$task/status" 2>/dev/null) || continue
        printf '%s %s %s %s\n' "$tid" "${comm// /_}" "$ticks" "$switches"
    done
}

sample >"$work/before"
sleep "$seconds"
sample >"$work/after"

process_comm=$(cat "/proc/$program_pid/comm")
# Threads that carry the run-time's names need no labelling by start order.
named=0
grep -q ' display ' "$work/after" && named=1
awk -v hz="$(getconf CLK_TCK)" -v s="$seconds" -v pid="$program_pid" -v pcomm="$process_comm" \
    -v named="$named" '
    NR == FNR { ticks[$1] = $3; switches[$1] = $4; next }
    ($1 in ticks) {
        tid = $1; name = $2
        if (tid == pid) name = "window"
        else if (name == pcomm && named) name = "other"
        else if (name == pcomm) {
            unnamed++
            name = unnamed == 1 ? "program" : unnamed == 2 ? "timer" : unnamed == 3 ? "display" \
                                                                   : "other-" unnamed
        }
        cpu = ($3 - ticks[tid]) * 100 / hz / s
        wake = ($4 - switches[tid]) / s
        printf "%-16s %8d %8.2f %10.1f\n", name, tid, cpu, wake
        total_cpu += cpu; total_wake += wake
    }
    END { printf "%-16s %8s %8.2f %10.1f\n", "whole process", "", total_cpu, total_wake }
' "$work/before" <(sort -n "$work/after") | {
    printf '%-16s %8s %8s %10s\n' thread tid "CPU %" "wakes/s"
    cat
}
kill "$program_pid"
