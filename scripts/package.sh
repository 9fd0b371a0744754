#!/usr/bin/env bash
# Builds the releases into dist/:
#   unveilo-<version>-win32.zip      the shipped Windows program (the windows-x86 preset) with
#                                    datafile.dat and README.txt for users;
#   unveilo_<version>-<n>_<arch>.deb the Linux program as a Debian package (CPack, the linux
#                                    preset), checked by lintian;
#   SHA256SUMS                       the checksums of both, for `sha256sum -c`.
# The zip is reproducible: one commit gives the same bytes (every date is the commit's, through
# SOURCE_DATE_EPOCH; entries sorted; fixed permissions; no build path in the exe; no link time in
# its header). Fails when the Windows program would need any DLL beside it, when a build path is
# left in it, or when lintian finds an error in the package.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh
ensure_packages "${PACKAGE_PACKAGES[@]}"

export SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct)}
version=$(sed -n 's/^project(unveilo VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
[ -n "$version" ] || { echo "package: no version in CMakeLists.txt" >&2; exit 1; }
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
mkdir -p dist
rm -f dist/unveilo-*-win32.zip dist/unveilo_*.deb dist/SHA256SUMS

# --- Windows: the zip -------------------------------------------------------------------------
cmake --preset windows-x86 >/dev/null
cmake --build --preset windows-x86 -j "$(nproc)" --target unveilo
exe=build/windows-x86/unveilo.exe

# The DLLs every Windows has; anything else (libgcc, libstdc++, winpthread, freeglut) would have
# to travel with the program, which static linking is there to avoid.
system_dlls='^(ADVAPI32|GDI32|KERNEL32|msvcrt|OPENGL32|GLU32|USER32|WINMM|SHELL32|WS2_32)\.dll$'
imports=$(i686-w64-mingw32-objdump -p "$exe" | sed -n 's/^[[:space:]]*DLL Name: //p')
[ -n "$imports" ] || { echo "package: no imports found in $exe" >&2; exit 1; }
bad=$(grep -viE "$system_dlls" <<<"$imports" || true)
if [ -n "$bad" ]; then
    echo "package: $exe imports DLLs that Windows does not have:" >&2
    echo "$bad" >&2
    exit 1
fi
echo "imports (system DLLs only): $(tr '\n' ' ' <<<"$imports")"
# A path of this machine in the program would make its bytes depend on where the tree lies.
if strings -a "$exe" | grep -F "$PWD"; then
    echo "package: $exe holds the build path $PWD" >&2
    exit 1
fi

folder=$stage/zip/unveilo-$version
mkdir -p "$folder"
cp "$exe" "$folder/unveilo.exe"
cp datafile.dat "$folder/datafile.dat"
# Windows users open README.txt with Notepad: Windows line ends.
sed "s/\r$//; s/@VERSION@/$version/g; s/$/\r/" packaging/README-windows.txt >"$folder/README.txt"
chmod 0755 "$folder"
chmod 0644 "$folder"/*
touch -d "@$SOURCE_DATE_EPOCH" "$folder"/*
zip_path=$PWD/dist/unveilo-$version-win32.zip
# Files only (-D), no extra fields with owners or further dates (-X), times in UTC, names sorted.
(cd "$stage/zip" && find "unveilo-$version" -type f | LC_ALL=C sort |
    TZ=UTC zip -q -X -D -@ "$zip_path")
# The exe in the zip is the one the build produced.
unzip -p "$zip_path" "unveilo-$version/unveilo.exe" | cmp - "$exe"
echo "wrote ${zip_path#"$PWD"/}"
unzip -l "$zip_path"

# --- Linux: the Debian package ----------------------------------------------------------------
cmake --preset linux >/dev/null
cmake --build --preset linux -j "$(nproc)" --target unveilo unveilo-cmd unveilo_icons \
    unveilo_debian_files
(cd build/linux && cpack -G DEB -B "$stage/deb" >/dev/null)
deb=$(find "$stage/deb" -maxdepth 1 -name 'unveilo_*.deb' | head -n 1)
[ -n "$deb" ] || { echo "package: CPack wrote no .deb" >&2; exit 1; }
cp "$deb" dist/
deb_path=dist/$(basename "$deb")
echo "wrote $deb_path"
dpkg-deb --info "$deb_path" | sed -n 's/^ \(Package\|Version\|Architecture\|Depends\):/  \1:/p'
dpkg-deb --contents "$deb_path" | awk '{ $2 = $4 = $5 = ""; print " " $0 }'
echo "lintian $deb_path:"
lintian --fail-on error "$deb_path" | sed 's/^/  /'
echo "lintian: no errors"

(cd dist && sha256sum "$(basename "$zip_path")" "$(basename "$deb_path")" >SHA256SUMS)
echo "wrote dist/SHA256SUMS"
cat dist/SHA256SUMS
