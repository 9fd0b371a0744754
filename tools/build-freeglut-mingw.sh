#!/bin/bash
# Builds freeglut as a static Windows library with mingw-w64:
#   tools/build-freeglut-mingw.sh <x86_64|i686> <install-dir>
#
# Nothing prebuilt is committed: the source is Debian's own freeglut source package, fetched
# once with apt-get into build/freeglut-src and reused by both architectures and every build
# folder. Prints nothing and does nothing when <install-dir> already holds the library. Runs of
# the script are serialised by a lock, since two build folders may configure at the same time.
set -euo pipefail

if [ $# -ne 2 ]; then
    echo "usage: $0 <x86_64|i686> <install-dir>" >&2
    exit 2
fi
arch=$1
case "$arch" in
x86_64 | i686) ;;
*)
    echo "$0: unknown architecture '$arch' (x86_64 or i686)" >&2
    exit 2
    ;;
esac

root=$(cd "$(dirname "$0")/.." && pwd)
toolchain=$root/cmake/mingw-$arch.cmake
mkdir -p "$2"
install_dir=$(cd "$2" && pwd)
stamp=$install_dir/.freeglut-built
cache=$root/build/freeglut-src

[ -f "$stamp" ] && exit 0

mkdir -p "$cache"
exec 9>"$cache/.lock"
flock 9
# Another run may have finished the same work while this one waited for the lock.
[ -f "$stamp" ] && exit 0

sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"

# apt-get source needs deb-src entries, which Debian's default sources lack.
enable_sources() {
    if grep -qsE '^Types:.*\bdeb-src\b' /etc/apt/sources.list.d/*.sources ||
        grep -qsE '^deb-src\s' /etc/apt/sources.list /etc/apt/sources.list.d/*.list; then
        apt-cache showsrc freeglut >/dev/null 2>&1 && return 0
    else
        local list=/etc/apt/sources.list.d/debian.sources
        if [ ! -f "$list" ]; then
            echo "$0: $list is missing; add deb-src entries for apt-get source by hand" >&2
            exit 1
        fi
        echo "freeglut: enabling Debian source packages (${list%.sources}-src.sources)"
        sed -E 's/^Types:.*/Types: deb-src/' "$list" |
            $sudo tee "${list%.sources}-src.sources" >/dev/null
    fi
    $sudo env DEBIAN_FRONTEND=noninteractive apt-get update -qq >/dev/null
}

orig=$(find "$cache" -maxdepth 1 -name 'freeglut_*.orig.tar.gz' | sort | tail -n 1)
if [ -z "$orig" ]; then
    enable_sources
    echo "freeglut: downloading Debian's source package"
    download=$(mktemp -d "$cache/download.XXXXXX")
    # As root, apt's download sandbox user cannot write here; it warns and downloads anyway.
    (cd "$download" && apt-get source -qq --download-only freeglut 2>&1) |
        grep -v 'unsandboxed as root' >&2 || true
    found=$(find "$download" -maxdepth 1 -name 'freeglut_*.orig.tar.gz' | head -n 1)
    if [ -z "$found" ]; then
        echo "$0: apt-get source freeglut gave no freeglut_*.orig.tar.gz" >&2
        rm -rf "$download"
        exit 1
    fi
    mv "$download"/freeglut_* "$cache/"
    rmdir "$download"
    orig=$cache/$(basename "$found")
fi

work=$root/build/freeglut-build-$arch
log=$work.log
rm -rf "$work"
mkdir -p "$work/src"
echo "freeglut: building $(basename "$orig" .orig.tar.gz) for $arch into $install_dir"
tar -xzf "$orig" -C "$work/src" --strip-components=1
jobs=$(nproc)
if ! {
    cmake -S "$work/src" -B "$work/out" -G Ninja \
        -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_INSTALL_PREFIX="$install_dir" \
        -DFREEGLUT_BUILD_DEMOS=OFF -DFREEGLUT_BUILD_SHARED_LIBS=OFF \
        -DFREEGLUT_BUILD_STATIC_LIBS=ON &&
        cmake --build "$work/out" -j "$jobs" &&
        cmake --install "$work/out"
} >"$log" 2>&1; then
    tail -n 30 "$log" >&2
    echo "$0: building freeglut failed; the whole log is $log" >&2
    exit 1
fi
basename "$orig" >"$stamp"
rm -rf "$work" "$log"
