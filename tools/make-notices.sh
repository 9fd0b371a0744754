#!/usr/bin/env bash
# Writes the notices file of the Windows zip: the licences of every part of another project that
# the static link puts into the programs (freeglut, the mingw-w64 run-time with its threads
# library, GCC's run-time libraries, the console fonts of the glyph tables), each copied from
# the file named in its heading, on this machine or in the freeglut source the build uses.
#
# Usage: tools/make-notices.sh OUTPUT VERSION PROGRAM...   (e.g. unveilo.exe)
# Fails when a source file is missing or an excerpt is not found where it is expected.
set -euo pipefail
[ $# -ge 3 ] || { echo "usage: $0 OUTPUT VERSION PROGRAM..." >&2; exit 2; }
output=$1
version=$2
shift 2
programs="$*"
root=$(cd "$(dirname "$0")/.." && pwd)
fail() { echo "make-notices: $*" >&2; exit 1; }

# The freeglut source the i686 build was made from (tools/build-freeglut-mingw.sh names it).
stamp=$root/build/freeglut-i686/.freeglut-built
[ -f "$stamp" ] || fail "$stamp is missing: build the windows-x86 preset first"
orig=$root/build/freeglut-src/$(cat "$stamp")
[ -f "$orig" ] || fail "$orig is missing"
freeglut_copying=$(tar -xzOf "$orig" --wildcards '*/COPYING') || fail "no COPYING in $orig"

mingw=/usr/share/doc/mingw-w64-i686-dev/copyright
gcc=/usr/share/doc/gcc-mingw-w64-base/copyright
fonts_16=/usr/share/doc/console-data/copyright
fonts_8=/usr/share/doc/console-setup-linux/copyright
for file in "$mingw" "$gcc" "$fonts_16" "$fonts_8"; do
    [ -f "$file" ] || fail "$file is missing"
done
package_version() { dpkg-query -W -f='${Version}' "$1"; }
copyright=$(sed -n 's/^set(UNVEILO_COPYRIGHT "\(.*\)")$/\1/p' "$root/CMakeLists.txt")
[ -n "$copyright" ] || fail "no UNVEILO_COPYRIGHT in CMakeLists.txt"

# Lines of $1 from the first line matching $2 to the first after it matching $3; fails when the
# excerpt is not there, so that a changed file is noticed rather than shipped half.
excerpt() {
    local text
    text=$(sed -n "/$2/,/$3/p" "$1")
    grep -q "$3" <<<"$text" || fail "$1: no lines from /$2/ to /$3/"
    printf '%s\n' "$text"
}

heading() {
    printf '\n\n%s\n%s\n' "$1" "$(sed 's/./=/g' <<<"$1")"
}

{
    heading "Unveilo $version for Windows: notices" | sed 1,2d
    fmt -w 78 <<EOF

$programs: Unveilo's own code ($copyright; licensed under the GNU General Public License,
version 3 or later, in COPYING.txt beside this file), linked statically with the parts of
other projects below. Each part's licence follows, copied from the file named under its
heading. The source code of this release is unveilo-$version.tar.gz, published beside this
zip.
EOF

    heading "1. freeglut (in unveilo.exe: the window, its events and the OpenGL context)"
    printf 'From: COPYING in %s (Debian source package freeglut)\n\n' "$(basename "$orig")"
    printf '%s\n' "$freeglut_copying"

    heading "2. The mingw-w64 run-time and its threads library (winpthreads)"
    printf 'From: %s (Debian package mingw-w64-i686-dev %s), whole; it also\n' \
        "$mingw" "$(package_version mingw-w64-i686-dev)"
    printf 'covers parts of mingw-w64 (headers, tools) that the programs do not contain.\n\n'
    cat "$mingw"

    heading "3. GCC's run-time libraries (libgcc, libstdc++)"
    printf 'From: %s (Debian package gcc-mingw-w64-base %s),\n' \
        "$gcc" "$(package_version gcc-mingw-w64-base)"
    printf 'two excerpts. The GNU General Public License, version 3, is COPYING.txt.\n\n'
    excerpt "$gcc" '^GCC is Copyright' '^ - libvtv$'
    printf '\n'
    excerpt "$gcc" '^GCC RUNTIME LIBRARY EXCEPTION$' '^requirements of the license of GCC\.$'

    heading "4. The console fonts of the text screen's glyphs (in unveilo.exe)"
    printf 'The 8x16 glyphs come from default8x16.psf.gz of the Debian package console-data,\n'
    printf 'the 8x8 glyphs from Uni2-VGA8.psf.gz of the Debian package console-setup-linux.\n'
    printf '\nFrom: %s (console-data %s), whole:\n\n' "$fonts_16" "$(package_version console-data)"
    cat "$fonts_16"
    printf '\nFrom: %s (console-setup-linux %s), an excerpt:\n\n' \
        "$fonts_8" "$(package_version console-setup-linux)"
    excerpt "$fonts_8" '^This copyright file applies' '^All console fonts are public domain'
} >"$output"
