#!/usr/bin/env bash
# End-to-end test of the recovery tool in a real window under Xvfb, started as a user starts it,
# its window read back through screenshots and typed at with xdotool.
#
#   run 1: a folder laid out like an infected stick, mapped to E:, and the answer "e": every
#          attribute cleared, the batch gone, the virus's files quarantined, the user's files
#          (their own temp.bat among them) unchanged byte for byte, the explorer step reached,
#          the closing banner, exit 0;
#   run 2: datafile.dat missing beside the program (but present in the starting folder): the
#          three error lines, the closing prompt, exit 0;
#   run 3: at the prompt, a letter with no drive, the system drive, an empty answer and a long
#          answer, each followed by the prompt again; then the close box ends the program;
#   run 4: the stick pulled out (its folder moved away) right after the answer, while the
#          commands run: nothing hangs, the closing banner, exit 0, nothing lost.
# The stick of run 1 carries hostile names: percent signs, "&", carets and parentheses, a program
# posing as a folder, and the virus's hiding folder with a blank name.
#
# Usage: recovery_e2e.sh PROGRAM HOST-TOOLS-DIR   (PROGRAM ending in .exe runs under Wine: run 1
# only, through a drive letter of the Wine prefix, and without the attribute checks)
set -euo pipefail
program=$(realpath -s "$1") # an installed link (/usr/bin/unveilo) is started as the link
tools=$(realpath "$2")
here=$(cd "$(dirname "$0")" && pwd)
title="Unveilo - Created by the Unveilo project"
fail() { echo "FAIL: $*" >&2; [ -f "$work/screen.txt" ] && cat "$work/screen.txt" >&2; exit 1; }

source "$here/x11_session.sh"
x11_start 101 || fail "no X display"
wine=0
[[ "$program" == *.exe ]] && wine=1

# A stub file manager first on PATH: the explorer step records what it was asked to open.
mkdir -p "$work/bin"
cat >"$work/bin/xdg-open" <<EOF
#!/bin/sh
printf '%s\n' "\$1" >"$work/xdg-open.log"
EOF
chmod +x "$work/bin/xdg-open"
export PATH="$work/bin:$PATH"

