#!/usr/bin/env python3
"""Compares the shortcut reader with Debian's lnkinfo (liblnk-utils) over a corpus of shortcuts
written the way Windows writes them (tests/stick/windows_lnk.py): every field both print must
agree, file by file. Exit status 0 when all agree, 1 on any difference, 77 (a skip for CTest)
when lnkinfo is not installed.

usage: lnkinfo_compare.py PATH/TO/unveilo_lnk_print [--keep DIR]

Two defects of lnkinfo 20181227 are allowed for, and counted in the summary:
  - it prints the file size in place of the show command and the hot key, and does not print the
    icon environment block's target: those fields are not compared;
  - it decodes a UTF-16 surrogate pair 0x3FF too low (U+1F600 comes out as U+1F201, U+10000 as
    U+FC01): our texts are compared with every character above U+FFFF moved down by as much.
"""
import os
import pathlib
import re
import shutil
import subprocess
import sys
import tempfile

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent.parent / "stick"))
import windows_lnk as w  # noqa: E402

SYSTEM32 = "C:\\Windows\\System32\\"
SHELL32 = "%SystemRoot%\\System32\\SHELL32.dll"


def system_program(program, **fields):
    """A shortcut to a program in System32, as a virus makes one from a real system file."""
    return w.shortcut(items=w.path_items(SYSTEM32 + program),
                      info=w.link_info(base=SYSTEM32 + program, drive_type=w.DRIVE_FIXED,
                                       serial=0x7C3E22A1, label="Windows"),
                      relative_path="..\\..\\..\\Windows\\System32\\" + program,
                      working_dir="C:\\Windows\\System32", **fields)


CORPUS = {
    # The families of the list.
    "vbs-worm-folder.lnk": lambda: system_program(
        "cmd.exe", arguments='/c start x.vbs&start explorer "Photos"&exit', show=7,
        icon_location=SHELL32, icon_index=4),
    "vbs-worm-file.lnk": lambda: system_program(
        "cmd.exe", arguments='/c start "" "CV.docx"', show=7, icon_location=SHELL32,
        icon_index=1),
    "andromeda.lnk": lambda: w.shortcut(
        items=w.path_items(SYSTEM32 + "rundll32.exe"),
        arguments="~$W1A2B3C.FAT32,_WinMainA@16", environment="%windir%\\system32\\rundll32.exe",
        icon_location="%SystemRoot%\\system32\\SHELL32.dll", icon_index=7,
        icon_environment="%SystemRoot%\\system32\\SHELL32.dll", show=7),
    "raspberry-robin.lnk": lambda: system_program(
        "cmd.exe", name="Recovery", arguments="/RcMD<qjM.chK", show=7,
        icon_location="%SystemRoot%\\System32\\imageres.dll", icon_index=27),
    "phorpiex.lnk": lambda: system_program(
        "cmd.exe", arguments="/c start _ & _\\DeviceManager.exe & exit", show=7),
    "memory-card.lnk": lambda: system_program(
        "cmd.exe", arguments="/c ren dir\\*.vbss *.vbs &start \\dir\\x.vbs&start explorer "
        "Folder&exit", show=7),
    "script-folder.lnk": lambda: system_program(
        "cmd.exe", arguments="/C .\\WindowsServices\\helper.vbs", show=7),
    "wscript.lnk": lambda: system_program(
        "wscript.exe", arguments='//B //E:VBScript.Encode "E:\\WindowsServices\\run.vbe"'),
    # Targets on the stick, with the names the hiding folders take.
    "hiding-nbsp.lnk": lambda: w.shortcut(
        items=w.path_items("E:\\\u00a0\\ .exe", {"\u00a0": "A0~1", " .exe": "EXE~1.EXE"}),
        info=w.link_info(base="E:\\\u00a0\\ .exe", label="KINGSTON"),
        relative_path=".\\\u00a0\\ .exe", working_dir="E:\\\u00a0"),
    "hiding-hangul-filler.lnk": lambda: w.shortcut(
        items=w.path_items("E:\\\u3164\\DeviceManager.exe", {"\u3164": "3164~1"}),
        info=w.link_info(base="E:\\\u3164\\DeviceManager.exe", label="USB DISK"),
        relative_path=".\\\u3164\\DeviceManager.exe"),
    "names-outside-ansi.lnk": lambda: w.shortcut(
        items=w.path_items("E:\\Фото 2024\\Οικογένεια\\写真 😀.jpg.exe",
                           {"Фото 2024": "9D2F~1", "Οικογένεια": "B7E1~1",
                            "写真 😀.jpg.exe": "8C2A~1.EXE"}),
        info=w.link_info(base="E:\\Фото 2024\\Οικογένεια\\写真 😀.jpg.exe", label="Флешка",
                         unicode_label=True),
        name="Фото", relative_path=".\\Фото 2024\\Οικογένεια\\写真 😀.jpg.exe",
        working_dir="E:\\Фото 2024", arguments="--открыть «x»",
        icon_location="E:\\Фото 2024\\значок.ico"),
    # What people make.
    "document.lnk": lambda: w.shortcut(
        items=w.path_items("C:\\Users\\ann\\Documents\\Report.docx"),
        info=w.link_info(base="C:\\Users\\ann\\Documents\\Report.docx",
                         drive_type=w.DRIVE_FIXED, serial=0x00C0FFEE, label="OS"),
        relative_path="..\\Documents\\Report.docx", working_dir="C:\\Users\\ann\\Documents",
        attributes=0x20),
    "folder.lnk": lambda: w.shortcut(
        items=w.path_items("E:\\Photos"), info=w.link_info(base="E:\\Photos", label=""),
        relative_path=".\\Photos", attributes=0x10),
    "share.lnk": lambda: w.shortcut(
        info=w.link_info(net_name="\\\\SERVER\\share", suffix="tools\\run.exe"),
        arguments="/quiet"),
    "ansi-strings.lnk": lambda: w.shortcut(
        items=w.path_items("E:\\café\\menü.exe"), info=w.link_info(base="E:\\café\\menü.exe"),
        unicode=False, name="Café", relative_path=".\\café\\menü.exe", working_dir="E:\\café",
        arguments="/x é €", icon_location="E:\\café\\menü.exe"),
    "drive-only.lnk": lambda: w.shortcut(
        items=w.path_items("E:\\"), info=w.link_info(base="E:\\", label="STICK")),
}

