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
