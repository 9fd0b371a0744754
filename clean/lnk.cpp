// Reads a shortcut in the Shell Link Binary File Format of Microsoft's [MS-SHLLINK].
//
// Layout (integers little-endian; section numbers of [MS-SHLLINK]):
//
//   ShellLinkHeader (2.1), 0x4C bytes
//     0x00 HeaderSize u32 = 0x4C      0x04 LinkCLSID = 00021401-0000-0000-C000-000000000046
//     0x14 LinkFlags u32 (2.1.1)      0x18 FileAttributes u32
//     0x1C CreationTime, 0x24 AccessTime, 0x2C WriteTime: FILETIME u64 each
//     0x34 FileSize u32   0x38 IconIndex i32   0x3C ShowCommand u32
//     0x40 HotKey u16   0x42 Reserved1 u16   0x44 Reserved2 u32   0x48 Reserved3 u32
//   LinkTargetIDList (2.2), with HasLinkTargetIDList
//     IDListSize u16, then the IDList (2.2.1): ItemIDs (2.2.2) {ItemIDSize u16, counting
//     itself; Data}, ended by a TerminalID u16 = 0. The Data is the shell's own (see below).
//   LinkInfo (2.3), with HasLinkInfo; offsets count from its first byte
//     LinkInfoSize u32, LinkInfoHeaderSize u32 (0x1C; >= 0x24 adds the Unicode offsets),
//     LinkInfoFlags u32 (0x1 VolumeIDAndLocalBasePath, 0x2 CommonNetworkRelativeLinkAndPath-
//     Suffix), VolumeIDOffset, LocalBasePathOffset, CommonNetworkRelativeLinkOffset,
//     CommonPathSuffixOffset [, LocalBasePathOffsetUnicode, CommonPathSuffixOffsetUnicode]: u32;
//     the strings are NUL-terminated, ANSI or UTF-16 by their offset's name.
//     VolumeID (2.3.1), offsets from its first byte: VolumeIDSize u32 (> 0x10), DriveType u32,
//       DriveSerialNumber u32, VolumeLabelOffset u32; a VolumeLabelOffset of 0x14 means that
//       VolumeLabelOffsetUnicode u32 follows and the label is UTF-16.
//     CommonNetworkRelativeLink (2.3.2), offsets from its first byte: Size u32 (>= 0x14),
//       Flags u32, NetNameOffset u32, DeviceNameOffset u32, NetworkProviderType u32
//       [, NetNameOffsetUnicode u32, DeviceNameOffsetUnicode u32 when NetNameOffset > 0x14].
//   StringData (2.4): for HasName, HasRelativePath, HasWorkingDir, HasArguments and
//     HasIconLocation, in that order: CountCharacters u16, then as many UTF-16 units
//     (IsUnicode) or ANSI bytes, without a terminating NUL.
//   ExtraData (2.5): blocks {BlockSize u32, BlockSignature u32, data}, ended by a TerminalBlock
//     u32 below 4. EnvironmentVariableDataBlock (2.5.4, 0xA0000001) and IconEnvironment-
//     DataBlock (2.5.5, 0xA0000007): BlockSize 0x314, TargetAnsi 260 bytes, TargetUnicode 520
//     bytes, each NUL-terminated inside its field.
//
// Shell items. [MS-SHLLINK] leaves the ItemID data to the shell; the layouts read here are the
// ones public format documentation of Windows shell items gives (offsets from the item's size):
//   root folder  0 size u16, 2 type 0x1F, 3 sort index u8, 4 shell folder CLSID (16 bytes);
//                "This PC" (My Computer) is 20D04FE0-3AEA-1069-A2D8-08002B30309D
//   volume       0 size u16, 2 type 0x20..0x2F (mask 0x70) with 0x01 "has name", 3 the name in
//                ANSI, NUL-terminated, in a field of 20 bytes ("E:\")
//   file entry   0 size u16, 2 type 0x30..0x3F (mask 0x70; 0x04: the name is UTF-16), 3 u8,
//                4 file size u32, 8 modification time (FAT) u32, 12 attributes u16, 14 primary
//                name, NUL-terminated (ANSI padded to an even offset, or UTF-16), then extension
//                blocks {size u16 counting itself, version u16, signature u32, data}
//   extension block 0xBEEF0004 (Windows XP and later): 8 creation time u32, 12 access time u32,
//                16 u16; version >= 7: u16, NTFS file reference u64, u64; version >= 3: long
//                string size u16; version >= 9: u32; version >= 8: u32; version >= 3: the long
//                name, UTF-16, NUL-terminated; localised names; last, the block's offset u16.
//                (Version 3: Windows XP; 7: Vista; 8: Windows 7 and 8.0; 9: 8.1 and 10.)
#include "clean/lnk.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <optional>

