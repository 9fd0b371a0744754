"""Writes Windows shortcut (.lnk) files in the Shell Link Binary File Format of Microsoft's
[MS-SHLLINK] documentation, small but complete enough for the Windows shell to open.

Layout written (all integers little-endian):
  ShellLinkHeader   0x4C bytes: HeaderSize, LinkCLSID 00021401-0000-0000-C000-000000000046,
                    LinkFlags, FileAttributes, three FILETIMEs, FileSize, IconIndex,
                    ShowCommand, HotKey, three reserved fields
  LinkTargetIDList  optional (HasLinkTargetIDList): one item, the "This PC" folder, then the
                    two-byte TerminalID
  LinkInfo          optional (HasLinkInfo): VolumeIDAndLocalBasePath, a fixed-drive VolumeID and
                    the target as an ANSI LocalBasePath
  StringData        each a 16-bit character count then UTF-16LE (IsUnicode): NAME_STRING,
                    RELATIVE_PATH, WORKING_DIR, COMMAND_LINE_ARGUMENTS, in that order
  ExtraData         only the four-byte TerminalBlock

The virus writes the target in both forms; newer Windows stores arguments and relative paths
in UTF-16 only, which is why the clean-up must look for both encodings.
"""
import datetime
import struct
import sys

HAS_ID_LIST, HAS_LINK_INFO, HAS_NAME, HAS_RELATIVE_PATH = 0x1, 0x2, 0x4, 0x8
HAS_WORKING_DIR, HAS_ARGUMENTS, IS_UNICODE = 0x10, 0x20, 0x80
LINK_CLSID = bytes.fromhex("0114020000000000c000000000000046")
THIS_PC_CLSID = bytes.fromhex("e04fd020ea3a6910a2d808002b30309d")  # 20D04FE0-3AEA-1069-...
SW_SHOWMINNOACTIVE = 7  # what the virus asks for: no window flashes up
SW_SHOWNORMAL = 1