start_program() { # [program]
    local exe=${1:-$program}
    if [ "$wine" = 1 ]; then
        "$here/../wine-run.sh" "$exe" &
    else
        # From a folder of its own, as a user would: the program finds datafile.dat beside
        # itself, not in the folder it was started from.
        (cd "$work" && exec "$exe") &
    fi
    program_pid=$!
    pids+=("$program_pid")
    if ! x11_find_window "$title"; then
        # What the program was doing instead, thread by thread, for whoever reads the log.
        if kill -0 "$program_pid" 2>/dev/null; then
            for task in /proc/"$program_pid"/task/*; do
                echo "  thread $(cat "$task/comm" 2>/dev/null): $(grep '^State' "$task/status" 2>/dev/null)" \
                    "in $(cat "$task/wchan" 2>/dev/null)" >&2
            done
        else
            wait "$program_pid" && status=0 || status=$?
            echo "  the program had ended with status $status" >&2
        fi
        x11_server_gone >&2
        fail "the window never appeared"
    fi
    x11_wait_for_size
}

answer() {
    [ -n "$1" ] && xdotool type --window "$window" --delay 20 "$1" 2>/dev/null
    xdotool key --window "$window" Return 2>/dev/null
}

# UNVEILO_E2E_KEEP=folder keeps the screenshots named here, as PNG, for a person to look at.
keep() { # name [image]
    [ -n "${UNVEILO_E2E_KEEP:-}" ] || return 0
    mkdir -p "$UNVEILO_E2E_KEEP"
    convert "${2:-$work/screen.ppm}" "$UNVEILO_E2E_KEEP/$1.png"
}

# --- The stick --------------------------------------------------------------------------------
# DOS attributes as Wine and Samba keep them: user.DOSATTRIB as text; read-only is also the
# missing write permission.
attrib_set() { # path hex
    setfattr -n user.DOSATTRIB -v "\"$2\"" "$1"
    if (($2 & 1)); then chmod a-w "$1"; fi
}
attrib_of() {
    getfattr --only-values -n user.DOSATTRIB "$1" 2>/dev/null | tr -d '\0' || true
}

stick=$work/stick
# A shortcut as Windows writes it (tests/stick/make_lnk.py): PATH TARGET ARGUMENTS.
shortcut() {
    python3 - "$here/../../tests/stick" "$@" <<'EOF'
import sys
sys.dont_write_bytecode = True
sys.path.insert(0, sys.argv[1])
import make_lnk
with open(sys.argv[2], "wb") as out:
    out.write(make_lnk.shortcut(target=sys.argv[3], arguments=sys.argv[4]))
EOF
}
make_stick() {
    mkdir -p "$stick"
    # The user's files, hidden by the virus.
    mkdir -p "$stick/Documents/Old" "$stick/Music" "$stick/System Volume Information"
    printf 'quarterly report\r\n' >"$stick/Documents/report.txt"
    printf 'draft\n' >"$stick/Documents/Old/draft.txt"
    head -c 70000 /dev/urandom >"$stick/Music/song.mp3"
    head -c 5000 /dev/urandom >"$stick/photo.jpg"
    printf 'read me\n' >"$stick/notes.txt"
    printf 'L\0\0\0 a shortcut of the user to C:\\Users\\me\\notes.txt\n' >"$stick/My notes.lnk"
    printf 'tracking\n' >"$stick/System Volume Information/IndexerVolumeGuid"
    # The user's own temp.bat, and a folder named like the batch's second choice: the tool runs
    # its batch under a third name and leaves both alone.
    printf '@echo the user'"'"'s own batch\r\n' >"$stick/temp.bat"
    mkdir -p "$stick/unveilo-temp.bat"
    printf 'kept\n' >"$stick/unveilo-temp.bat/inside.txt"
    # What the virus left: autorun.inf, a shortcut in place of the hidden folder, a shortcut that
    # starts a script, and the script.
    printf '[autorun]\r\nopen=wscript.exe virus.vbs\r\n' >"$stick/autorun.inf"
    shortcut "$stick/Documents.lnk" 'C:\Windows\System32\cmd.exe' \
        '/c start wscript.exe virus.vbs&start explorer "Documents"&exit'
    # A script host handed a file of a harmless-looking name in a folder of the stick.
    shortcut "$stick/Pictures.lnk" 'C:\Windows\System32\wscript.exe' '//e:vbscript tools\run.dat'
    mkdir -p "$stick/tools"
    printf 'WScript.Echo 1\r\n' >"$stick/tools/run.dat"
    printf 'CreateObject("WScript.Shell").Run "cmd"\r\n' >"$stick/virus.vbs"
    # Names that cmd treats specially, and a program posing as the hidden folder Music.
    printf 'v1' >"$stick/100%.vbs"
    printf 'v2' >"$stick/%PATH% & x^y (1).js"
    printf 'MZ' >"$stick/Music.exe"
    printf 'user data' >"$stick/report 100% & more.txt"
    # The hiding folder: a no-break space as its name, the user's holiday photos inside.
    nbsp=$(printf '\xc2\xa0')
    mkdir -p "$stick/$nbsp/Holiday"
    head -c 3000 /dev/urandom >"$stick/$nbsp/Holiday/beach.jpg"

    attrib_set "$stick/Documents" 0x6
    attrib_set "$stick/Documents/report.txt" 0x2
    attrib_set "$stick/Documents/Old" 0x22
    attrib_set "$stick/Music" 0x2
    attrib_set "$stick/Music/song.mp3" 0x7
    attrib_set "$stick/photo.jpg" 0x3
    attrib_set "$stick/notes.txt" 0x1
    attrib_set "$stick/virus.vbs" 0x6
    attrib_set "$stick/autorun.inf" 0x7
    attrib_set "$stick/System Volume Information" 0x6

    (cd "$stick" && sha256sum "Documents/report.txt" "Documents/Old/draft.txt" "Music/song.mp3" \
        "photo.jpg" "notes.txt" "My notes.lnk" "report 100% & more.txt" "temp.bat" \
        "unveilo-temp.bat/inside.txt") >"$work/user-files.sha256"
    (cd "$stick/$nbsp" && sha256sum "Holiday/beach.jpg") >"$work/hidden-files.sha256"
}

# --- Run 1: the whole job ---------------------------------------------------------------------
make_stick
if [ "$wine" = 1 ]; then
    export WINE_RUN_DRIVES="e:=$stick"
else
    export UNVEILO_DRIVE_E=$stick
fi
start_program
[ "$(xdotool getwindowname "$window")" = "$title" ] || fail "title is not '$title'"
x11_expect_line '^Enter USB Drive letter : '
grep -qx 'Unveilo' "$work/screen.txt" || fail "no banner"
keep prompt
answer e
if [ "$wine" = 1 ]; then
    # The clean-up's console window: once the summary is written the program titles it and
    # holds it for half a minute or until a key, so that a person can read it.
    held="Unveilo clean-up finished - press a key to close this window"
    console=
    for _ in $(seq 600); do
        console=$(xdotool search --onlyvisible --name "^$held\$" 2>/dev/null | head -n 1 || true)
        [ -n "$console" ] && break
        sleep 0.2
    done
    [ -n "$console" ] || fail "the clean-up's console never showed its summary"
    sleep 0.5
    eval "$(xdotool getwindowgeometry --shell "$console")"
    xwd -root -silent | convert xwd:- -crop "${WIDTH}x${HEIGHT}+${X}+${Y}" +repage \
        "$work/console.ppm" || fail "no screenshot of the console"
    keep console-summary "$work/console.ppm"
    # The press ends the hold and the window goes at once, so the release that follows can find
    # no window: xdotool then fails, which is the point rather than a fault.
    xdotool key --window "$console" space 2>/dev/null || true
    # A key ends the hold at once, long before its half minute (20 s allow for a loaded machine).
    for _ in $(seq 100); do
        xdotool search --onlyvisible --name "^$held\$" 2>/dev/null | grep -qx "$console" || break
        sleep 0.2
    done
    xdotool search --onlyvisible --name "^$held\$" 2>/dev/null | grep -qx "$console" &&
        fail "the console stayed after a key"
    # Wine's explorer opens a window of its own, over ours, and the explorer command waits for
    # it: the test closes it as a user would.
    explorer=
    for _ in $(seq 300); do
        for candidate in $(xdotool search --onlyvisible --name '.' 2>/dev/null); do
            name=$(xdotool getwindowname "$candidate" 2>/dev/null || true)
            [ -n "${UNVEILO_E2E_TRACE:-}" ] && echo "window $candidate: $name" >&2
            case "$name" in
            "$title" | "") ;;
            *"(E:)"* | *"(e:)"*) explorer=$candidate ;;
            esac
        done
        [ -n "$explorer" ] && break
        sleep 0.2
    done
    [ -n "$explorer" ] || fail "Wine's explorer window never appeared"
    sleep 1
    "$tools/unveilo_x11_close" "$explorer"
fi
x11_expect_line '^Check your files in the USB\.\.\.'
for line in '^Unveilo$' '^Created by the Unveilo project$' '^Web    : none' '^E-mail : none$'; do
    grep -qE "$line" "$work/screen.txt" || fail "closing banner: no line /$line/"
done
keep closing-banner
leftover=$(cd "$stick" && ls -d unveilo-temp-*.bat 2>/dev/null || true)
[ -z "$leftover" ] || fail "the batch is still on the drive: $leftover"
quarantine=$stick/UNVEILO-QUARANTINE
# Launchers and the payloads they start, the same on both systems: the clean-up program judges.
virus_files=(autorun.inf Documents.lnk Pictures.lnk virus.vbs 100%.vbs "%PATH% & x^y (1).js"
             Music.exe)
for name in "${virus_files[@]}"; do
    [ -e "$stick/$name" ] && fail "$name is still in the root"
    [ -f "$quarantine/$name.quarantined" ] || fail "$name is not in the quarantine"
done
[ -e "$stick/tools/run.dat" ] && fail "the script host's payload is still in tools"
[ -f "$quarantine/run.dat.quarantined" ] || fail "the script host's payload is not in the quarantine"
(cd "$stick" && sha256sum --quiet -c "$work/hidden-files.sha256") ||
    fail "the hiding folder's photos did not come back to the root"
[ -f "$quarantine/README-UNVEILO.txt" ] || fail "no note in the quarantine"
(cd "$stick" && sha256sum --quiet -c "$work/user-files.sha256") || fail "a user's file changed"
if [ "$wine" = 0 ]; then
    # Every attribute cleared, except on the two Windows folders that the batch hides again.
    while IFS= read -r -d '' path; do
        case "$path" in
        "$stick/System Volume Information" | "$stick/UNVEILO-QUARANTINE"*) continue ;;
        esac
        value=$(attrib_of "$path")
        if [ -n "$value" ] && (($value & 0x7)); then fail "$path still has attributes $value"; fi
        [ -w "$path" ] || fail "$path is still read-only"
    done < <(find "$stick" -mindepth 1 -print0)
    value=$(attrib_of "$stick/System Volume Information")
    (($value & 0x2)) || fail "System Volume Information is not hidden again ($value)"
    [ -f "$work/xdg-open.log" ] || fail "the explorer step never reached xdg-open"
    [ "$(cat "$work/xdg-open.log")" = "$stick/" ] || [ "$(cat "$work/xdg-open.log")" = "$stick" ] ||
        fail "xdg-open was asked to open '$(cat "$work/xdg-open.log")', not $stick"
fi
# A key ends the wait of the closing banner; END then asks for the key that ends the program.
xdotool key --window "$window" space 2>/dev/null
x11_expect_line '^Press any key to continue$'
xdotool key --window "$window" space 2>/dev/null
x11_wait_exit
if [ "$wine" = 1 ]; then
    echo "run 1 (Wine): batch gone, virus quarantined, user's files and temp.bat unchanged, explorer" \
        "window closed, closing banner, exit 0: ok"
    exit 0
fi
echo "run 1: attributes cleared, batch gone, virus quarantined, user's files and temp.bat unchanged," \
    "explorer reached, closing banner, exit 0: ok"

# --- Run 2: datafile.dat missing beside the program ---------------------------------------------
mkdir -p "$work/bare"
cp "$program" "$work/bare/"
cp "$(dirname "$(realpath "$program")")/datafile.dat" "$work/" # in the starting folder: no use
start_program "$work/bare/$(basename "$program")"
x11_expect_line '^Program will exit now$'
for line in '^Error : Datafile\.dat does not found$' '^Reinstall or get new copy of software$'; do
    grep -qE "$line" "$work/screen.txt" || fail "missing datafile: no line /$line/"
done
x11_expect_line '^Press any key to continue$'
keep datafile-missing
[ "$(sed -n 25p "$work/screen.txt")" = "Press any key to continue" ] ||
    fail "the closing prompt is not on row 25"
xdotool key --window "$window" space 2>/dev/null
x11_wait_exit
echo "run 2: datafile.dat missing: three error lines, closing prompt, exit 0: ok"

# --- Run 3: answers that lead back to the prompt, then the close box ----------------------------
unset UNVEILO_DRIVE_E
start_program
x11_expect_line '^Enter USB Drive letter : '
prompt_again() {
    x11_expect_line "$1"
    x11_expect_line '^Enter USB Drive letter : ?.?$'
}
answer q
prompt_again '^Error : Drive not exist$'
grep -q '^Checking q:\\ *$' "$work/screen.txt" || fail "no 'Checking q:\\' line"
grep -q '^Press any key to continue$' "$work/screen.txt" || fail "no 'Press any key' line"
answer c
prompt_again '^Error : c: is the system drive, not a USB drive$'
keep system-drive
answer ''
prompt_again '^Error : Drive not exist$'
grep -q '^Checking :\\ *$' "$work/screen.txt" || fail "the empty answer was not checked as ':\\'"
answer "q$(printf 'x%.0s' $(seq 300))"
prompt_again '^Error : Drive not exist$'
grep -q '^Checking q:\\ *$' "$work/screen.txt" || fail "the long answer was not cut to 'q:\\'"
"$tools/unveilo_x11_close" "$window"
x11_wait_exit
echo "run 3: no drive, system drive, empty and long answers, close box at the prompt: ok"

# --- Run 4: the stick pulled out while the commands run -------------------------------------
rm -rf "$stick" "$work/pulled"
make_stick
# Enough entries that the attribute sweep is still running when the stick goes.
mkdir -p "$stick/many"
(cd "$stick/many" && seq 20000 | xargs touch)
export UNVEILO_DRIVE_E=$stick
start_program
x11_expect_line '^Enter USB Drive letter : '
answer e
mv "$stick" "$work/pulled"
x11_expect_line '^Check your files in the USB\.\.\.'
xdotool key --window "$window" space 2>/dev/null
x11_expect_line '^Press any key to continue$'
xdotool key --window "$window" space 2>/dev/null
x11_wait_exit
[ "$(find "$work/pulled/many" -type f | wc -l)" = 20000 ] || fail "files were lost on the pulled stick"
for name in "${virus_files[@]}"; do
    [ -e "$work/pulled/$name" ] || [ -e "$work/pulled/UNVEILO-QUARANTINE/$name.quarantined" ] ||
        fail "$name was lost"
done
(cd "$work/pulled" && sha256sum --quiet -c "$work/user-files.sha256") || fail "a user's file changed"
# Whatever the pull left of the batch carries the tool's name, beside the user's own temp.bat.
for left in "$work/pulled"/*.bat; do
    case "$(basename "$left")" in
    temp.bat | unveilo-temp-*.bat | unveilo-temp.bat) ;;
    *) fail "an unknown batch was left behind: $left" ;;
    esac
done
echo "run 4: stick pulled out during the commands: closing banner, exit 0, nothing lost: ok"
