#include <gtest/gtest.h>

#include <functional>

#include "clean/lnk.h"
#include "clean/lnk_writer.h"

namespace {

using namespace lnk_writer;

LnkStatus read(const Bytes& bytes, ShellLink& link) {
    return lnk_read(std::span<const uint8_t>(bytes.data(), bytes.size()), link);
}

// Shortcuts as the families on the sticks leave them and as people make them, each with every
// field the reader reports.
struct ReadCase {
    const char* what;
    std::function<Layout()> layout;
    std::string id_list_path;
    uint32_t id_list_items;
    std::string link_info_path;
    std::string network_path;
    uint32_t drive_type;
    std::string volume_label;
    std::string relative_path, working_dir, arguments, icon_location;
    std::string environment_target, icon_environment;
};

std::vector<Bytes> system32(const std::string& short_name, const std::u16string& long_name) {
    return {my_computer(), volume("C:\\"), file_entry("Windows", u"Windows", true),
            file_entry("System32", u"System32", true), file_entry(short_name, long_name)};
}

const ReadCase READ_CASES[] = {
    {"vbs worm: cmd starts the script and opens the folder",
     [] {
         Layout s;
         s.id_items = system32("cmd.exe", u"cmd.exe");
         s.link_info = local_target("C:\\Windows\\System32\\cmd.exe", LNK_DRIVE_FIXED);
         s.relative_path = u"..\\..\\..\\Windows\\System32\\cmd.exe";
         s.working_dir = u"C:\\Windows\\System32";
         s.arguments = u"/c start x.vbs&start explorer \"Photos\"&exit";
         s.icon_location = u"%SystemRoot%\\System32\\SHELL32.dll";
         s.icon_index = 4;
         s.show_command = 7;
         return s;
     },
     "C:\\Windows\\System32\\cmd.exe", 5, "C:\\Windows\\System32\\cmd.exe", "", 3, "",
     "..\\..\\..\\Windows\\System32\\cmd.exe", "C:\\Windows\\System32",
     "/c start x.vbs&start explorer \"Photos\"&exit", "%SystemRoot%\\System32\\SHELL32.dll", "",
     ""},
    {"andromeda: rundll32 through the environment block, named after the drive",
     [] {
         Layout s;
         s.id_items = system32("rundll32.exe", u"rundll32.exe");
         s.arguments = u"~$W1A2B.FAT32,_WinMainA@16";
         s.environment = u"%windir%\\system32\\rundll32.exe";
         s.icon_location = u"%SystemRoot%\\system32\\SHELL32.dll";
         s.icon_environment = u"%SystemRoot%\\system32\\SHELL32.dll";
         s.icon_index = 7;
         return s;
     },
     "C:\\Windows\\System32\\rundll32.exe", 5, "", "", LNK_DRIVE_UNKNOWN, "", "", "",
     "~$W1A2B.FAT32,_WinMainA@16", "%SystemRoot%\\system32\\SHELL32.dll",
     "%windir%\\system32\\rundll32.exe", "%SystemRoot%\\system32\\SHELL32.dll"},
    {"a program in the stick's blank-named hiding folder, removable drive with a label",
     [] {
         Layout s;
         s.id_items =
             std::vector<Bytes>{my_computer(), volume("E:\\"), file_entry("A0~1", u"\u00A0", true),
                                file_entry("EXE~1.EXE", u" .exe")};
         s.link_info = local_target("E:\\\xA0\\ .exe", LNK_DRIVE_REMOVABLE, "KINGSTON");
         s.relative_path = u".\\\u00A0\\ .exe";
         return s;
     },
     "E:\\\u00A0\\ .exe", 4, "E:\\\u00A0\\ .exe", "", LNK_DRIVE_REMOVABLE, "KINGSTON",
     ".\\\u00A0\\ .exe", "", "", "", "", ""},
    {"names outside ANSI: Unicode long names, LinkInfo paths and label",
     [] {
         Layout s;
         s.id_items =
             std::vector<Bytes>{my_computer(), volume("E:\\"), file_entry("9D2F~1", u"Фото", true),
                                file_entry("B7E1~1.EXE", u"Отчёт ΑΒΓ 𝄞.exe")};
         LinkInfoSpec info = local_target("E:\\????\\");
         info.local_base_unicode = u"E:\\Фото\\";
         info.suffix = "?????.exe";
         info.suffix_unicode = u"Отчёт ΑΒΓ 𝄞.exe";
         info.label_unicode = u"Флешка";
         s.link_info = info;
         s.working_dir = u"E:\\Фото";
         return s;
     },
     "E:\\Фото\\Отчёт ΑΒΓ 𝄞.exe", 4, "E:\\Фото\\Отчёт ΑΒΓ 𝄞.exe", "", LNK_DRIVE_REMOVABLE, "Флешка",
     "", "E:\\Фото", "", "", "", ""},
    {"a drive item without the This PC root, older extension block versions",
     [] {
         Layout s;
         s.id_items = std::vector<Bytes>{volume("E:\\"), file_entry("DIR~1", u"dir one", true, 3),
                                         file_entry("DIR~2", u"dir two", true, 7),
                                         file_entry("LONGNA~1.VBS", u"long name.vbs", false, 8)};
         return s;
     },
     "E:\\dir one\\dir two\\long name.vbs", 4, "", "", LNK_DRIVE_UNKNOWN, "", "", "", "", "", "",
     ""},
    {"a share: the network name joined with the suffix",
     [] {
         Layout s;
         LinkInfoSpec info;
         info.suffix = "tools\\run.exe";
         info.net_name = "\\\\SERVER\\share";
         info.volume = false;
         s.link_info = info;
         return s;
     },
     "", 0, "", "\\\\SERVER\\share\\tools\\run.exe", LNK_DRIVE_UNKNOWN, "", "", "", "", "", "", ""},
    {"ANSI strings are read as Windows-1252",
     [] {
         Layout s;
         s.unicode = false;
         s.relative_path = u".\\caf\u00e9.vbs";
         s.arguments = u"\u0080 \u00ff";
         return s;
     },
     "", 0, "", "", LNK_DRIVE_UNKNOWN, "", ".\\café.vbs", "", "€ ÿ", "", "", ""},
    {"a root item other than This PC names no path",
     [] {
         Layout s;
         Bytes control_panel = my_computer();
         control_panel[4] = 0x21; // 21EC2020-...
         s.id_items = std::vector<Bytes>{control_panel, file_entry("X", u"x")};
         return s;
     },
     "", 2, "", "", LNK_DRIVE_UNKNOWN, "", "", "", "", "", "", ""},
    {"a NUL inside a counted string ends what the shell passes on",
     [] {
         Layout s;
         s.arguments = std::u16string(u"/c start a.vbs") + char16_t(0) + u"& hidden";
         return s;
     },
     "", 0, "", "", LNK_DRIVE_UNKNOWN, "", "", "", "/c start a.vbs", "", "", ""},
    {"unknown extra blocks before the environment block are skipped",
     [] {
         Layout s;
         Bytes tracker(0x60, 0);
         put_at32(tracker, 0, 0x60);
         put_at32(tracker, 4, 0xA0000003);
         Bytes odd_size(0x314, 0x41); // the environment signature with another size
         put_at32(odd_size, 0, 0x20);
         put_at32(odd_size, 4, 0xA0000001);
         odd_size.resize(0x20);
         s.other_blocks = {tracker, odd_size};
         s.environment = u"E:\\_\\DeviceManager.exe";
         return s;
     },
     "", 0, "", "", LNK_DRIVE_UNKNOWN, "", "", "", "", "", "E:\\_\\DeviceManager.exe", ""},
};

TEST(lnk_read, reads_every_field_of_windows_written_shortcuts) {
    for (const ReadCase& c : READ_CASES) {
        SCOPED_TRACE(c.what);
        const Layout layout = c.layout();
        const Image image = write(layout);
        ShellLink link;
        ASSERT_EQ(read(image.bytes, link), LnkStatus::ok);
        EXPECT_EQ(link.id_list_path, c.id_list_path);
        EXPECT_EQ(link.id_list_items, c.id_list_items);
        EXPECT_EQ(link.link_info_path, c.link_info_path);
        EXPECT_EQ(link.network_path, c.network_path);
        EXPECT_EQ(link.drive_type, c.drive_type);
        EXPECT_EQ(link.volume_label, c.volume_label);
        EXPECT_EQ(link.relative_path, c.relative_path);
        EXPECT_EQ(link.working_dir, c.working_dir);
        EXPECT_EQ(link.arguments, c.arguments);
        EXPECT_EQ(link.icon_location, c.icon_location);
        EXPECT_EQ(link.environment_target, c.environment_target);
        EXPECT_EQ(link.icon_environment, c.icon_environment);
        EXPECT_EQ(link.icon_index, layout.icon_index);
        EXPECT_EQ(link.show_command, layout.show_command);
        EXPECT_EQ(link.file_attributes, layout.file_attributes);
        EXPECT_FALSE(link.extra_data_cut);
        if (layout.link_info && layout.link_info->volume) {
            EXPECT_EQ(link.drive_serial, layout.link_info->serial);
        }
    }
}

Layout full_layout() {
    Layout s;
    s.id_items = std::vector<Bytes>{my_computer(), volume("E:\\"),
                                    file_entry("WINDOW~1", u"WindowsServices", true),
                                    file_entry("HELPER~1.VBS", u"helper.vbs")};
    s.link_info = local_target("E:\\WindowsServices\\helper.vbs", LNK_DRIVE_REMOVABLE, "USB");
    s.name = u"Photos";
    s.relative_path = u".\\WindowsServices\\helper.vbs";
    s.working_dir = u"E:\\";
    s.arguments = u"/C .\\WindowsServices\\helper.vbs";
    s.icon_location = u"%SystemRoot%\\System32\\imageres.dll";
    s.environment = u"%windir%\\system32\\cmd.exe";
    return s;
}

// A shortcut cut anywhere fails cleanly before its extra data and is read, marked as cut, inside
// it; the result is never half filled.
TEST(lnk_read, every_prefix_of_a_shortcut_fails_cleanly_or_is_marked_cut) {
    const Image image = write(full_layout());
    ShellLink whole;
    ASSERT_EQ(read(image.bytes, whole), LnkStatus::ok);
    ASSERT_FALSE(whole.extra_data_cut);
    for (size_t length = 0; length < image.bytes.size(); ++length) {
        SCOPED_TRACE(length);
        const Bytes prefix(image.bytes.begin(), image.bytes.begin() + ptrdiff_t(length));
        ShellLink link;
        link.name = "untouched";
        const LnkStatus status = read(prefix, link);
        if (length == 0) {
            EXPECT_EQ(status, LnkStatus::not_a_link);
        } else if (length < image.extra_data) {
            EXPECT_EQ(status, LnkStatus::truncated);
        } else {
            ASSERT_EQ(status, LnkStatus::ok);
            EXPECT_TRUE(link.extra_data_cut);
            EXPECT_EQ(link.arguments, whole.arguments);
            EXPECT_EQ(link.id_list_path, whole.id_list_path);
            // The environment block is kept only when it is whole.
            const bool block_whole = length >= image.extra_data + 0x314;
            EXPECT_EQ(link.environment_target, block_whole ? whole.environment_target : "");
        }
        if (status != LnkStatus::ok) {
            EXPECT_EQ(link.name, "untouched");
        }
    }
}

// One field changed at each structure boundary.
struct Corruption {
    const char* what;
    std::function<void(Bytes&, const Image&)> change;
    LnkStatus status;
};

void put_at16(Bytes& bytes, size_t at, uint32_t value) {
    bytes[at] = uint8_t(value);
    bytes[at + 1] = uint8_t(value >> 8);
}

uint32_t get32(const Bytes& bytes, size_t at) {
    return uint32_t(bytes[at]) | uint32_t(bytes[at + 1]) << 8 | uint32_t(bytes[at + 2]) << 16 |
           uint32_t(bytes[at + 3]) << 24;
}

// Offsets inside the full layout's LinkInfo.
size_t volume_id(const Image& i) {
    return i.link_info + get32(i.bytes, i.link_info + 12);
}
size_t first_item(const Image& i) {
    return i.id_list + 2;
}

const Corruption CORRUPTIONS[] = {
    {"header size", [](Bytes& b, const Image&) { b[0] = 0x4D; }, LnkStatus::not_a_link},
    {"class identifier", [](Bytes& b, const Image&) { b[19] = 0x47; }, LnkStatus::not_a_link},
    {"ID list longer than the file",
     [](Bytes& b, const Image& i) { put_at16(b, i.id_list, 0xFFFF); }, LnkStatus::truncated},
    {"ID list ends inside an item", [](Bytes& b, const Image& i) { put_at16(b, i.id_list, 30); },
     LnkStatus::malformed},
    {"ID list without its terminal item",
     [](Bytes& b, const Image& i) {
         put_at16(b, i.id_list, uint32_t(i.link_info - i.id_list - 4));
     },
     LnkStatus::malformed},
    {"item of one byte", [](Bytes& b, const Image& i) { put_at16(b, first_item(i), 1); },
     LnkStatus::malformed},
    {"item past the list", [](Bytes& b, const Image& i) { put_at16(b, first_item(i), 0x7000); },
     LnkStatus::malformed},
    {"LinkInfo smaller than its header",
     [](Bytes& b, const Image& i) { put_at32(b, i.link_info, 0x1B); }, LnkStatus::malformed},
    {"LinkInfo past the end of the file",
     [](Bytes& b, const Image& i) { put_at32(b, i.link_info, 0x10000); }, LnkStatus::truncated},
    {"LinkInfo header size between the two forms",
     [](Bytes& b, const Image& i) { put_at32(b, i.link_info + 4, 0x20); }, LnkStatus::malformed},
    {"LinkInfo header larger than LinkInfo",
     [](Bytes& b, const Image& i) { put_at32(b, i.link_info + 4, 0x400); }, LnkStatus::malformed},
    {"VolumeID offset outside LinkInfo",
     [](Bytes& b, const Image& i) { put_at32(b, i.link_info + 12, 0x400); }, LnkStatus::malformed},
    {"VolumeID too small", [](Bytes& b, const Image& i) { put_at32(b, volume_id(i), 0x10); },
     LnkStatus::malformed},
    {"VolumeID larger than LinkInfo",
     [](Bytes& b, const Image& i) { put_at32(b, volume_id(i), 0x400); }, LnkStatus::malformed},
    {"volume label outside VolumeID",
     [](Bytes& b, const Image& i) { put_at32(b, volume_id(i) + 12, 0x40); }, LnkStatus::malformed},
    {"Unicode volume label offset missing",
     [](Bytes& b, const Image& i) { put_at32(b, volume_id(i) + 12, 0x14); }, LnkStatus::malformed},
    {"local base path outside LinkInfo",
     [](Bytes& b, const Image& i) { put_at32(b, i.link_info + 16, 0x400); }, LnkStatus::malformed},
    {"common path suffix outside LinkInfo",
     [](Bytes& b, const Image& i) { put_at32(b, i.link_info + 24, 0x400); }, LnkStatus::malformed},
    {"a LinkInfo string without its NUL", [](Bytes& b, const Image& i) { b[i.strings - 1] = 'x'; },
     LnkStatus::malformed},
    {"network link without its structure",
     [](Bytes& b, const Image& i) { b[i.link_info + 8] |= 2; }, LnkStatus::malformed},
    {"string longer than the file",
     [](Bytes& b, const Image& i) { put_at16(b, i.strings, 0x8000); }, LnkStatus::truncated},
};

TEST(lnk_read, a_broken_size_or_offset_at_each_boundary_fails_cleanly) {
    const Image image = write(full_layout());
    for (const Corruption& c : CORRUPTIONS) {
        SCOPED_TRACE(c.what);
        Bytes bytes = image.bytes;
        c.change(bytes, image);
        ShellLink link;
        link.arguments = "untouched";
        EXPECT_EQ(read(bytes, link), c.status);
        EXPECT_EQ(link.arguments, "untouched");
    }
}

TEST(lnk_read, extra_data_that_does_not_fit_keeps_what_came_before) {
    const struct {
        const char* what;
        uint32_t block_size;
    } cases[] = {{"a size below a block header", 5}, {"a size past the end", 0x1000}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Layout layout = full_layout();
        layout.terminal_block = false;
        Image image = write(layout);
        put32(image.bytes, c.block_size);
        put32(image.bytes, 0xA0000002);
        ShellLink link;
        ASSERT_EQ(read(image.bytes, link), LnkStatus::ok);
        EXPECT_TRUE(link.extra_data_cut);
        EXPECT_EQ(link.environment_target, "%windir%\\system32\\cmd.exe");
    }
}

// Shell items are the shell's own data: one the reader cannot follow leaves the path empty but
// the shortcut readable.
TEST(lnk_read, an_unreadable_shell_item_empties_the_path_only) {
    const struct {
        const char* what;
        std::function<std::vector<Bytes>()> items;
        std::string path;
    } cases[] = {
        {"an item of two bytes",
         [] {
             return std::vector<Bytes>{volume("E:\\"), Bytes{2, 0}};
         },
         ""},
        {"a file entry without its name's NUL",
         [] {
             Bytes entry = item(0x32, Bytes(11, 'A'));
             return std::vector<Bytes>{volume("E:\\"), entry};
         },
         ""},
        {"a long name without its NUL falls back to the short name",
         [] {
             Bytes entry = file_entry("SHORT.VBS", u"long.vbs");
             // The long name's terminating NUL and the block's offset field become text.
             const size_t end = entry.size();
             for (size_t k = end - 4; k < end; ++k) entry[k] = 'z';
             return std::vector<Bytes>{volume("E:\\"), entry};
         },
         "E:\\SHORT.VBS"},
        {"a file entry before any drive", [] { return std::vector<Bytes>{file_entry("A", u"a")}; },
         ""},
        {"This PC alone", [] { return std::vector<Bytes>{my_computer()}; }, ""},
        {"This PC and a drive",
         [] {
             return std::vector<Bytes>{my_computer(), volume("E:\\")};
         },
         "E:\\"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Layout layout;
        layout.id_items = c.items();
        ShellLink link;
        ASSERT_EQ(read(write(layout).bytes, link), LnkStatus::ok);
        EXPECT_EQ(link.id_list_path, c.path);
        EXPECT_EQ(link.id_list_items, layout.id_items->size());
    }
}

} // namespace
