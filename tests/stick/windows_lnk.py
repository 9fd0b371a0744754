"""Writes shortcuts (.lnk) the way the Windows shell saves them, in the Shell Link Binary File
Format of Microsoft's [MS-SHLLINK], with the shell items of Windows 7 and later in the ID list.

What a shortcut saved by Explorer holds, and what this writer can put in:
  ShellLinkHeader   0x4C bytes (2.1): flags, the target's attributes, icon index, show command
  LinkTargetIDList  (2.2) "This PC" (root item 0x1F, CLSID 20D04FE0-3AEA-1069-A2D8-08002B30309D),
                    the drive (volume item 0x2F, "E:\\"), then one file entry per path step (0x31
                    folder, 0x32 file): the 8.3 name in ANSI, then extension block 0xBEEF0004
                    (version 9, as Windows 8.1 and 10 write it) holding the long name in UTF-16
  LinkInfo          (2.3) VolumeID with drive type, serial number and label (ANSI, or UTF-16 at
                    offset 0x14), LocalBasePath and CommonPathSuffix (ANSI, plus the Unicode
                    offsets of a 0x24-byte header when a name is outside ANSI); or a
                    CommonNetworkRelativeLink with the share name
  StringData        (2.4) name, relative path, working folder, arguments, icon location:
                    a 16-bit count, then UTF-16 (IsUnicode) or ANSI
  ExtraData         (2.5) EnvironmentVariableDataBlock (0xA0000001) and
                    IconEnvironmentDataBlock (0xA0000007), 0x314 bytes each, then the terminal

ANSI here is Windows-1252; a character outside it is written as '?', as Windows does when it
converts a name for the ANSI fields.
"""
import struct

from make_lnk import LINK_CLSID, THIS_PC_CLSID

HAS_ID_LIST, HAS_LINK_INFO, HAS_NAME, HAS_RELATIVE_PATH = 0x1, 0x2, 0x4, 0x8
HAS_WORKING_DIR, HAS_ARGUMENTS, HAS_ICON_LOCATION, IS_UNICODE = 0x10, 0x20, 0x40, 0x80
HAS_EXP_STRING, HAS_EXP_ICON = 0x200, 0x4000
DRIVE_REMOVABLE, DRIVE_FIXED = 2, 3
FAT_TIME = 0x5A215C3B  # 2025-01-01 11:33:54 as a FAT date and time


def ansi(text):
    return text.encode("cp1252", errors="replace")


def utf16(text):
    return text.encode("utf-16-le")


def _item(type_byte, body):
    return struct.pack("<HB", len(body) + 3, type_byte) + body


def my_computer():
    return _item(0x1F, b"\x50" + THIS_PC_CLSID)


def volume(name):
    return _item(0x2F, ansi(name).ljust(20, b"\0") + b"\0\0")


def file_entry(short_name, long_name, folder=False):
    body = b"\0" + struct.pack("<IIH", 0 if folder else 4096, FAT_TIME, 0x10 if folder else 0x20)
    body += ansi(short_name) + b"\0"
    if (3 + len(body)) % 2:
        body += b"\0"
    block_offset = 3 + len(body)
    block = struct.pack("<HHIIIH", 0, 9, 0xBEEF0004, FAT_TIME, FAT_TIME, 0x2E)
    block += struct.pack("<HIIII", 0, 0x1234, 0x00050000, 0, 0)  # NTFS file reference
    block += struct.pack("<HII", 0, 0, 0)  # no localised name
    block += utf16(long_name) + b"\0\0" + struct.pack("<H", block_offset)
    block = struct.pack("<H", len(block)) + block[2:]
    return _item(0x31 if folder else 0x32, body + block)


def path_items(path, short_names=None):
    """The ID list of a path "E:\\dir\\name.ext" under This PC; short_names maps a long name to
    the 8.3 name the file system gave it (else the long name itself)."""
    drive, _, rest = path.partition("\\")
    parts = [p for p in rest.split("\\") if p]
    items = [my_computer(), volume(drive + "\\")]
    for index, part in enumerate(parts):
        short = (short_names or {}).get(part, part)
        items.append(file_entry(short, part, folder=index + 1 < len(parts)))
    return items


