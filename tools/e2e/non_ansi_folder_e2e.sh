#!/usr/bin/env bash
# The Windows program in a folder whose name lies outside the ANSI code page ("Загрузки", as a
# Cyrillic user's Downloads folder on an English Windows), started under Wine from another
# working directory, as a shortcut would: it must find datafile.dat beside itself and reach the
# drive-letter prompt. Then the close box ends it with status 0.
#
# Usage: non_ansi_folder_e2e.sh PROGRAM.exe HOST-TOOLS-DIR   (datafile.dat beside PROGRAM.exe)
set -euo pipefail
program=$(realpath "$1")
tools=$(realpath "$2")
here=$(cd "$(dirname "$0")" && pwd)
title="Unveilo - Created by the Unveilo project"
fail() { echo "FAIL: $*" >&2; [ -f "$work/screen.txt" ] && cat "$work/screen.txt" >&2; exit 1; }

source "$here/x11_session.sh"
x11_start 121 || fail "no X display"

folder="$work/Загрузки/unveilo"
mkdir -p "$folder" "$work/elsewhere"
cp "$program" "$folder/unveilo.exe"
cp "$(dirname "$program")/datafile.dat" "$folder/"

(cd "$work/elsewhere" && exec "$here/../wine-run.sh" "$folder/unveilo.exe") &
program_pid=$!
pids+=("$program_pid")
x11_find_window "$title" || fail "the window never appeared"
x11_wait_for_size
x11_expect_line '^Enter USB Drive letter : '
grep -q 'Datafile.dat does not found' "$work/screen.txt" && fail "datafile.dat was not found"
if [ -n "${UNVEILO_E2E_KEEP:-}" ]; then
    mkdir -p "$UNVEILO_E2E_KEEP"
    convert "$work/screen.ppm" "$UNVEILO_E2E_KEEP/non-ansi-folder-prompt.png"
fi
"$tools/unveilo_x11_close" "$window"
x11_wait_exit
echo "started in $folder from $work/elsewhere: datafile.dat found, drive prompt, close box," \
    "exit 0: ok"
