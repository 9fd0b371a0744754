#!/usr/bin/env bash
# Builds the releases into dist/:
#   unveilo-<version>-win32.zip      the shipped Windows programs (the windows-x86 preset) without
#                                    their debug information, with datafile.dat, README.txt for
#                                    users, the licence (COPYING.txt) and the licences of what is
#                                    linked into them (NOTICES.txt);
#   unveilo_<version>-<n>_<arch>.deb the Linux programs as a Debian package (CPack, the linux
#                                    preset with Debian's hardening flags), checked by lintian,
#                                    hardening-check and appstreamcli;
#   unveilo-<version>.tar.gz         the source of the commit, which the GPL asks to offer
#                                    beside the programs;
#   SHA256SUMS                       the checksums of all three, for `sha256sum -c`.
# The debug information of each Windows program stays beside the build
# (build/windows-x86/<program>.exe.debug, named by the shipped program's .gnu_debuglink), so that
# a crash address from a user can still be read.
# The zip is reproducible: one commit gives the same bytes (every date is the commit's, through
# SOURCE_DATE_EPOCH; entries sorted; fixed permissions; no build path in the exe; no link time in
# its header). Fails when a Windows program would need any DLL beside it, when a build path is
# left in it, when a Linux program lacks a hardening feature, when the metadata does not validate
# or when lintian finds an error in the package.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh
ensure_packages "${PACKAGE_PACKAGES[@]}"

# The programs of the zip, built by the windows-x86 preset and shipped side by side as
# <name>.exe. A new program is one more name here. (The package's list is in cmake/debian.cmake.)
zip_programs=(unveilo unveilo-clean)

export SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct)}
version=$(sed -n 's/^project(unveilo VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
[ -n "$version" ] || { echo "package: no version in CMakeLists.txt" >&2; exit 1; }
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
mkdir -p dist
rm -f dist/unveilo-*-win32.zip dist/unveilo_*.deb dist/unveilo-*.tar.gz dist/SHA256SUMS

# Windows users open the text files with Notepad: Windows line ends.
windows_text() { sed 's/\r$//; s/$/\r/' "$1"; }

# --- Windows: the zip -------------------------------------------------------------------------
cmake --preset windows-x86 >/dev/null
cmake --build --preset windows-x86 -j "$(nproc)" --target "${zip_programs[@]}"
objcopy=i686-w64-mingw32-objcopy
objdump=i686-w64-mingw32-objdump

# The DLLs every Windows has; anything else (libgcc, libstdc++, winpthread, freeglut) would have
# to travel with the program, which static linking is there to avoid.
system_dlls='^(ADVAPI32|GDI32|KERNEL32|msvcrt|OPENGL32|GLU32|USER32|WINMM|SHELL32|WS2_32)\.dll$'
folder=$stage/zip/unveilo-$version
mkdir -p "$folder"
for name in "${zip_programs[@]}"; do
    exe=build/windows-x86/$name.exe
    imports=$("$objdump" -p "$exe" | sed -n 's/^[[:space:]]*DLL Name: //p')
    [ -n "$imports" ] || { echo "package: no imports found in $exe" >&2; exit 1; }
    bad=$(grep -viE "$system_dlls" <<<"$imports" || true)
    if [ -n "$bad" ]; then
        echo "package: $exe imports DLLs that Windows does not have:" >&2
        echo "$bad" >&2
        exit 1
    fi
    echo "$name.exe imports (system DLLs only): $(tr '\n' ' ' <<<"$imports")"
    # A path of this machine in the program would make its bytes depend on where the tree lies.
    if strings -a "$exe" | grep -F "$PWD"; then
        echo "package: $exe holds the build path $PWD" >&2
        exit 1
    fi
    # The debug sections are most of the program's size and no use to a user: they stay beside
    # the build, and the shipped copy names them in its .gnu_debuglink (file name and CRC).
    "$objcopy" --only-keep-debug "$exe" "$exe.debug"
    "$objcopy" --strip-all --add-gnu-debuglink="$exe.debug" "$exe" "$folder/$name.exe"
    sections=$("$objdump" -h "$folder/$name.exe" | awk '$1 ~ /^[0-9]+$/ { print $2 }')
    if grep -q '^\.debug' <<<"$sections" || ! grep -qx '\.gnu_debuglink' <<<"$sections"; then
        echo "package: $folder/$name.exe: sections $(echo $sections)" >&2
        exit 1
    fi
    echo "$name.exe: $(stat -c %s "$exe") bytes built, $(stat -c %s "$folder/$name.exe")" \
        "shipped (sections $(echo $sections)); debug information in $exe.debug"
done

cp datafile.dat "$folder/datafile.dat"
sed "s/@VERSION@/$version/g" packaging/README-windows.txt >"$stage/README.txt"
windows_text "$stage/README.txt" >"$folder/README.txt"
windows_text COPYING >"$folder/COPYING.txt"
tools/make-notices.sh "$stage/NOTICES.txt" "$version" "${zip_programs[@]/%/.exe}"
windows_text "$stage/NOTICES.txt" >"$folder/NOTICES.txt"
chmod 0755 "$folder"
chmod 0644 "$folder"/*
touch -d "@$SOURCE_DATE_EPOCH" "$folder"/*
zip_path=$PWD/dist/unveilo-$version-win32.zip
# Files only (-D), no extra fields with owners or further dates (-X), times in UTC, names sorted.
(cd "$stage/zip" && find "unveilo-$version" -type f | LC_ALL=C sort |
    TZ=UTC zip -q -X -D -@ "$zip_path")
echo "wrote ${zip_path#"$PWD"/}"
unzip -l "$zip_path"

# --- Linux: the Debian package ----------------------------------------------------------------
cmake --preset linux >/dev/null
cmake --build --preset linux -j "$(nproc)" --target unveilo_package
(cd build/linux && cpack -G DEB -B "$stage/deb" >/dev/null)
deb=$(find "$stage/deb" -maxdepth 1 -name 'unveilo_*.deb' | head -n 1)
[ -n "$deb" ] || { echo "package: CPack wrote no .deb" >&2; exit 1; }
cp "$deb" dist/
deb_path=dist/$(basename "$deb")
echo "wrote $deb_path"
dpkg-deb --info "$deb_path" | sed -n 's/^ \(Package\|Version\|Architecture\|Depends\):/  \1:/p'
dpkg-deb --contents "$deb_path" | awk '{ $2 = $4 = $5 = ""; print " " $0 }'

# What the package installs, unpacked: every program in it carries Debian's hardening.
tree=$stage/tree
dpkg-deb -x "$deb_path" "$tree"
for program in "$tree"/usr/lib/unveilo/*; do
    readelf -h "$program" >/dev/null 2>&1 || continue # datafile.dat
    echo "hardening-check ${program#"$tree"}:"
    # No program linked on Debian 12 carries the control-flow protection note: the C start
    # files of its glibc lack it (cmake/hardening.cmake). Everything else is required.
    hardening-check --nocfprotection "$program" | sed 1d
    # The same facts as readelf shows them: the RELRO segment, immediate binding, a PIE.
    segments=$(readelf -lW "$program")
    dynamic=$(readelf -dW "$program")
    header=$(readelf -hW "$program")
    echo "  readelf: $(grep -c GNU_RELRO <<<"$segments") GNU_RELRO segment;" \
        "$(grep -E '\((BIND_NOW|FLAGS|FLAGS_1)\)' <<<"$dynamic" | awk '{ $1 = ""; print }' |
            paste -sd ';');" \
        "$(grep -E '^ *Type:' <<<"$header" | tr -s ' ' | sed 's/^ //')"
done
echo "appstreamcli validate-tree (metadata, and its menu entry):"
appstreamcli validate-tree --no-net "$tree" 2>&1 | sed 's/^/  /'

echo "lintian $deb_path:"
lintian --fail-on error "$deb_path" | sed 's/^/  /'
echo "lintian: no errors"

# --- The source -------------------------------------------------------------------------------
source_path=dist/unveilo-$version.tar.gz
if [ -n "$(git status --porcelain --untracked-files=no)" ]; then
    echo "package: the tree has changes that are not committed; $source_path holds the commit" >&2
fi
git archive --format=tar.gz --prefix="unveilo-$version/" -o "$source_path" HEAD
echo "wrote $source_path"

(cd dist && sha256sum "$(basename "$zip_path")" "$(basename "$deb_path")" \
    "$(basename "$source_path")" >SHA256SUMS)
echo "wrote dist/SHA256SUMS"
cat dist/SHA256SUMS