#include "clean/byte_cursor.h"
#include "clean/text.h"

namespace {

// ShellLinkHeader.
constexpr uint32_t HEADER_SIZE = 0x4C;
constexpr size_t HEADER_FIELD_BYTES = 4 + 16 + 4 + 4 + 3 * 8 + 4 + 4 + 4 + 2 + 2 + 4 + 4;
static_assert(HEADER_FIELD_BYTES == HEADER_SIZE);
// The CLSID as stored: Data1..Data3 little-endian, Data4 as bytes.
constexpr std::array<uint8_t, 16> LINK_CLSID = {0x01, 0x14, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00,
                                                0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};

// LinkInfo.
constexpr uint32_t LINK_INFO_HEADER_SIZE = 0x1C;
constexpr uint32_t LINK_INFO_HEADER_SIZE_UNICODE = 0x24;
static_assert(LINK_INFO_HEADER_SIZE == 7 * 4 && LINK_INFO_HEADER_SIZE_UNICODE == 9 * 4);
constexpr uint32_t LINK_INFO_VOLUME_AND_LOCAL_PATH = 0x1;
constexpr uint32_t LINK_INFO_NETWORK_AND_SUFFIX = 0x2;
constexpr uint32_t VOLUME_ID_FIXED = 0x10;
constexpr uint32_t VOLUME_ID_MIN_SIZE = VOLUME_ID_FIXED + 1; // "MUST be greater than 0x10"
constexpr uint32_t VOLUME_LABEL_IS_UNICODE = 0x14;
static_assert(VOLUME_ID_FIXED == 4 * 4 && VOLUME_LABEL_IS_UNICODE == VOLUME_ID_FIXED + 4);
constexpr uint32_t NETWORK_LINK_MIN_SIZE = 0x14;
constexpr uint32_t NETWORK_LINK_UNICODE_SIZE = 0x1C;
static_assert(NETWORK_LINK_MIN_SIZE == 5 * 4 && NETWORK_LINK_UNICODE_SIZE == 7 * 4);

// ExtraData.
constexpr uint32_t EXTRA_TERMINAL_BELOW = 4;
constexpr size_t EXTRA_BLOCK_HEADER = 8;
constexpr uint32_t ENVIRONMENT_BLOCK = 0xA0000001;
constexpr uint32_t ICON_ENVIRONMENT_BLOCK = 0xA0000007;
constexpr size_t TARGET_ANSI_BYTES = 260;
constexpr size_t TARGET_UNICODE_BYTES = 520;
constexpr uint32_t ENVIRONMENT_BLOCK_SIZE = 0x314;
static_assert(EXTRA_BLOCK_HEADER + TARGET_ANSI_BYTES + TARGET_UNICODE_BYTES ==
              ENVIRONMENT_BLOCK_SIZE);

// Shell items.
constexpr uint8_t ROOT_FOLDER_ITEM = 0x1F;
constexpr size_t ROOT_FOLDER_MIN_SIZE = 2 + 1 + 1 + 16;
constexpr std::array<uint8_t, 16> MY_COMPUTER_CLSID = {
    0xE0, 0x4F, 0xD0, 0x20, 0xEA, 0x3A, 0x69, 0x10, 0xA2, 0xD8, 0x08, 0x00, 0x2B, 0x30, 0x30, 0x9D};
constexpr uint8_t ITEM_CLASS_MASK = 0x70;
constexpr uint8_t VOLUME_ITEM = 0x20;
constexpr uint8_t VOLUME_HAS_NAME = 0x01;
constexpr size_t VOLUME_NAME_FIELD = 20;
constexpr uint8_t FILE_ENTRY_ITEM = 0x30;
constexpr uint8_t FILE_ENTRY_UNICODE = 0x04;
constexpr size_t FILE_ENTRY_NAME_OFFSET = 2 + 1 + 1 + 4 + 4 + 2;
static_assert(FILE_ENTRY_NAME_OFFSET == 14);
constexpr size_t EXTENSION_HEADER = 2 + 2 + 4;
constexpr uint32_t FILE_ENTRY_EXTENSION = 0xBEEF0004;
constexpr size_t BEEF0004_FIXED = EXTENSION_HEADER + 4 + 4 + 2;
static_assert(BEEF0004_FIXED == 18);

std::string ansi(std::span<const uint8_t> bytes) {
    return text_from_cp1252(bytes);
}
std::string utf16(std::span<const uint8_t> bytes) {
    return text_from_utf16le(bytes);
}

// A fixed field holding a NUL-terminated string; all of it when no NUL ends the text.
std::span<const uint8_t> field_text8(std::span<const uint8_t> field) {
    for (size_t i = 0; i < field.size(); ++i)
        if (field[i] == 0) return field.first(i);
    return field;
}
std::span<const uint8_t> field_text16(std::span<const uint8_t> field) {
    for (size_t i = 0; i + 1 < field.size(); i += 2)
        if (field[i] == 0 && field[i + 1] == 0) return field.first(i);
    return field.first(field.size() & ~size_t(1));
}

std::string join_path(const std::string& base, const std::string& name) {
    if (base.empty() || base.back() == '\\') return base + name;
    return base + "\\" + name;
}

// --- Shell items --------------------------------------------------------------------------------

// The long name in a 0xBEEF0004 block, empty when the block has none or does not hold it.
std::string file_entry_long_name(ByteCursor block, uint16_t version) {
    if (version < 3) return {};
    block.seek(BEEF0004_FIXED);
    if (version >= 7) block.skip(2 + 8 + 8);
    block.skip(2); // long string size
    if (version >= 9) block.skip(4);
    if (version >= 8) block.skip(4);
    const std::span<const uint8_t> name = block.until_nul16();
    return block.ok() ? utf16(name) : std::string();
}

// A file entry's name: the long name of its 0xBEEF0004 block where it carries one, else its
// primary name. Empty when the item does not hold a readable name.
std::string file_entry_name(ByteCursor item, uint8_t type) {
    item.seek(FILE_ENTRY_NAME_OFFSET);
    std::string name;
    if (type & FILE_ENTRY_UNICODE) {
        name = utf16(item.until_nul16());
    } else {
        name = ansi(item.until_nul8());
        if (item.position() % 2 != 0 && !item.at_end()) item.skip(1);
    }
    if (!item.ok()) return {};
    while (item.remaining() >= EXTENSION_HEADER) {
        const size_t start = item.position();
        const uint16_t size = item.u16();
        const uint16_t version = item.u16();
        const uint32_t signature = item.u32();
        if (size < EXTENSION_HEADER || size > item.size() - start) break;
        if (signature == FILE_ENTRY_EXTENSION) {
            const std::string long_name = file_entry_long_name(item.window(start, size), version);
            if (!long_name.empty()) return long_name;
        }
        item.seek(start + size);
    }
    return name;
}

bool is_my_computer(ByteCursor item) {
    if (item.size() < ROOT_FOLDER_MIN_SIZE) return false;
    item.seek(4);
    const std::span<const uint8_t> clsid = item.take(16);
    return item.ok() && std::equal(clsid.begin(), clsid.end(), MY_COMPUTER_CLSID.begin());
}

std::string volume_name(ByteCursor item) {
    item.seek(3);
    return ansi(field_text8(item.take(std::min(VOLUME_NAME_FIELD, item.remaining()))));
}

// Walks the IDList. Fails only on the framing [MS-SHLLINK] defines; an item it cannot read as a
// file-system step leaves the path empty.
bool read_id_list(ByteCursor list, ShellLink& link) {
    std::string path;
    bool path_valid = true;
    uint32_t count = 0;
    bool terminated = false;
    while (list.remaining() >= 2) {
        const size_t start = list.position();
        const uint16_t size = list.u16();
        if (size == 0) {
            terminated = true;
            break;
        }
        if (size < 2 || size > list.size() - start) return false;
        const ByteCursor item = list.window(start, size);
        list.seek(start + size);
        ++count;
        ByteCursor type_field = item.window(2, 1);
        const uint8_t type = type_field.u8();
        if (!type_field.ok()) path_valid = false;
        if (!path_valid) continue;
        if (count == 1 && type == ROOT_FOLDER_ITEM && is_my_computer(item)) continue;
        const bool first_step = path.empty();
        if (first_step && (type & ITEM_CLASS_MASK) == VOLUME_ITEM && (type & VOLUME_HAS_NAME)) {
            path = volume_name(item);
        } else if (!first_step && (type & ITEM_CLASS_MASK) == FILE_ENTRY_ITEM) {
            const std::string name = file_entry_name(item, type);
            if (name.empty()) path_valid = false;
            path = join_path(path, name);
        } else {
            path_valid = false;
        }
        if (path.empty()) path_valid = false;
    }
    if (!terminated) return false;
    link.id_list_items = count;
    link.id_list_path = path_valid ? path : std::string();
    return true;
}

// --- LinkInfo -----------------------------------------------------------------------------------

// A NUL-terminated string at `offset` inside `area`, after its fixed fields (which end at
// `fixed`); nullopt when it is not all there.
std::optional<std::string> string_at(const ByteCursor& area, uint32_t offset, size_t fixed,
                                     bool unicode) {
    if (offset < fixed || offset >= area.size()) return std::nullopt;
    ByteCursor at = area.window(offset, area.size() - offset);
    const std::span<const uint8_t> text = unicode ? at.until_nul16() : at.until_nul8();
    if (!at.ok()) return std::nullopt;
    return unicode ? utf16(text) : ansi(text);
}

bool read_volume_id(ByteCursor info, uint32_t offset, ShellLink& link) {
    ByteCursor size_field = info.window(offset, 4);
    const uint32_t size = size_field.u32();
    if (!size_field.ok() || size < VOLUME_ID_MIN_SIZE) return false;
    ByteCursor volume = info.window(offset, size);
    volume.skip(4);
    link.drive_type = volume.u32();
    link.drive_serial = volume.u32();
    const uint32_t label_offset = volume.u32();
    if (!volume.ok()) return false;
    std::optional<std::string> label;
    if (label_offset == VOLUME_LABEL_IS_UNICODE) {
        const uint32_t unicode_offset = volume.u32();
        if (!volume.ok()) return false;
        label = string_at(volume, unicode_offset, VOLUME_LABEL_IS_UNICODE, true);
    } else {
        label = string_at(volume, label_offset, VOLUME_ID_FIXED, false);
    }
    if (!label) return false;
    link.volume_label = *label;
    return true;
}

std::optional<std::string> read_net_name(ByteCursor info, uint32_t offset) {
    ByteCursor size_field = info.window(offset, 4);
    const uint32_t size = size_field.u32();
    if (!size_field.ok() || size < NETWORK_LINK_MIN_SIZE) return std::nullopt;
    ByteCursor network = info.window(offset, size);
    network.skip(4 + 4); // size, flags
    const uint32_t net_name_offset = network.u32();
    network.skip(4 + 4); // device name offset, network provider type
    if (!network.ok()) return std::nullopt;
    std::optional<std::string> net_name =
        string_at(network, net_name_offset, NETWORK_LINK_MIN_SIZE, false);
    if (net_name && net_name_offset > NETWORK_LINK_MIN_SIZE) {
        const uint32_t unicode_offset = network.u32();
        if (!network.ok()) return std::nullopt;
        if (unicode_offset != 0) {
            std::optional<std::string> wide =
                string_at(network, unicode_offset, NETWORK_LINK_UNICODE_SIZE, true);
            if (!wide) return std::nullopt;
            net_name = wide;
        }
    }
    return net_name;
}

LnkStatus read_link_info(ByteCursor& file, ShellLink& link) {
    const size_t start = file.position();
    const uint32_t size = file.u32();
    if (!file.ok()) return LnkStatus::truncated;
    if (size < LINK_INFO_HEADER_SIZE) return LnkStatus::malformed;
    ByteCursor info = file.window(start, size);
    if (!info.ok()) return LnkStatus::truncated;
    file.seek(start + size);

    info.skip(4);
    const uint32_t header_size = info.u32();
    const bool has_unicode = header_size >= LINK_INFO_HEADER_SIZE_UNICODE;
    if (header_size > size || (header_size != LINK_INFO_HEADER_SIZE && !has_unicode))
        return LnkStatus::malformed;
    const uint32_t flags = info.u32();
    const uint32_t volume_offset = info.u32();
    const uint32_t base_offset = info.u32();
    const uint32_t network_offset = info.u32();
    const uint32_t suffix_offset = info.u32();
    const uint32_t base_offset_unicode = has_unicode ? info.u32() : 0;
    const uint32_t suffix_offset_unicode = has_unicode ? info.u32() : 0;
    if (!info.ok()) return LnkStatus::malformed;

    // Each part lies after the header and whole inside LinkInfo; the Unicode form of a string
    // wins where there is one.
    std::optional<std::string> suffix = string_at(info, suffix_offset, header_size, false);
    if (suffix && suffix_offset_unicode != 0)
        suffix = string_at(info, suffix_offset_unicode, header_size, true);
    if (!suffix) return LnkStatus::malformed;

    if (flags & LINK_INFO_VOLUME_AND_LOCAL_PATH) {
        if (volume_offset < header_size || !read_volume_id(info, volume_offset, link))
            return LnkStatus::malformed;
        std::optional<std::string> base = string_at(info, base_offset, header_size, false);
        if (base && base_offset_unicode != 0)
            base = string_at(info, base_offset_unicode, header_size, true);
        if (!base) return LnkStatus::malformed;
        link.link_info_path = *base + *suffix;
    }
    if (flags & LINK_INFO_NETWORK_AND_SUFFIX) {
        if (network_offset < header_size) return LnkStatus::malformed;
        const std::optional<std::string> net_name = read_net_name(info, network_offset);
        if (!net_name) return LnkStatus::malformed;
        link.network_path = suffix->empty() ? *net_name : join_path(*net_name, *suffix);
    }
    return LnkStatus::ok;
}

// --- StringData and ExtraData -------------------------------------------------------------------

// One counted string. The shell hands these on as C strings, so a NUL inside ends the text that
// takes effect.
bool read_counted_string(ByteCursor& file, bool unicode, std::string& out) {
    const uint16_t count = file.u16();
    const std::span<const uint8_t> bytes = file.take(unicode ? size_t(count) * 2 : count);
    if (!file.ok()) return false;
    out = unicode ? utf16(field_text16(bytes)) : ansi(field_text8(bytes));
    return true;
}

// An environment block's target: the Unicode field where it is not empty, else the ANSI one.
std::string environment_target(ByteCursor block) {
    block.seek(EXTRA_BLOCK_HEADER);
    const std::string narrow = ansi(field_text8(block.take(TARGET_ANSI_BYTES)));
    const std::string wide = utf16(field_text16(block.take(TARGET_UNICODE_BYTES)));
    return wide.empty() ? narrow : wide;
}

void read_extra_data(ByteCursor& file, ShellLink& link) {
    while (true) {
        const size_t start = file.position();
        if (file.remaining() < 4) {
            link.extra_data_cut = true;
            return;
        }
        const uint32_t size = file.u32();
        if (size < EXTRA_TERMINAL_BELOW) return;
        if (size < EXTRA_BLOCK_HEADER || size > file.size() - start) {
            link.extra_data_cut = true;
            return;
        }
        const uint32_t signature = file.u32();
        if (size == ENVIRONMENT_BLOCK_SIZE && signature == ENVIRONMENT_BLOCK)
            link.environment_target = environment_target(file.window(start, size));
        if (size == ENVIRONMENT_BLOCK_SIZE && signature == ICON_ENVIRONMENT_BLOCK)
            link.icon_environment = environment_target(file.window(start, size));
        file.seek(start + size);
    }
}

} // namespace