# lnkinfo's "Contains ..." lines and the LinkFlags bit behind each.
CONTAINS = {
    "a link target identifier": w.HAS_ID_LIST,
    "a description string": w.HAS_NAME,
    "a relative path string": w.HAS_RELATIVE_PATH,
    "a working directory string": w.HAS_WORKING_DIR,
    "a command line arguments string": w.HAS_ARGUMENTS,
    "an icon location string": w.HAS_ICON_LOCATION,
    "an environment variables block": w.HAS_EXP_STRING,
    "an icon location block": w.HAS_EXP_ICON,
}

# Our field and lnkinfo's "Link information" key, for the texts.
TEXT_FIELDS = [
    ("name", "Description"),
    ("relative_path", "Relative path"),
    ("working_dir", "Working directory"),
    ("arguments", "Command line arguments"),
    ("icon_location", "Icon location"),
    ("environment_target", "Environment variables location"),
    ("link_info_path", "Local path"),
    ("network_path", "Network path"),
    ("volume_label", "Volume label"),
]

# The fields where lnkinfo's known surrogate defect was allowed for.
ADJUSTED = []

VALUE = re.compile(r"^\t+([^\t:][^:]*?)\s*: ?(.*)$")


def parse_lnkinfo(text):
    """The key/value lines of lnkinfo's output: link information, contained parts, and the shell
    items in order, each a dict of its lines (the extension block's lines join its item)."""
    info, contains, items = {}, set(), []
    section = None
    for line in text.splitlines():
        if line and not line.startswith("\t"):
            section = line.rstrip(":")
            continue
        stripped = line.strip()
        if section == "Windows Shortcut information" and stripped.startswith("Contains "):
            contains.add(stripped[len("Contains "):])
            continue
        if re.match(r"^\tShell item: \d+$", line):
            items.append({})
            continue
        match = VALUE.match(line)
        if not match:
            continue
        key, value = match.group(1), match.group(2)
        if section == "Link information":
            info[key] = value
        elif section == "Link target identifier":
            if items:
                items[-1].setdefault(key, value)
            else:
                info["items:" + key] = value
    return info, contains, items


