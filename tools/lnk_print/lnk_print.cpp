// Prints what the shortcut reader makes of each file named on the command line, one "field:
// value" line per field, for the comparison with Debian's lnkinfo (tests/clean/
// lnkinfo_compare.py). Line breaks inside a value are printed as \n.
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "clean/lnk.h"

namespace {

void field(const char* name, const std::string& value) {
    std::string shown;
    for (const char c : value) shown += c == '\n' ? std::string("\\n") : std::string(1, c);
    std::printf("%s: %s\n", name, shown.c_str());
}

void field(const char* name, uint32_t value) {
    field(name, std::to_string(value));
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: unveilo_lnk_print FILE.lnk...\n");
        return 2;
    }
    int status = 0;
    for (int i = 1; i < argc; ++i) {
        std::ifstream in(argv[i], std::ios::binary);
        if (!in) {
            std::fprintf(stderr, "%s: cannot be read\n", argv[i]);
            status = 1;
            continue;
        }
        const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                         std::istreambuf_iterator<char>());
        ShellLink link;
        const LnkStatus read = lnk_read(bytes, link);
        field("file", argv[i]);
        field("status", lnk_status_text(read));
        if (read != LnkStatus::ok) continue;
        field("link_flags", link.link_flags);
        field("file_attributes", link.file_attributes);
        field("icon_index", std::to_string(link.icon_index));
        field("show_command", link.show_command);
        field("id_list_items", link.id_list_items);
        field("id_list_path", link.id_list_path);
        field("link_info_path", link.link_info_path);
        field("network_path", link.network_path);
        field("drive_type", link.drive_type);
        field("drive_serial", link.drive_serial);
        field("volume_label", link.volume_label);
        field("name", link.name);
        field("relative_path", link.relative_path);
        field("working_dir", link.working_dir);
        field("arguments", link.arguments);
        field("icon_location", link.icon_location);
        field("environment_target", link.environment_target);
        field("icon_environment", link.icon_environment);
        field("extra_data_cut", link.extra_data_cut ? 1 : 0);
    }
    return status;
}
