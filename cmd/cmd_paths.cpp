// DOS paths on the host: Windows' path rules (length, trailing dots and spaces, "." and ".."),
// drive letters through the drive map, names found without regard to ASCII case, and whether
// something is there.
#include "cmd/cmd_detail.h"

#include "cmd/cmd_parse.h"
#include "cmd/cmd_run.h"
#include "runtime/platform/posix/drives.h"

#include <cerrno>
#include <cstdio>
#include <dirent.h>
#include <sys/stat.h>

namespace {

// Windows' MAX_PATH less the terminating zero, in UTF-16 units.
constexpr size_t MAX_DOS_PATH = 259;

// UTF-16 units of a UTF-8 text, as Windows counts a path's length.
size_t utf16_length(std::string_view text) {
    size_t units = 0;
    for (const char c : text) {
        const unsigned char b = static_cast<unsigned char>(c);
        if ((b & 0xC0) != 0x80) units += b >= 0xF0 ? 2 : 1;
    }
    return units;
}

// Windows finds "E:\\MUSIC" when the folder is "Music": the parts of a host path that do not
// exist as written are looked up again without regard to ASCII case, folder by folder.
std::string case_resolved(const std::string& host) {
    struct stat info {};
    if (host.empty() || lstat(host.c_str(), &info) == 0) return host;
    std::string done = host.front() == '/' ? "/" : "";
    size_t at = host.front() == '/' ? 1 : 0;
    while (at <= host.size()) {
        size_t end = host.find('/', at);
        if (end == std::string::npos) end = host.size();
        std::string part = host.substr(at, end - at);
        const std::string here = done.empty() ? "." : done;
        std::string candidate = done + part;
        if (!part.empty() && lstat(candidate.c_str(), &info) != 0) {
            if (DIR* dir = opendir(here.c_str())) {
                while (const dirent* entry = readdir(dir))
                    if (cmd_iequals(entry->d_name, part)) {
                        part = entry->d_name;
                        break;
                    }
                closedir(dir);
            }
        }
        done += part;
        if (end == host.size()) break;
        done += '/';
        at = end + 1;
    }
    return done;
}

} // namespace

bool cmd_is_nul(const std::string& dos) {
    return cmd_iequals(dos, "nul") || cmd_iequals(dos, "nul:");
}

bool cmd_dos_to_host(const std::string& dos, std::string& host) {
    if (utf16_length(dos) > MAX_DOS_PATH) {
        errno = ENAMETOOLONG;
        return false;
    }
    // Windows' path rules: "." goes, ".." goes up but never above the drive's root, a part that
    // ends in one point loses it, and the points and spaces that end the last part go.
    size_t start = dos.size() >= 2 && dos[1] == ':' ? 2 : 0;
    std::string trimmed = dos.substr(0, start);
    const bool absolute = start < dos.size() && (dos[start] == '\\' || dos[start] == '/');
    if (absolute) trimmed.push_back('\\');
    std::vector<std::string> parts;
    for (size_t at = start; at <= dos.size();) {
        size_t end = dos.find_first_of("\\/", at);
        if (end == std::string::npos) end = dos.size();
        std::string part = dos.substr(at, end - at);
        const bool last = end == dos.size();
        if (part == "..") {
            if (!parts.empty() && parts.back() != "..")
                parts.pop_back();
            else if (!absolute)
                parts.push_back(part);
        } else if (part != "." && !part.empty()) {
            if (last) {
                while (!part.empty() && (part.back() == '.' || part.back() == ' ')) part.pop_back();
            } else if (part.size() >= 2 && part.back() == '.' && part[part.size() - 2] != '.') {
                part.pop_back();
            }
            if (!part.empty()) parts.push_back(part);
        }
        at = end + 1;
    }
    for (size_t i = 0; i < parts.size(); ++i) trimmed += (i ? "\\" : "") + parts[i];
    if (trimmed.empty() && !dos.empty()) trimmed = ".";
    errno = ENOENT;
    if (!dos_to_host_path(trimmed.c_str(), host)) return false;
    host = case_resolved(host);
    return true;
}

bool cmd_host_path(const std::string& dos, std::string& host) {
    if (cmd_dos_to_host(dos, host)) return true;
    std::fprintf(stderr, "%s\n",
                 errno == ENAMETOOLONG ? "The filename or extension is too long."
                                       : "The system cannot find the drive specified.");
    return false;
}

std::string cmd_host_to_dos(const std::string& host) {
    std::string dos;
    return host_to_dos_path(host, dos) ? dos : host;
}

bool cmd_exists(const std::string& host) {
    struct stat info {};
    return lstat(host.c_str(), &info) == 0;
}

bool cmd_is_directory(const std::string& host) {
    struct stat info {};
    return stat(host.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}
