#!/bin/bash
# Runs a Windows executable under Wine for tests: tools/wine-run.sh <exe> [args...]
#
# Every run gets a throw-away Wine prefix, no Mono or Gecko installers, and its own virtual X
# server when none is given (message boxes and windows need one). The program's exit status is
# passed through; nothing of Wine or Xvfb is left running afterwards.
#
# WINE_RUN_UNMANAGED=1 tells Wine that no window manager runs. Wine otherwise waits up to 2 s
# for a window manager to confirm that each closed top-level window is withdrawn, which is what
# every dismissed message box costs on a bare Xvfb; unmanaged windows are override-redirect,
# which window tests may not want, so it is not the default.
#
# WINE_RUN_DRIVES="e:=/some/dir f:=/other" gives the prefix drive letters for those folders.
set -u

if [ $# -lt 1 ]; then
    echo "usage: $0 <exe> [args...]" >&2
    exit 2
fi

if command -v wine >/dev/null 2>&1; then
    wine_cmd=wine
elif [ -x /usr/lib/wine/wine64 ]; then
    wine_cmd=/usr/lib/wine/wine64
else
    echo "$0: wine is not installed" >&2
    exit 2
fi
# Debian's `wine` goes through the 32-bit loader whenever wine32:i386 is installed, and that
# loader passes 64-bit programs on to wine64. Kernels without IA-32 emulation (execve of an i386
# program fails with ENOEXEC) break that path for every program, so 64-bit programs go to wine64
# directly, and 32-bit ones are refused with the reason instead of "Exec format error".
pe_machine() {
    local header
    header=$(od -An -tu4 -j60 -N4 "$1" 2>/dev/null | tr -d ' ')
    [ -n "$header" ] && od -An -tx2 -j$((header + 4)) -N2 "$1" 2>/dev/null | tr -d ' '
}
case "$(pe_machine "$1")" in
8664)
    [ -x /usr/lib/wine/wine64 ] && wine_cmd=/usr/lib/wine/wine64
    ;;
014c)
    if [ ! -x /usr/lib/wine/wine ]; then
        echo "$0: $1 is a 32-bit program: install wine32:i386 (ensure_i386_wine in" \
            "scripts/deps.sh)" >&2
        exit 2
    fi
    if ! /usr/lib/wine/wine --version >/dev/null 2>&1; then
        echo "$0: $1 is a 32-bit program, and this machine's kernel runs no 32-bit" \
            "(i386) code, so 32-bit Wine cannot start here" >&2
        exit 2
    fi
    ;;
esac
if command -v wineserver >/dev/null 2>&1; then
    wineserver_cmd=wineserver
else
    wineserver_cmd=/usr/lib/wine/wineserver
fi

prefix=$(mktemp -d "${TMPDIR:-/tmp}/wine-run.XXXXXX") || exit 2
export WINEPREFIX=$prefix
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
xvfb_pid=

cleanup() {
    # Stop what the program left behind in its prefix, then wait for the server to go.
    "$wineserver_cmd" -k >/dev/null 2>&1
    "$wineserver_cmd" -w >/dev/null 2>&1
    if [ -n "$xvfb_pid" ]; then
        kill "$xvfb_pid" 2>/dev/null
        wait "$xvfb_pid" 2>/dev/null
    fi
    rm -rf "$prefix"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

if [ -z "${DISPLAY:-}" ]; then
    # Xvfb picks a free display number itself and writes it to the descriptor given.
    display_file=$prefix/display
    # -noreset: a server that resets when its last client leaves refuses connections meanwhile.
    Xvfb -displayfd 3 -noreset -screen 0 1280x1024x24 -nolisten tcp 3>"$display_file" 2>/dev/null &
    xvfb_pid=$!
    for _ in $(seq 100); do
        [ -s "$display_file" ] && break
        if ! kill -0 "$xvfb_pid" 2>/dev/null; then
            echo "$0: Xvfb did not start" >&2
            xvfb_pid=
            exit 2
        fi
        sleep 0.1
    done
    if [ ! -s "$display_file" ]; then
        echo "$0: Xvfb gave no display number" >&2
        exit 2
    fi
    export DISPLAY=":$(head -n 1 "$display_file")"
fi

# Creating the prefix prints Wine's own notes (a missing 32-bit loader, an updated
# configuration); done first and quietly, the program's output stays its own.
"$wine_cmd" wineboot --init >/dev/null 2>&1
for mapping in ${WINE_RUN_DRIVES:-}; do
    ln -sfn "${mapping#*=}" "$prefix/dosdevices/${mapping%%=*}"
done
if [ "${WINE_RUN_UNMANAGED:-0}" = 1 ]; then
    "$wine_cmd" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
fi

"$wine_cmd" "$@"
status=$?
exit "$status"