def _volume_id(drive_type, serial, label, unicode_label):
    if unicode_label:
        return struct.pack("<IIIII", 0x14 + len(utf16(label)) + 2, drive_type, serial, 0x14,
                           0x14) + utf16(label) + b"\0\0"
    return struct.pack("<IIII", 0x10 + len(ansi(label)) + 1, drive_type, serial,
                       0x10) + ansi(label) + b"\0"


def link_info(base=None, suffix="", drive_type=DRIVE_REMOVABLE, serial=0x1A2B3C4D, label="",
              unicode_label=False, net_name=None):
    """LinkInfo of a local target (base, with its volume) or of a share (net_name)."""
    needs_unicode = any(ansi(t).decode("cp1252") != t for t in (base or "", suffix))
    header_size = 0x24 if needs_unicode else 0x1C
    body = b""
    flags = volume_offset = base_offset = network_offset = 0
    if base is not None:
        flags |= 1
        volume_offset = header_size
        body += _volume_id(drive_type, serial, label, unicode_label)
        base_offset = header_size + len(body)
        body += ansi(base) + b"\0"
    if net_name is not None:
        flags |= 2
        network_offset = header_size + len(body)
        name = ansi(net_name) + b"\0"
        body += struct.pack("<IIIII", 0x14 + len(name), 2, 0x14, 0, 0x00020000) + name
    suffix_offset = header_size + len(body)
    body += ansi(suffix) + b"\0"
    unicode_offsets = b""
    if needs_unicode:
        if (header_size + len(body)) % 2:
            body += b"\0"
        base_unicode = 0
        if base is not None:
            base_unicode = header_size + len(body)
            body += utf16(base) + b"\0\0"
        suffix_unicode = header_size + len(body)
        body += utf16(suffix) + b"\0\0"
        unicode_offsets = struct.pack("<II", base_unicode, suffix_unicode)
    header = struct.pack("<IIIIIII", header_size + len(body), header_size, flags, volume_offset,
                         base_offset, network_offset, suffix_offset) + unicode_offsets
    return header + body


def environment_block(signature, target):
    return (struct.pack("<II", 0x314, signature) + ansi(target)[:259].ljust(260, b"\0") +
            utf16(target)[:518].ljust(520, b"\0"))


def shortcut(items=None, info=None, name=None, relative_path=None, working_dir=None,
             arguments=None, icon_location=None, icon_index=0, show=1, environment=None,
             icon_environment=None, unicode=True, attributes=0x20):
    flags = IS_UNICODE if unicode else 0
    strings = b""
    for bit, text in ((HAS_NAME, name), (HAS_RELATIVE_PATH, relative_path),
                      (HAS_WORKING_DIR, working_dir), (HAS_ARGUMENTS, arguments),
                      (HAS_ICON_LOCATION, icon_location)):
        if text is not None:
            flags |= bit
            data = utf16(text) if unicode else ansi(text)
            strings += struct.pack("<H", len(data) // 2 if unicode else len(data)) + data
    id_list = b""
    if items is not None:
        flags |= HAS_ID_LIST
        joined = b"".join(items) + b"\0\0"
        id_list = struct.pack("<H", len(joined)) + joined
    if info is not None:
        flags |= HAS_LINK_INFO
    extra = b""
    if environment is not None:
        flags |= HAS_EXP_STRING
        extra += environment_block(0xA0000001, environment)
    if icon_environment is not None:
        flags |= HAS_EXP_ICON
        extra += environment_block(0xA0000007, icon_environment)
    filetime = 0x01DB5C3B00000000
    header = struct.pack("<I16sIIQQQIiIHHII", 0x4C, LINK_CLSID, flags, attributes, filetime,
                         filetime, filetime, 4096, icon_index, show, 0, 0, 0, 0)
    return header + id_list + (info or b"") + strings + extra + b"\0\0\0\0"