def _counted_utf16(text):
    return struct.pack("<H", len(text.encode("utf-16-le")) // 2) + text.encode("utf-16-le")


def _link_info(local_base_path):
    label = b"\0"
    volume_id = struct.pack("<IIII", 16 + len(label), 3, 0x1234ABCD, 16) + label  # DRIVE_FIXED
    header_size = 0x1C
    base = local_base_path.encode("ascii") + b"\0"
    suffix = b"\0"
    volume_offset = header_size
    base_offset = volume_offset + len(volume_id)
    suffix_offset = base_offset + len(base)
    size = suffix_offset + len(suffix)
    header = struct.pack("<IIIIIII", size, header_size, 1, volume_offset, base_offset, 0,
                         suffix_offset)
    return header + volume_id + base + suffix


def shortcut(target=None, name=None, relative_path=None, working_dir=None, arguments=None,
             show=SW_SHOWNORMAL):
    """Bytes of a shortcut. target: the ANSI LocalBasePath (None: no LinkInfo, the target is
    then known only from the UTF-16 strings)."""
    flags = IS_UNICODE | HAS_ID_LIST
    strings = b""
    for bit, text in ((HAS_NAME, name), (HAS_RELATIVE_PATH, relative_path),
                      (HAS_WORKING_DIR, working_dir), (HAS_ARGUMENTS, arguments)):
        if text is not None:
            flags |= bit
            strings += _counted_utf16(text)
    item = struct.pack("<HBB", 2 + 2 + 16, 0x1F, 0x50) + THIS_PC_CLSID
    id_list = struct.pack("<H", len(item) + 2) + item + b"\0\0"
    info = b""
    if target is not None:
        flags |= HAS_LINK_INFO
        info = _link_info(target)
    header = struct.pack("<I16sIIQQQIiIHHII", 0x4C, LINK_CLSID, flags, 0x20, 0, 0, 0, 0, 0,
                         show, 0, 0, 0, 0)
    assert len(header) == 0x4C
    return header + id_list + info + strings + b"\0\0\0\0"


# The kinds of shortcut the stick corpus uses.
VARIANTS = {
    # What a shortcut virus leaves in place of a folder: cmd.exe in the ANSI target, the script
    # and the folder it opens afterwards only in the UTF-16 arguments.
    "virus": lambda: shortcut(
        target="C:\\Windows\\System32\\cmd.exe",
        relative_path="..\\..\\..\\Windows\\System32\\cmd.exe",
        arguments="/c start wscript /e:VBScript.Encode x.vbe & start explorer Photos",
        show=SW_SHOWMINNOACTIVE),
    # No LinkInfo: every word that gives it away is in UTF-16 only.
    "utf16": lambda: shortcut(
        relative_path="..\\Windows\\System32\\WindowsPowerShell\\v1.0\\powershell.exe",
        arguments="-w hidden -c \"iex (gc .\\u.txt -raw)\"",
        show=SW_SHOWMINNOACTIVE),
    # The user's own shortcuts, which must stay.
    "document": lambda: shortcut(
        target="C:\\Users\\ann\\Documents\\Report.docx",
        relative_path="..\\Documents\\Report.docx",
        working_dir="C:\\Users\\ann\\Documents"),
    "json": lambda: shortcut(
        target="C:\\Users\\ann\\data.json",
        relative_path="..\\data.json",
        working_dir="C:\\Users\\ann"),
}

if __name__ == "__main__":
    if len(sys.argv) != 3 or sys.argv[1] not in VARIANTS:
        sys.exit("usage: make_lnk.py {%s} OUT.lnk" % ",".join(VARIANTS))
    with open(sys.argv[2], "wb") as out:
        out.write(VARIANTS[sys.argv[1]]())


# --- Shortcuts laid out as the Windows shell saves them -------------------------------------
#
# What Explorer writes for a shortcut to a file (MS-SHLLINK 2.2 to 2.5; its section 3 sample
# shows the same shape for "C:\test\a.txt"):
#   LinkTargetIDList  "This PC" root item, a drive item ("E:\"), then one file-entry item per
#                     path component: class 0x31 (folder) or 0x32 (file), size, FAT modification
#                     time, attributes, the 8.3 short name in the ANSI code page, and the
#                     0xBEEF0004 extension block that carries the long name in UTF-16
#   LinkInfo          VolumeID (drive type, serial number, label) and the target as
#                     LocalBasePath; where the path does not fit the ANSI code page, the 0x24
#                     header adds LocalBasePathUnicode
#   StringData        NAME, RELATIVE_PATH, WORKING_DIR, COMMAND_LINE_ARGUMENTS, ICON_LOCATION,
#                     each counted UTF-16
#   ExtraData         EnvironmentVariableDataBlock (HasExpString) when the target was typed with
#                     a variable, IconEnvironmentDataBlock (HasExpIcon) for an icon path with one,
#                     then the terminal block
# The shell item layout is not part of MS-SHLLINK itself; the field order used here is the one
# the section 3 sample shows, with the version 9 extension block Windows 10 writes.

HAS_ICON_LOCATION, HAS_EXP_STRING, HAS_EXP_ICON = 0x40, 0x200, 0x4000
DRIVE_REMOVABLE, DRIVE_FIXED = 2, 3
LINK_INFO_VOLUME_ID_AND_LOCAL_BASE_PATH = 0x1
ENVIRONMENT_BLOCK, ICON_ENVIRONMENT_BLOCK = 0xA0000001, 0xA0000007
FILE_ATTRIBUTE_DIRECTORY, FILE_ATTRIBUTE_ARCHIVE = 0x10, 0x20
SW_SHOWMINNOACTIVE_WIN = 7
# shell32.dll icon indexes Explorer shows: 3 a closed folder, 7 a removable drive, 1 a document.
SHELL32 = "%SystemRoot%\\System32\\SHELL32.dll"
ICON_FOLDER, ICON_REMOVABLE, ICON_DOCUMENT = 3, 7, 1
# 2021-03-14 09:26:40 UTC as a FILETIME (100 ns ticks since 1601) and as FAT date and time.
WIN_FILETIME = (datetime.datetime(2021, 3, 14, 9, 26, 40) -
                datetime.datetime(1601, 1, 1)) // datetime.timedelta(microseconds=1) * 10
FAT_DATE, FAT_TIME = ((2021 - 1980) << 9) | (3 << 5) | 14, (9 << 11) | (26 << 5) | (40 // 2)


def _win_ansi(text):
    """The ANSI (Windows-1252) form of a text; what does not fit becomes "?", as the
    best-fit conversion of WideCharToMultiByte leaves it."""
    return text.encode("cp1252", "replace")


def _win_short_name(name, is_dir):
    """An 8.3 name as FAT generates it for a long name: upper case, characters 8.3 does not
    allow dropped, the base cut to six characters and "~1" added where the name does not fit."""
    allowed = set("ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789$%'-_@~`!(){}^#&")
    base, _, ext = name.rpartition(".") if "." in name.lstrip(".") else (name, "", "")
    short_base = "".join(c for c in base.upper() if c in allowed)
    short_ext = "".join(c for c in ext.upper() if c in allowed)[:3]
    if not (short_base == base.upper() and short_ext == ext.upper() and 0 < len(base) <= 8 and
            len(ext) <= 3):
        short_base = (short_base or "_")[:6] + "~1"
    return short_base + ("." + short_ext if short_ext else "")


def win_file_entry_item(name, is_dir=False, size=0):
    """A file-entry shell item for one path component, with the long name in the 0xBEEF0004
    extension block (version 9)."""
    short = _win_ansi(_win_short_name(name, is_dir)) + b"\0"
    if len(short) % 2:
        short += b"\0"  # the primary name is padded to a 16-bit boundary
    head = struct.pack("<BBIHHH", 0x31 if is_dir else 0x32, 0, 0 if is_dir else size, FAT_DATE,
                       FAT_TIME, FILE_ATTRIBUTE_DIRECTORY if is_dir else FILE_ATTRIBUTE_ARCHIVE)
    # The extension block, field by field: version 9, the signature, creation and access time
    # (FAT), the identifier 0x2E of version 9, an empty word, the NTFS file reference (none on
    # FAT), eight unknown bytes, the size of a localized name (none), two unknown double words,
    # the long name, and last the offset of this block within the item.
    ext_offset = 2 + len(head) + len(short)
    ext = struct.pack("<HIHHHHHH8s8sHII", 9, 0xBEEF0004, FAT_DATE, FAT_TIME, FAT_DATE, FAT_TIME,
                      0x2E, 0, b"", b"", 0, 0, 0)
    ext += name.encode("utf-16-le") + b"\0\0" + struct.pack("<H", ext_offset)
    item = head + short + struct.pack("<H", 2 + len(ext)) + ext
    return struct.pack("<H", 2 + len(item)) + item


def win_drive_item(drive):
    """The drive item under "This PC": class 0x2F and "E:\\" in a 22-byte field."""
    return struct.pack("<HB", 0x19, 0x2F) + (drive.upper() + ":\\").encode("ascii").ljust(22,
                                                                                        b"\0")


def win_id_list(target, target_is_dir=False, size=0):
    """The LinkTargetIDList of a local path "E:\\dir\\name": This PC, the drive, each part."""
    drive, rest = target[0], target[3:]
    parts = [p for p in rest.split("\\") if p != ""] if rest else []
    items = struct.pack("<HBB", 0x14, 0x1F, 0x50) + THIS_PC_CLSID + win_drive_item(drive)
    for i, part in enumerate(parts):
        last = i == len(parts) - 1
        items += win_file_entry_item(part, is_dir=(not last) or target_is_dir,
                                     size=size if last else 0)
    items += b"\0\0"
    return struct.pack("<H", len(items)) + items


def win_volume_id(drive_type, serial, label):
    """VolumeID: the label in ANSI at offset 0x10, or in UTF-16 behind VolumeLabelOffsetUnicode
    (offset 0x14 read as "use the Unicode label") where it does not fit the ANSI code page."""
    if _win_ansi(label).decode("cp1252") == label:
        data = _win_ansi(label) + b"\0"
        return struct.pack("<IIII", 16 + len(data), drive_type, serial, 0x10) + data
    data = label.encode("utf-16-le") + b"\0\0"
    return struct.pack("<IIIII", 20 + len(data), drive_type, serial, 0x14, 0x14) + data


def win_link_info(target, drive_type, serial, label):
    volume = win_volume_id(drive_type, serial, label)
    base = _win_ansi(target) + b"\0"
    unicode = _win_ansi(target).decode("cp1252") != target
    header_size = 0x24 if unicode else 0x1C
    volume_offset = header_size
    base_offset = volume_offset + len(volume)
    suffix_offset = base_offset + len(base)
    body = volume + base + b"\0"
    offsets = [volume_offset, base_offset, 0, suffix_offset]
    if unicode:
        base_unicode_offset = suffix_offset + 1
        suffix_unicode_offset = base_unicode_offset + 2 * (len(target) + 1)
        body += target.encode("utf-16-le") + b"\0\0" + b"\0\0"
        offsets += [base_unicode_offset, suffix_unicode_offset]
    size = header_size + len(body)
    return struct.pack("<III" + "I" * len(offsets), size, header_size,
                       LINK_INFO_VOLUME_ID_AND_LOCAL_BASE_PATH, *offsets) + body


def win_expandable_block(signature, text):
    """EnvironmentVariableDataBlock or IconEnvironmentDataBlock: 260 ANSI bytes and 520 bytes
    of UTF-16, each NUL-padded (0x314 bytes in all)."""
    ansi = _win_ansi(text)[:259].ljust(260, b"\0")
    wide = text.encode("utf-16-le")[:518].ljust(520, b"\0")
    return struct.pack("<II", 0x314, signature) + ansi + wide


def win_shortcut(target, arguments=None, working_dir=None, relative_path=None, name=None,
                 icon=None, icon_index=0, env_target=None, drive_type=DRIVE_FIXED,
                 serial=0x5A3C19E2, label="", target_is_dir=False, target_size=0,
                 show=SW_SHOWNORMAL):
    """Bytes of a shortcut in the shape Explorer saves: target is the full local path the ID
    list and LinkInfo name ("C:\\Windows\\System32\\cmd.exe", "E:\\\u00a0\\x.exe");
    env_target the same path as typed with a variable ("%windir%\\system32\\rundll32.exe");
    drive_type, serial and label describe the target's volume; icon a path with or without a
    variable, shown with icon_index."""
    flags = IS_UNICODE | HAS_ID_LIST | HAS_LINK_INFO
    strings = b""
    for bit, text in ((HAS_NAME, name), (HAS_RELATIVE_PATH, relative_path),
                      (HAS_WORKING_DIR, working_dir), (HAS_ARGUMENTS, arguments),
                      (HAS_ICON_LOCATION, icon)):
        if text is not None:
            flags |= bit
            strings += _counted_utf16(text)
    extra = b""
    if env_target is not None:
        flags |= HAS_EXP_STRING
        extra += win_expandable_block(ENVIRONMENT_BLOCK, env_target)
    if icon is not None and "%" in icon:
        flags |= HAS_EXP_ICON
        extra += win_expandable_block(ICON_ENVIRONMENT_BLOCK, icon)
    attributes = FILE_ATTRIBUTE_DIRECTORY if target_is_dir else FILE_ATTRIBUTE_ARCHIVE
    header = struct.pack("<I16sIIQQQIiIHHII", 0x4C, LINK_CLSID, flags, attributes, WIN_FILETIME,
                         WIN_FILETIME, WIN_FILETIME, target_size, icon_index, show, 0, 0, 0, 0)
    return (header + win_id_list(target, target_is_dir, target_size) +
            win_link_info(target, drive_type, serial, label) + strings + extra + b"\0\0\0\0")
