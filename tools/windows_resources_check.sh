#!/usr/bin/env bash
# Reads the resources of a Windows build of the program back and checks them against their
# sources: objdump lists the icon group (0x0e), version (0x10) and manifest (0x18) types; the
# icons are the four sizes drawn from packaging/unveilo.svg, in the group freeglut takes the
# window's icon from (GLUT_ICON); the manifest is the configured one; the version strings carry
# the project's version, the copyright line the program's banner prints and the licence.
#
# Usage: windows_resources_check.sh PROGRAM.exe BUILD-DIR   (BUILD-DIR holds icons/, resources/)
set -euo pipefail
exe=$1
build=$2
root=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $exe: $*" >&2; exit 1; }

case "$(od -An -tx2 -j$(($(od -An -tu4 -j60 -N4 "$exe" | tr -d ' ') + 4)) -N2 "$exe" | tr -d ' ')" in
8664) objdump=x86_64-w64-mingw32-objdump ;;
014c) objdump=i686-w64-mingw32-objdump ;;
*) fail "not a PE program of x86-64 or i686" ;;
esac
types=$("$objdump" -p "$exe" | sed -n 's/^0[0-9a-f]*   Entry: ID: 0x0000\([0-9a-f]*\),.*/\1/p')
for type in 03 0e 10 18; do
    grep -qx "$type" <<<"$types" || fail "no resource of type 0x$type (types: $(echo $types))"
done

# The icon group named GLUT_ICON, unpacked image by image, against the icon file of the build.
wrestool -x -t 14 -n GLUT_ICON -o "$work/group.ico" "$exe" 2>/dev/null ||
    fail "no icon group named GLUT_ICON"
mkdir "$work/in-exe" "$work/built"
icotool -x -o "$work/in-exe" "$work/group.ico"
icotool -x -o "$work/built" "$build/icons/unveilo.ico"
sizes=$(icotool -l "$work/group.ico" | sed -n 's/.*--width=\([0-9]*\) .*/\1/p' | tr '\n' ' ')
[ "$sizes" = "16 32 48 256 " ] || fail "icon sizes are '$sizes', not 16 32 48 256"
for index in 1 2 3 4; do
    cmp -s "$work"/in-exe/group_"$index"_* "$work"/built/unveilo_"$index"_* ||
        fail "icon $index differs from $build/icons/unveilo.ico"
done

wrestool -x --raw -t 24 -n 1 "$exe" | cmp -s - "$build/resources/unveilo.manifest" ||
    fail "the manifest is not $build/resources/unveilo.manifest"
for needle in '<activeCodePage xmlns="http://schemas.microsoft.com/SMI/2019/WindowsSettings">UTF-8' \
    'level="asInvoker"' 'name="Microsoft.Windows.Common-Controls" version="6.0.0.0"' \
    '{35138b9a-5d96-4fbd-8e2d-a2440225f93a}' '{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}'; do
    grep -qF "$needle" "$build/resources/unveilo.manifest" || fail "manifest lacks $needle"
done

version=$(sed -n 's/^project(unveilo VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")
copyright=$(sed -n 's/.*lit("\(Copyright [^"]*\)").*/\1/p' "$root/app/main.cpp")
license=$(sed -n 's/^set(UNVEILO_LICENSE \([^)]*\))$/\1/p' "$root/CMakeLists.txt")
license_words=$(sed -n 's/^set(UNVEILO_LICENSE_WORDS "\(.*\)")$/\1/p' "$root/CMakeLists.txt")
[ -n "$license" ] && [ -n "$license_words" ] || fail "no licence in CMakeLists.txt"
wrestool -x --raw -t 16 -n 1 "$exe" >"$work/version.bin"
# VS_VERSIONINFO: nested blocks of (length, value length, type, UTF-16 key, padding to 4 bytes,
# value, padding, children); the strings of StringFileInfo printed as key=value.
python3 - "$work/version.bin" >"$work/version.txt" <<'PYTHON'
import struct, sys

data = open(sys.argv[1], "rb").read()

def block(offset, depth):
    length, value_length, kind = struct.unpack_from("<HHH", data, offset)
    end = offset + length
    key_end = offset + 6
    while data[key_end:key_end + 2] != b"\0\0":
        key_end += 2
    key = data[offset + 6:key_end].decode("utf-16-le")
    value_at = (key_end + 2 + 3) & ~3
    if depth == 3 and kind == 1:
        text = data[value_at:value_at + 2 * value_length].decode("utf-16-le").rstrip("\0")
        print(f"{key}={text}")
    child = (value_at + (2 * value_length if kind == 1 else value_length) + 3) & ~3
    while child < end:
        child = (block(child, depth + 1) + 3) & ~3
    return end

block(0, 0)
PYTHON
for line in "ProductName=Unveilo" "CompanyName=Unveilo" "FileVersion=$version" \
    "ProductVersion=$version" "LegalCopyright=$copyright; licensed under the $license_words" \
    "OriginalFilename=unveilo.exe"; do
    grep -qxF "$line" "$work/version.txt" || fail "version information lacks '$line'"
done
grep -q '^FileDescription=Unveilo' "$work/version.txt" || fail "no FileDescription"
grep -q "^Comments=Free software ($license)" "$work/version.txt" || fail "no licence in Comments"
echo "$exe: icon group GLUT_ICON (16 32 48 256), manifest, version $version," \
    "'$copyright': ok"
