#pragma once
// Reads a Windows shortcut (.lnk) in the Shell Link Binary File Format that Microsoft documents as
// [MS-SHLLINK]. Only what the clean-up needs to judge a shortcut is kept: every form in which the
// file names its target (a virus may make them disagree), the arguments, the working folder and
// the icon. The bytes come from a stick and are hostile: every offset and count is checked
// against the span before it is used, and a file that breaks the format yields a failure, never a
// half-filled result.
#include <cstdint>
#include <span>
#include <string>

// LinkFlags bits, as the format numbers them.
constexpr uint32_t LNK_HAS_ID_LIST = 0x1;
constexpr uint32_t LNK_HAS_LINK_INFO = 0x2;
constexpr uint32_t LNK_HAS_NAME = 0x4;
constexpr uint32_t LNK_HAS_RELATIVE_PATH = 0x8;
constexpr uint32_t LNK_HAS_WORKING_DIR = 0x10;
constexpr uint32_t LNK_HAS_ARGUMENTS = 0x20;
constexpr uint32_t LNK_HAS_ICON_LOCATION = 0x40;
constexpr uint32_t LNK_IS_UNICODE = 0x80;
constexpr uint32_t LNK_FORCE_NO_LINK_INFO = 0x100;
constexpr uint32_t LNK_HAS_EXP_STRING = 0x200;

// VolumeID's DriveType, as GetDriveType numbers it.
constexpr uint32_t LNK_DRIVE_UNKNOWN = 0;
constexpr uint32_t LNK_DRIVE_REMOVABLE = 2;
constexpr uint32_t LNK_DRIVE_FIXED = 3;
constexpr uint32_t LNK_DRIVE_REMOTE = 4;
constexpr uint32_t LNK_DRIVE_CDROM = 5;

// Every text is UTF-8. UTF-16 from the file is converted as it stands; a lone surrogate (which
// Windows accepts in names) is kept in the generalised UTF-8 form, so nothing is lost. Texts the
// file stores in the system's ANSI code page are read as Windows-1252, the code page of the
// Western European Windows installations; only their ASCII part matters to the rules.
struct ShellLink {
    uint32_t link_flags = 0;
    uint32_t file_attributes = 0;
    uint32_t show_command = 0;
    int32_t icon_index = 0;

    // The target as the ID list spells it when the list leads through "This PC" (or a drive
    // item) to file-system items: "E:\dir\name.exe", each item's long name where it carries one.
    // Empty when the list is absent or names no file-system path (a control-panel item, say).
    std::string id_list_path;
    // The number of items in the ID list, 0 without one.
    uint32_t id_list_items = 0;

    // LinkInfo: LocalBasePath joined with CommonPathSuffix (the Unicode forms where present);
    // empty without LinkInfo or without a local path.
    std::string link_info_path;
    // From LinkInfo's network part: the share name ("\\server\share") joined with the suffix.
    std::string network_path;
    // From LinkInfo's VolumeID; LNK_DRIVE_UNKNOWN and empty when there is none.
    uint32_t drive_type = LNK_DRIVE_UNKNOWN;
    uint32_t drive_serial = 0;
    std::string volume_label;

    // StringData, in the order the format stores it; empty when the flag is not set.
    std::string name;
    std::string relative_path;
    std::string working_dir;
    std::string arguments;
    std::string icon_location;

    // ExtraData: the EnvironmentVariableDataBlock's target (Unicode form where it is not empty),
    // unexpanded ("%windir%\system32\rundll32.exe"); the IconEnvironmentDataBlock's likewise.
    std::string environment_target;
    std::string icon_environment;
    // True when the extra data ended in a block that does not fit the file instead of the
    // terminal block; what came before it is kept. The shell itself reads past such an end.
    bool extra_data_cut = false;
};

enum class LnkStatus {
    ok,
    not_a_link, // wrong header size or class identifier: not a shortcut at all
    truncated,  // a structure runs past the end of the file
    malformed,  // a size or offset contradicts the format
};

// Reads `bytes` into `link`, which is left as it was unless the result is ok.
LnkStatus lnk_read(std::span<const uint8_t> bytes, ShellLink& link);
const char* lnk_status_text(LnkStatus status);
