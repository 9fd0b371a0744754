#pragma once
// Writes shortcuts for the reader's tests, laid out as Windows writes them ([MS-SHLLINK] and
// the shell items of Windows 7 and later), and records where each structure begins so that a
// test can cut or corrupt the file at every boundary. Texts are given as UTF-16 so that the
// writer shares no conversion with the reader.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace lnk_writer {

using Bytes = std::vector<uint8_t>;

inline void put16(Bytes& out, uint32_t value) {
    out.push_back(uint8_t(value));
    out.push_back(uint8_t(value >> 8));
}
inline void put32(Bytes& out, uint32_t value) {
    put16(out, value & 0xFFFF);
    put16(out, value >> 16);
}
inline void put_at32(Bytes& out, size_t at, uint32_t value) {
    for (int i = 0; i < 4; ++i) out[at + i] = uint8_t(value >> (8 * i));
}
inline void put_ansi(Bytes& out, const std::string& text, bool nul = true) {
    out.insert(out.end(), text.begin(), text.end());
    if (nul) out.push_back(0);
}
inline void put_utf16(Bytes& out, const std::u16string& text, bool nul = true) {
    for (const char16_t unit : text) put16(out, unit);
    if (nul) put16(out, 0);
}

// --- Shell items ----------------------------------------------------------------------------

