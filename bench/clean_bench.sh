#!/usr/bin/env bash
# The clean-up against the attribute sweep on one stick of 100 000 files, 1 000 entries of them
# in the root (an infection's shortcuts, scripts and autorun.inf among them, and a hiding folder
# holding the user's folders), in one run:
#   attrib sweep   unveilo-cmd's ATTRIB -H -R -S /S /D over the whole stick, as the tool runs it
#                  first, on a tree freshly marked hidden and system;
#   clean-up       unveilo-clean on the same stick, as the batch starts it; `--undo` (not timed)
#                  puts the stick back before the next round.
# Each is timed ROUNDS times (default 3), interleaved; the best time of each counts. The target is
# a clean-up under a tenth of the sweep: the script says whether it was met and exits 1 if not.
# Usage: bench/clean_bench.sh [BUILD_DIR] [WORK_DIR]
#        (defaults: build/linux, a new folder under ${TMPDIR:-/tmp})
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(realpath "${1:-build/linux}")
work=$(mktemp -d "${2:-${TMPDIR:-/tmp}}/unveilo-clean-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
rounds=${ROUNDS:-3}
stick=$work/stick

# The stick: 889 files, 50 shortcuts and 10 scripts in the root, autorun.inf, and 50 folders that
# hold the rest, among them a hiding folder named with a no-break space.
python3 - "$here/../tests/stick" "$stick" <<'EOF'
import os
import sys
sys.dont_write_bytecode = True
sys.path.insert(0, sys.argv[1])
import make_lnk

root = sys.argv[2]
os.makedirs(root)
total = 0
def touch(path, text=b"x"):
    global total
    with open(path, "wb") as out:
        out.write(text)
    total += 1

for i in range(889):
    touch(os.path.join(root, "photo-%04d.jpg" % i))
for i in range(50):
    # Half of them stand in for a folder and start a script, half are the user's own.
    name = "Folder %02d" % i
    if i % 2 == 0:
        data = make_lnk.shortcut(target="C:\\Windows\\System32\\cmd.exe",
                                 arguments="/c start s%d.vbs&start explorer \"%s\"&exit" % (i % 10, name))
    else:
        data = make_lnk.shortcut(target="C:\\Users\\me\\Documents\\report %d.docx" % i)
    touch(os.path.join(root, name + ".lnk"), data)
for i in range(10):
    touch(os.path.join(root, "s%d.vbs" % i), b"WScript.Echo 1")
touch(os.path.join(root, "autorun.inf"), b"[autorun]\r\nopen=wscript.exe s0.vbs\r\n")
folders = [os.path.join(root, "Folder %02d" % i) for i in range(0, 50, 2)]
folders.append(os.path.join(root, "\u00a0"))
for i in range(49 - len(folders) + 1):
    folders.append(os.path.join(root, "Archive %02d" % i))
left = 100000 - total
for n, folder in enumerate(folders):
    os.makedirs(folder, exist_ok=True)
    share = left // (len(folders) - n)
    for k in range(share):
        sub = os.path.join(folder, "part-%02d" % (k // 1000))
        os.makedirs(sub, exist_ok=True)
        touch(os.path.join(sub, "file-%05d.dat" % k))
    left -= share
for i in range(10):
    os.makedirs(os.path.join(root, "\u00a0", "Hidden %d" % i), exist_ok=True)
print("stick: %d files, %d entries in the root" % (total, len(os.listdir(root))))
EOF

now() { date +%s.%N; }
seconds() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", b - a }'; }
smaller() { awk -v t="$1" -v b="$2" 'BEGIN { print (b == "" || t < b) ? t : b }'; }

export UNVEILO_DRIVE_X="$stick"
mark() { find "$stick" -mindepth 1 -exec setfattr -n user.DOSATTRIB -v '"0x26"' {} +; }
time_sweep() {
    mark
    sync
    local start end
    start=$(now)
    "$build/unveilo-cmd" /c attrib -h -r -s /s /d 'X:\*.* ' >/dev/null
    end=$(now)
    seconds "$start" "$end"
}
time_clean() {
    sync
    local start end
    start=$(now)
    "$build/unveilo-clean" X: >"$work/clean.out"
    end=$(now)
    grep -q '^Unveilo clean-up finished\.$' "$work/clean.out" || { cat "$work/clean.out" >&2; exit 1; }
    "$build/unveilo-clean" --undo X: >"$work/undo.out" || { cat "$work/undo.out" >&2; exit 1; }
    seconds "$start" "$end"
}

# The clean-up must do its job on this stick: 25 shortcuts, 10 scripts and autorun.inf.
"$build/unveilo-clean" X: >"$work/clean.out"
moved=$(find "$stick/UNVEILO-QUARANTINE" -name '*.quarantined' | wc -l)
[ "$moved" = 36 ] || { echo "the clean-up quarantined $moved entries, not 36" >&2; exit 1; }
"$build/unveilo-clean" --undo X: >/dev/null

t_sweep="" t_clean=""
for ((round = 0; round < rounds; round++)); do
    t_sweep=$(smaller "$(time_sweep)" "$t_sweep")
    t_clean=$(smaller "$(time_clean)" "$t_clean")
done
printf '%-14s %8.3f s\n' "attrib sweep" "$t_sweep" "clean-up" "$t_clean"
awk -v s="$t_sweep" -v c="$t_clean" 'BEGIN {
    ratio = c / s
    printf "clean-up / sweep: %.3f (target: under 0.100): %s\n", ratio,
           ratio < 0.1 ? "met" : "NOT met"
    exit ratio < 0.1 ? 0 : 1 }'
