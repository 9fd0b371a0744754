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

# Starts Xvfb on the first free display number from $1 on and exports DISPLAY.
x11_start() {
    local n display=
    for n in $(seq "$1" $(($1 + 50))); do
        if [ ! -e "/tmp/.X$n-lock" ] && [ ! -e "/tmp/.X11-unix/X$n" ]; then
            display=":$n"
            break
        fi
    done
    [ -n "$display" ] || { echo "no free X display number" >&2; return 1; }
    Xvfb "$display" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
    pids+=($!)
    export DISPLAY=$display
    for _ in $(seq 100); do xdpyinfo >/dev/null 2>&1 && return 0; sleep 0.1; done
    echo "Xvfb did not start" >&2
    return 1
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