inline Bytes item(uint8_t type, const Bytes& body) {
    Bytes out;
    put16(out, uint32_t(body.size() + 3));
    out.push_back(type);
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

inline Bytes my_computer() {
    return item(0x1F, {0x50, 0xE0, 0x4F, 0xD0, 0x20, 0xEA, 0x3A, 0x69, 0x10, 0xA2, 0xD8, 0x08, 0x00,
                       0x2B, 0x30, 0x30, 0x9D});
}

// A drive: type 0x2F, the name in a 20-byte field and a two-byte tail.
inline Bytes volume(const std::string& name) {
    Bytes body;
    put_ansi(body, name);
    body.resize(20 + 2, 0);
    return item(0x2F, body);
}

// A file or folder as Windows 7 and later write it: the short (8.3) name in ANSI and an
// extension block 0xBEEF0004 of the given version with the long name.
inline Bytes file_entry(const std::string& short_name, const std::u16string& long_name,
                        bool folder = false, uint16_t version = 9) {
    Bytes body;
    body.push_back(0);                 // unknown
    put32(body, folder ? 0 : 1234);    // file size
    put32(body, 0x5A215C3B);           // modification time (FAT)
    put16(body, folder ? 0x10 : 0x20); // attributes
    put_ansi(body, short_name);
    if ((3 + body.size()) % 2 != 0) body.push_back(0);
    const size_t block_start = 3 + body.size();
    Bytes block;
    put16(block, 0); // size, set below
    put16(block, version);
    put32(block, 0xBEEF0004);
    put32(block, 0x5A215C3B); // creation time
    put32(block, 0x5A215C3B); // access time
    const uint16_t identifier = version >= 9   ? 0x2E
                                : version >= 8 ? 0x2A
                                : version >= 7 ? 0x26
                                               : 0x14;
    put16(block, identifier);
    if (version >= 7) {
        put16(block, 0);
        put32(block, 0x1234), put32(block, 0x00050000); // NTFS file reference
        put32(block, 0), put32(block, 0);
    }
    if (version >= 3) put16(block, 0); // no localised name
    if (version >= 9) put32(block, 0);
    if (version >= 8) put32(block, 0);
    if (version >= 3) put_utf16(block, long_name);
    put16(block, uint32_t(block_start)); // the block's offset in the item
    block[0] = uint8_t(block.size()), block[1] = uint8_t(block.size() >> 8);
    body.insert(body.end(), block.begin(), block.end());
    return item(folder ? 0x31 : 0x32, body);
}

// --- The file -------------------------------------------------------------------------------

struct LinkInfoSpec {
    std::string local_base; // ANSI LocalBasePath
    std::optional<std::u16string> local_base_unicode;
    std::string suffix; // ANSI CommonPathSuffix
    std::optional<std::u16string> suffix_unicode;
    uint32_t drive_type = 2;
    uint32_t serial = 0x1A2B3C4D;
    std::string label;                           // ANSI label
    std::optional<std::u16string> label_unicode; // written instead, with offset 0x14
    std::optional<std::string> net_name;         // a CommonNetworkRelativeLink instead of a volume
    bool volume = true;
};

// LinkInfo of a local target.
inline LinkInfoSpec local_target(const std::string& path, uint32_t drive_type = 2,
                                 const std::string& label = "") {
    LinkInfoSpec info;
    info.local_base = path;
    info.drive_type = drive_type;
    info.label = label;
    return info;
}

struct Layout {
    uint32_t extra_flags = 0;
    uint32_t file_attributes = 0x20;
    int32_t icon_index = 0;
    uint32_t show_command = 1;
    bool unicode = true;
    std::optional<std::vector<Bytes>> id_items;
    std::optional<LinkInfoSpec> link_info;
    std::optional<std::u16string> name, relative_path, working_dir, arguments, icon_location;
    std::optional<std::u16string> environment, icon_environment;
    std::vector<Bytes> other_blocks; // whole ExtraData blocks, written before the known ones
    bool terminal_block = true;
};

// The offsets where each structure starts, for cutting and corrupting.
struct Image {
    Bytes bytes;
    size_t id_list = 0, link_info = 0, strings = 0, extra_data = 0;
};

inline Bytes link_info_bytes(const LinkInfoSpec& info) {
    const bool unicode = info.local_base_unicode || info.suffix_unicode;
    const uint32_t header_size = unicode ? 0x24 : 0x1C;
    Bytes volume_id;
    if (info.volume) {
        put32(volume_id, 0);
        put32(volume_id, info.drive_type);
        put32(volume_id, info.serial);
        if (info.label_unicode) {
            put32(volume_id, 0x14);
            put32(volume_id, 0x14);
            put_utf16(volume_id, *info.label_unicode);
        } else {
            put32(volume_id, 0x10);
            put_ansi(volume_id, info.label);
        }
        put_at32(volume_id, 0, uint32_t(volume_id.size()));
    }
    Bytes network;
    if (info.net_name) {
        put32(network, 0);
        put32(network, 0x2); // ValidNetType
        put32(network, 0x14);
        put32(network, 0);
        put32(network, 0x00020000); // WNNC_NET_LANMAN
        put_ansi(network, *info.net_name);
        put_at32(network, 0, uint32_t(network.size()));
    }
    Bytes out(header_size, 0);
    uint32_t flags = 0;
    uint32_t volume_offset = 0, base_offset = 0, network_offset = 0;
    if (info.volume) {
        flags |= 1;
        volume_offset = uint32_t(out.size());
        out.insert(out.end(), volume_id.begin(), volume_id.end());
        base_offset = uint32_t(out.size());
        put_ansi(out, info.local_base);
    }
    if (info.net_name) {
        flags |= 2;
        network_offset = uint32_t(out.size());
        out.insert(out.end(), network.begin(), network.end());
    }
    const uint32_t suffix_offset = uint32_t(out.size());
    put_ansi(out, info.suffix);
    uint32_t base_unicode = 0, suffix_unicode = 0;
    if (info.local_base_unicode) {
        if (out.size() % 2) out.push_back(0);
        base_unicode = uint32_t(out.size());
        put_utf16(out, *info.local_base_unicode);
    }
    if (info.suffix_unicode) {
        if (out.size() % 2) out.push_back(0);
        suffix_unicode = uint32_t(out.size());
        put_utf16(out, *info.suffix_unicode);
    }
    put_at32(out, 0, uint32_t(out.size()));
    put_at32(out, 4, header_size);
    put_at32(out, 8, flags);
    put_at32(out, 12, volume_offset);
    put_at32(out, 16, base_offset);
    put_at32(out, 20, network_offset);
    put_at32(out, 24, suffix_offset);
    if (unicode) {
        put_at32(out, 28, base_unicode);
        put_at32(out, 32, suffix_unicode);
    }
    return out;
}

inline Bytes environment_block(uint32_t signature, const std::u16string& target) {
    Bytes out;
    put32(out, 0x314);
    put32(out, signature);
    Bytes ansi(260, 0);
    for (size_t i = 0; i < target.size() && i < 259; ++i)
        ansi[i] = target[i] < 0x80 ? uint8_t(target[i]) : uint8_t('?');
    out.insert(out.end(), ansi.begin(), ansi.end());
    Bytes wide;
    put_utf16(wide, target);
    wide.resize(520, 0);
    out.insert(out.end(), wide.begin(), wide.end());
    return out;
}

inline Image write(const Layout& layout) {
    Image image;
    Bytes& out = image.bytes;
    uint32_t flags = layout.extra_flags;
    if (layout.id_items) flags |= 0x1;
    if (layout.link_info) flags |= 0x2;
    if (layout.name) flags |= 0x4;
    if (layout.relative_path) flags |= 0x8;
    if (layout.working_dir) flags |= 0x10;
    if (layout.arguments) flags |= 0x20;
    if (layout.icon_location) flags |= 0x40;
    if (layout.unicode) flags |= 0x80;
    if (layout.environment) flags |= 0x200;
    if (layout.icon_environment) flags |= 0x4000;
    put32(out, 0x4C);
    for (const uint8_t b : {0x01, 0x14, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0xC0, 0x00, 0x00, 0x00,
                            0x00, 0x00, 0x00, 0x46})
        out.push_back(b);
    put32(out, flags);
    put32(out, layout.file_attributes);
    for (int i = 0; i < 6; ++i) put32(out, 0x01D9ABCD); // three FILETIMEs
    put32(out, 1234);                                   // file size
    put32(out, uint32_t(layout.icon_index));
    put32(out, layout.show_command);
    put16(out, 0), put16(out, 0), put32(out, 0), put32(out, 0);

    image.id_list = out.size();
    if (layout.id_items) {
        Bytes list;
        for (const Bytes& one : *layout.id_items) list.insert(list.end(), one.begin(), one.end());
        put16(list, 0);
        put16(out, uint32_t(list.size()));
        out.insert(out.end(), list.begin(), list.end());
    }
    image.link_info = out.size();
    if (layout.link_info) {
        const Bytes info = link_info_bytes(*layout.link_info);
        out.insert(out.end(), info.begin(), info.end());
    }
    image.strings = out.size();
    for (const auto* text : {&layout.name, &layout.relative_path, &layout.working_dir,
                             &layout.arguments, &layout.icon_location}) {
        if (!*text) continue;
        put16(out, uint32_t((*text)->size()));
        if (layout.unicode) {
            put_utf16(out, **text, false);
        } else {
            for (const char16_t unit : **text) out.push_back(uint8_t(unit));
        }
    }
    image.extra_data = out.size();
    for (const Bytes& block : layout.other_blocks)
        out.insert(out.end(), block.begin(), block.end());
    if (layout.environment) {
        const Bytes block = environment_block(0xA0000001, *layout.environment);
        out.insert(out.end(), block.begin(), block.end());
    }
    if (layout.icon_environment) {
        const Bytes block = environment_block(0xA0000007, *layout.icon_environment);
        out.insert(out.end(), block.begin(), block.end());
    }
    if (layout.terminal_block) put32(out, 0);
    return image;
}

} // namespace lnk_writer
