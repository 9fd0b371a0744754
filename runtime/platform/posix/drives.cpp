#include "runtime/platform/posix/drives.h"

#include <cctype>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace {

constexpr char FIRST_REMOVABLE_LETTER = 'E';

char upper(char c) {
    return char(std::toupper(static_cast<unsigned char>(c)));
}

bool is_letter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// The kernel writes space, tab, newline and backslash in mount points as three octal digits.
std::string unescape_octal(std::string_view field) {
    std::string out;
    out.reserve(field.size());
    for (size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size()) {
            const char a = field[i + 1], b = field[i + 2], c = field[i + 3];
            if (a >= '0' && a <= '3' && b >= '0' && b <= '7' && c >= '0' && c <= '7') {
                out.push_back(char((a - '0') * 64 + (b - '0') * 8 + (c - '0')));
                i += 3;
                continue;
            }
        }
        out.push_back(field[i]);
    }
    return out;
}

std::vector<std::string_view> split_fields(std::string_view line) {
    std::vector<std::string_view> fields;
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
        const size_t start = i;
        while (i < line.size() && line[i] != ' ' && line[i] != '\t') ++i;
        if (i > start) fields.push_back(line.substr(start, i - start));
    }
    return fields;
}

bool under(const std::string& path, std::string_view base) {
    if (path.compare(0, base.size(), base) != 0) return false;
    return path.size() == base.size() || path[base.size()] == '/';
}

bool is_removable_place(const std::string& mount_point) {
    return under(mount_point, "/media") || under(mount_point, "/run/media") ||
           under(mount_point, "/mnt");
}

std::string read_mount_table() {
    for (const char* file : {"/proc/self/mountinfo", "/proc/mounts"}) {
        std::ifstream in(file);
        if (!in) continue;
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }
    return {};
}

std::string strip_trailing_slashes(std::string dir) {
    while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
    return dir;
}

const char* env_root(char letter) {
    const std::string name = std::string("UNVEILO_DRIVE_") + letter;
    const char* value = std::getenv(name.c_str());
    return value != nullptr && value[0] != '\0' ? value : nullptr;
}

} // namespace

std::vector<std::string> drive_removable_mounts(std::string_view mount_table) {
    std::vector<std::string> mounts;
    while (!mount_table.empty()) {
        const size_t end = mount_table.find('\n');
        const std::string_view line = mount_table.substr(0, end);
        mount_table =
            end == std::string_view::npos ? std::string_view{} : mount_table.substr(end + 1);
        const std::vector<std::string_view> fields = split_fields(line);
        // mountinfo: "id parent major:minor root mount-point options ... - type source ..."; the
        // older /proc/mounts: "source mount-point type options 0 0".
        size_t separator = 0;
        for (size_t i = 0; i < fields.size() && separator == 0; ++i)
            if (fields[i] == "-") separator = i;
        const size_t point_field = separator != 0 ? 4 : 1;
        const size_t source_field = separator != 0 ? separator + 2 : 0;
        if (fields.size() <= point_field || fields.size() <= source_field) continue;
        const std::string point = unescape_octal(fields[point_field]);
        if (!is_removable_place(point)) continue;
        // A medium is a block device; a tmpfs or a network share mounted there is not a stick.
        if (fields[source_field].substr(0, 5) != "/dev/") continue;
        bool seen = false;
        for (const std::string& known : mounts) seen = seen || known == point;
        if (!seen) mounts.push_back(point);
    }
    return mounts;
}

std::string drive_root_with(char letter, const std::vector<std::string>& removable) {
    if (!is_letter(letter)) return {};
    letter = upper(letter);
    if (const char* dir = env_root(letter)) return strip_trailing_slashes(dir);
    if (letter == 'C') return "/";
    if (letter < FIRST_REMOVABLE_LETTER) return {};
    // A letter the environment has taken is skipped, so that no medium is hidden behind it.
    size_t next = 0;
    for (char candidate = FIRST_REMOVABLE_LETTER; candidate <= 'Z'; ++candidate) {
        if (env_root(candidate) != nullptr) continue;
        if (next >= removable.size()) return {};
        if (candidate == letter) return strip_trailing_slashes(removable[next]);
        ++next;
    }
    return {};
}

std::string drive_root(char letter) {
    if (!is_letter(letter)) return {};
    const char up = upper(letter);
    if (env_root(up) != nullptr || up == 'C' || up < FIRST_REMOVABLE_LETTER)
        return drive_root_with(up, {});
    return drive_root_with(up, drive_removable_mounts(read_mount_table()));
}

bool drive_root_is_system(char letter) {
    const std::string root = drive_root(letter);
    if (root.empty()) return false;
    if (root == "/") return true;
    // "/.", "//" or a link to "/" name the same directory.
    char resolved[PATH_MAX];
    return realpath(root.c_str(), resolved) != nullptr && std::string(resolved) == "/";
}

bool dos_to_host_path(const char* dos, std::string& host) {
    host.clear();
    std::string_view rest(dos);
    if (rest.size() >= 2 && is_letter(rest[0]) && rest[1] == ':') {
        const std::string root = drive_root(rest[0]);
        if (root.empty()) return false;
        rest.remove_prefix(2);
        host = root;
        // "E:", "E:\" and "E:name" all start at the drive's directory: the tool has no current
        // directory per drive.
        while (!rest.empty() && (rest.front() == '\\' || rest.front() == '/'))
            rest.remove_prefix(1);
        if (rest.empty()) {
            if (host != "/") host += '/';
            return true;
        }
        if (host != "/") host += '/';
    }
    for (const char c : rest) host.push_back(c == '\\' ? '/' : c);
    return true;
}

bool host_to_dos_path(const std::string& host, std::string& dos) {
    char best = 0;
    size_t best_length = 0;
    // One look at the mount table for all 26 letters.
    const std::vector<std::string> removable = drive_removable_mounts(read_mount_table());
    for (char letter = 'A'; letter <= 'Z'; ++letter) {
        std::string root = drive_root_with(letter, removable);
        if (root.empty()) continue;
        size_t length = root == "/" ? 0 : root.size();
        bool inside = length == 0 || host == root || host.compare(0, length + 1, root + "/") == 0;
        if (inside && (best == 0 || length > best_length)) {
            best = letter;
            best_length = length;
        }
    }
    if (best == 0) return false;
    dos = std::string(1, best) + ":\\";
    std::string below = host.substr(best_length);
    while (!below.empty() && below[0] == '/') below.erase(0, 1);
    for (char& c : below)
        if (c == '/') c = '\\';
    dos += below;
    return true;
}