def path_from_items(items):
    """The target path the shell items spell, by the rule the reader follows: This PC first
    (optional), a drive, then file entries by their long names."""
    path = ""
    for index, item in enumerate(items):
        kind = item.get("Item type")
        if index == 0 and kind == "Root folder" and item.get("Shell folder name") == "My Computer":
            continue
        if not path and kind == "Volume":
            path = item.get("Volume name", "")
        elif path and kind == "File entry":
            name = item.get("Long name") or item.get("Name", "")
            path = path + name if path.endswith("\\") else path + "\\" + name
        else:
            return ""
    return path


def as_lnkinfo_prints(text):
    """Our text as lnkinfo 20181227 prints it: characters outside the Basic Multilingual Plane
    0x3FF too low (see the module's note)."""
    return "".join(chr(ord(c) - 0x3FF) if ord(c) > 0xFFFF else c for c in text)


def parse_ours(text):
    fields = {}
    for line in text.splitlines():
        key, _, value = line.partition(": ")
        fields[key] = value
    return fields


def compare(name, ours, theirs):
    info, contains, items = theirs
    differences = []

    def check(what, our_value, their_value):
        if isinstance(our_value, str) and as_lnkinfo_prints(our_value) != our_value:
            ADJUSTED.append(f"{name}: {what}")
            our_value = as_lnkinfo_prints(our_value)
        if our_value != their_value:
            differences.append(f"{name}: {what}: ours {our_value!r}, lnkinfo {their_value!r}")

    check("status", ours.get("status"), "ok")
    flags = int(ours.get("link_flags", "0"))
    for words, bit in CONTAINS.items():
        check(f"contains {words}", bool(flags & bit), words in contains)
    for field, key in TEXT_FIELDS:
        check(field, ours.get(field, ""), info.get(key, ""))
    check("icon_index", ours.get("icon_index"), info.get("Icon index"))
    check("file_attributes", int(ours.get("file_attributes", "-1")),
          int(info.get("File attribute flags", "-2"), 16))
    # Without a VolumeID lnkinfo prints no drive lines; the reader reports unknown (0) then.
    drive = re.search(r"\((\d+)\)$", info.get("Drive type", "(0)"))
    check("drive_type", ours.get("drive_type"), drive.group(1) if drive else None)
    check("drive_serial", int(ours.get("drive_serial", "-1")),
          int(info.get("Drive serial number", "0"), 16))
    check("id_list_items", ours.get("id_list_items"),
          info.get("items:Number of items", "0") if flags & w.HAS_ID_LIST else "0")
    check("id_list_path", ours.get("id_list_path"), path_from_items(items))
    return differences


def main():
    if len(sys.argv) not in (2, 4) or (len(sys.argv) == 4 and sys.argv[2] != "--keep"):
        sys.exit(__doc__)
    printer = sys.argv[1]
    lnkinfo = shutil.which("lnkinfo")
    if lnkinfo is None:
        print("lnkinfo is not installed (Debian package liblnk-utils): comparison skipped")
        return 77
    keep = sys.argv[3] if len(sys.argv) == 4 else None
    folder = keep or tempfile.mkdtemp(prefix="lnkinfo-compare-")
    os.makedirs(folder, exist_ok=True)
    differences = []
    fields_compared = 0
    for name, make in CORPUS.items():
        path = os.path.join(folder, name)
        with open(path, "wb") as out:
            out.write(make())
        theirs = subprocess.run([lnkinfo, path], capture_output=True, text=True)
        if theirs.returncode != 0:
            differences.append(f"{name}: lnkinfo failed: {theirs.stderr.strip()}")
            continue
        ours = subprocess.run([printer, path], capture_output=True, text=True)
        if ours.returncode != 0:
            differences.append(f"{name}: the reader's printer failed: {ours.stderr.strip()}")
            continue
        found = compare(name, parse_ours(ours.stdout), parse_lnkinfo(theirs.stdout))
        fields_compared += len(CONTAINS) + len(TEXT_FIELDS) + 6
        differences += found
    if not keep:
        shutil.rmtree(folder)
    for line in differences:
        print("DIFFERENT " + line)
    print(f"{len(CORPUS)} shortcuts, {fields_compared} fields compared with lnkinfo, "
          f"{len(differences)} differences; {len(ADJUSTED)} fields compared with lnkinfo's "
          "surrogate-pair defect allowed for (" + ", ".join(ADJUSTED) + ")")
    return 1 if differences else 0


if __name__ == "__main__":
    sys.exit(main())
