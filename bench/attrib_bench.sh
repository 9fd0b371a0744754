#!/usr/bin/env bash
# ATTRIB -H -R -S /S /D over 100 000 files and folders marked through user.DOSATTRIB:
#   unveilo-cmd            the companion, as the tool runs it;
#   bare loop              the same system calls in plain C (bench/attrib_bare_loop.c): the limit;
#   find -exec setfattr    what a Linux user would type by hand.
# Each is timed ROUNDS times (default 3), interleaved, on a freshly re-marked tree; the best
# time of each counts.
# Usage: bench/attrib_bench.sh [UNVEILO_CMD] [WORK_DIR]
#        (defaults: build/linux/unveilo-cmd, a new folder under ${TMPDIR:-/tmp})
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
cmd=$(realpath "${1:-build/linux/unveilo-cmd}")
work=$(mktemp -d "${2:-${TMPDIR:-/tmp}}/unveilo-attrib-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
rounds=${ROUNDS:-3}
folders=1000 # 1 000 folders of 99 files: 100 000 entries
files=99

cc -O2 -o "$work/bare" "$here/attrib_bare_loop.c"
tree="$work/stick"
"$work/bare" make "$tree" "$folders" "$files"
entries=$(find "$tree" -mindepth 1 | wc -l)
echo "tree: $entries files and folders, each user.DOSATTRIB=0x26"

now() { date +%s.%N; }
# Seconds one run of a command takes on a freshly re-marked tree.
time_once() {
    local start end
    "$work/bare" reset "$tree"
    sync
    start=$(now)
    "$@" >/dev/null 2>"$work/stderr" || { cat "$work/stderr" >&2; exit 1; }
    end=$(now)
    awk -v a="$start" -v b="$end" 'BEGIN { printf "%.3f", b - a }'
}
smaller() { awk -v t="$1" -v b="$2" 'BEGIN { print (b == "" || t < b) ? t : b }'; }

export UNVEILO_DRIVE_X="$tree"
run_cmd() { "$cmd" /c attrib -h -r -s /s /d 'X:\*.* '; }
run_bare() { "$work/bare" clear "$tree"; }
run_find() { find "$tree" -mindepth 1 -exec setfattr -n user.DOSATTRIB -v '"0x20"' {} +; }

# The companion must do the job: afterwards no entry keeps H or S.
time_once run_cmd >/dev/null
left=$(getfattr -R -n user.DOSATTRIB --absolute-names "$tree" 2>/dev/null | grep -c '="0x26"' || true)
[[ $left == 0 ]] || { echo "unveilo-cmd left $left entries marked" >&2; exit 1; }

# Rounds interleave the three, so that a busy moment of the machine does not fall on one alone.
t_cmd="" t_bare="" t_find=""
for ((round = 0; round < rounds; round++)); do
    t_cmd=$(smaller "$(time_once run_cmd)" "$t_cmd")
    t_bare=$(smaller "$(time_once run_bare)" "$t_bare")
    t_find=$(smaller "$(time_once run_find)" "$t_find")
done
printf '%-22s %8.3f s\n' "unveilo-cmd" "$t_cmd" "bare C loop" "$t_bare" "find -exec setfattr" "$t_find"
awk -v c="$t_cmd" -v b="$t_bare" -v f="$t_find" 'BEGIN {
    printf "unveilo-cmd / bare loop: %.2fx   find -exec setfattr / bare loop: %.2fx\n", c / b, f / b }'