LnkStatus lnk_read(std::span<const uint8_t> bytes, ShellLink& link) {
    ByteCursor file(bytes);
    if (bytes.empty()) return LnkStatus::not_a_link;
    // A file cut inside the identifying fields is a cut shortcut only if what is there agrees.
    std::array<uint8_t, 20> signature{};
    signature[0] = uint8_t(HEADER_SIZE);
    std::copy(LINK_CLSID.begin(), LINK_CLSID.end(), signature.begin() + 4);
    const std::span<const uint8_t> head = bytes.first(std::min(bytes.size(), signature.size()));
    if (!std::equal(head.begin(), head.end(), signature.begin())) return LnkStatus::not_a_link;

    ShellLink out;
    file.skip(4 + 16);
    out.link_flags = file.u32();
    out.file_attributes = file.u32();
    file.skip(3 * 8 + 4); // times, file size
    out.icon_index = file.i32();
    out.show_command = file.u32();
    file.skip(2 + 2 + 4 + 4); // hot key, reserved
    if (!file.ok()) return LnkStatus::truncated;

    if (out.link_flags & LNK_HAS_ID_LIST) {
        const uint16_t list_size = file.u16();
        const ByteCursor list = file.window(file.position(), list_size);
        file.skip(list_size);
        if (!file.ok()) return LnkStatus::truncated;
        if (!read_id_list(list, out)) return LnkStatus::malformed;
    }
    if (out.link_flags & LNK_HAS_LINK_INFO) {
        const LnkStatus status = read_link_info(file, out);
        if (status != LnkStatus::ok) return status;
    }
    const bool unicode = out.link_flags & LNK_IS_UNICODE;
    const std::array<std::pair<uint32_t, std::string*>, 5> strings = {{
        {LNK_HAS_NAME, &out.name},
        {LNK_HAS_RELATIVE_PATH, &out.relative_path},
        {LNK_HAS_WORKING_DIR, &out.working_dir},
        {LNK_HAS_ARGUMENTS, &out.arguments},
        {LNK_HAS_ICON_LOCATION, &out.icon_location},
    }};
    for (const auto& [flag, text] : strings)
        if ((out.link_flags & flag) && !read_counted_string(file, unicode, *text))
            return LnkStatus::truncated;
    read_extra_data(file, out);
    link = std::move(out);
    return LnkStatus::ok;
}

const char* lnk_status_text(LnkStatus status) {
    switch (status) {
    case LnkStatus::ok: return "ok";
    case LnkStatus::not_a_link: return "not a shortcut";
    case LnkStatus::truncated: return "cut short";
    case LnkStatus::malformed: return "malformed";
    }
    return "unknown";
}
