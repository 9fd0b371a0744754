#!/usr/bin/env bash
# Builds the shipped Windows program (the windows-x86 preset) and writes the release:
# dist/unveilo-<version>-win32.zip with unveilo.exe, datafile.dat and README.txt for users.
# Fails when the program would need any DLL beside it: it must import only Windows' own.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh
ensure_packages "${PACKAGE_PACKAGES[@]}"

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

version=$(sed -n 's/^project(unveilo VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
[ -n "$version" ] || { echo "package: no version in CMakeLists.txt" >&2; exit 1; }
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
mkdir "$stage/unveilo-$version"
cp "$exe" "$stage/unveilo-$version/unveilo.exe"
cp datafile.dat "$stage/unveilo-$version/datafile.dat"
# Windows users open README.txt with Notepad: Windows line ends.
sed 's/\r$//; s/$/\r/' packaging/README-windows.txt >"$stage/unveilo-$version/README.txt"

mkdir -p dist
zip_path=$PWD/dist/unveilo-$version-win32.zip
rm -f "$zip_path"
(cd "$stage" && zip -q -X -r "$zip_path" "unveilo-$version")
# The exe in the zip is the one the build produced.
unzip -p "$zip_path" "unveilo-$version/unveilo.exe" | cmp - "$exe"
echo "wrote ${zip_path#"$PWD"/}"
unzip -l "$zip_path"
