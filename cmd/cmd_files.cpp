// The file commands of unveilo-cmd (COPY, DEL, MOVE, REN, MD, TYPE, DIR), and the helpers they
// share with the interpreter: words and names without regard to case, and the wildcard listing.
#include "cmd/cmd_detail.h"

#include "cmd/cmd_parse.h"
#include "cmd/cmd_run.h"
#include "runtime/platform/posix/dos_attrib.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

std::string cmd_upper(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = char(std::toupper(static_cast<unsigned char>(c)));
    return out;
}

bool cmd_ends_with_i(std::string_view text, std::string_view tail) {
    return text.size() >= tail.size() && cmd_iequals(text.substr(text.size() - tail.size()), tail);
}

std::vector<std::string> cmd_unquoted_words(std::string_view text) {
    std::vector<std::string> words = cmd_split_words(text);
    for (std::string& word : words) word = cmd_unquote(word);
    return words;
}

// Options ("/Y", "/q") apart from operands.
static void split_options(const std::vector<std::string>& words, std::vector<std::string>& options,
                          std::vector<std::string>& operands) {
    for (const std::string& word : words) {
        // "/Y" and "/-Y" are switches; "/home/ann/x" is a host path.
        const bool option = word.size() >= 2 && word.size() <= 3 && word[0] == '/' &&
                            word.find('/', 1) == std::string::npos;
        if (option)
            options.push_back(cmd_upper(word));
        else
            operands.push_back(cmd_unquote(word));
    }
}

static bool has_option(const std::vector<std::string>& options, std::string_view option) {
    return std::find(options.begin(), options.end(), option) != options.end();
}

static std::string base_name(const std::string& path) {
    const size_t cut = path.find_last_of("\\/");
    return cut == std::string::npos ? path : path.substr(cut + 1);
}

static bool hidden_or_system(const std::string& host) {
    uint32_t attrib = 0;
    return dos_attrib_get(host.c_str(), attrib) &&
           (attrib & (DOS_ATTRIB_HIDDEN | DOS_ATTRIB_SYSTEM)) != 0;
}

static size_t name_start(const std::string& dos) {
    const size_t cut = dos.find_last_of("\\/");
    return cut != std::string::npos ? cut + 1 : (dos.size() >= 2 && dos[1] == ':') ? 2 : 0;
}

std::vector<std::pair<std::string, std::string>> cmd_match_entries(const std::string& dos,
                                                                   bool folders) {
    std::vector<std::pair<std::string, std::string>> found;
    const size_t name_at = name_start(dos);
    const std::string dos_dir = dos.substr(0, name_at);
    const std::string pattern = dos.substr(name_at);
    std::string host_dir;
    if (!cmd_dos_to_host(dos_dir.empty() ? "." : dos_dir, host_dir)) return found;
    if (!cmd_has_wildcard(pattern)) {
        std::string host;
        struct stat info {};
        if (cmd_dos_to_host(dos, host) && lstat(host.c_str(), &info) == 0 &&
            S_ISDIR(info.st_mode) == folders)
            found.emplace_back(host, dos);
        return found;
    }
    DIR* dir = opendir(host_dir.c_str());
    if (dir == nullptr) return found;
    while (const dirent* entry = readdir(dir)) {
        const std::string name = entry->d_name;
        if (name == "." || name == ".." || !cmd_wildcard_match(pattern, name)) continue;
        std::string host = host_dir;
        if (!host.empty() && host.back() != '/') host.push_back('/');
        host += name;
        struct stat info {};
        if (lstat(host.c_str(), &info) != 0 || S_ISDIR(info.st_mode) != folders) continue;
        if (hidden_or_system(host)) continue;
        found.emplace_back(host, dos_dir + name);
    }
    closedir(dir);
    std::sort(found.begin(), found.end(), [](const auto& a, const auto& b) {
        return cmd_upper(a.second) < cmd_upper(b.second);
    });
    return found;
}

std::vector<std::pair<std::string, std::string>> cmd_match_files(const std::string& dos) {
    return cmd_match_entries(dos, false);
}

// IF EXIST with a wildcard: whether any file or folder matches. Windows lists "." and ".." in
// every folder but a drive's root, so "folder\*" holds for any existing folder, even an empty one.
bool cmd_any_entry_matches(const std::string& dos) {
    const size_t name_at = name_start(dos);
    const std::string pattern = dos.substr(name_at);
    std::string host_dir;
    const std::string dos_dir = dos.substr(0, name_at);
    if (!cmd_dos_to_host(dos_dir.empty() ? "." : dos_dir, host_dir)) return false;
    DIR* dir = opendir(host_dir.empty() ? "." : host_dir.c_str());
    if (dir == nullptr) return false;
    bool found = false;
    while (const dirent* entry = readdir(dir)) {
        if (cmd_wildcard_match(pattern, entry->d_name)) {
            found = true;
            break;
        }
    }
    closedir(dir);
    return found;
}

// Copies one file's bytes; false with errno set. Writes through a new file beside the target
// first only when the target does not exist yet; an existing target is overwritten in place,
// as the interpreter's COPY does.
static bool copy_bytes(const std::string& from, const std::string& to) {
    const int in = open(from.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) return false;
    struct stat info {};
    fstat(in, &info);
    const int out =
        open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, (info.st_mode & 0777) | S_IWUSR);
    if (out < 0) {
        const int saved = errno;
        close(in);
        errno = saved;
        return false;
    }
    char buffer[1 << 16];
    bool ok = true;
    for (;;) {
        const ssize_t got = read(in, buffer, sizeof buffer);
        if (got == 0) break;
        if (got < 0) {
            if (errno == EINTR) continue;
            ok = false;
            break;
        }
        for (ssize_t put = 0; put < got;) {
            const ssize_t n = write(out, buffer + put, size_t(got - put));
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {
                ok = false;
                break;
            }
            put += n;
        }
        if (!ok) break;
    }
    const int saved = errno;
    close(in);
    if (close(out) != 0) ok = false;
    errno = saved;
    return ok;
}

static bool same_file(const std::string& a, const std::string& b) {
    struct stat sa {
    }, sb{};
    return stat(a.c_str(), &sa) == 0 && stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
}

// Renames without ever replacing what is already at the target.
static bool rename_no_replace(const std::string& from, const std::string& to) {
    if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
    if (errno != EINVAL && errno != ENOSYS) return false;
    // The file system cannot promise it; check first (a race remains, as it does under cmd).
    if (cmd_exists(to)) {
        errno = EEXIST;
        return false;
    }
    return rename(from.c_str(), to.c_str()) == 0;
}

int cmd_copy(const std::string& rest) {
    std::vector<std::string> options, operands;
    split_options(cmd_split_words(rest), options, operands);
    if (operands.empty() || operands.size() > 2) {
        std::fprintf(stderr, "The syntax of the command is incorrect.\n");
        return 1;
    }
    std::string target = ".";
    if (operands.size() == 2 && !cmd_host_path(operands[1], target)) return 1;
    const auto sources = cmd_match_files(operands[0]);
    if (sources.empty()) {
        std::fprintf(stderr, "The system cannot find the file specified.\n");
        std::printf("        0 file(s) copied.\n");
        return 1;
    }
    const bool into_folder = cmd_is_directory(target);
    if (!into_folder && sources.size() > 1) {
        std::fprintf(stderr, "The target must be a folder when copying several files.\n");
        return 1;
    }
    int copied = 0;
    int status = 0;
    for (const auto& [host, dos] : sources) {
        const std::string to = into_folder ? target + "/" + base_name(host) : target;
        if (same_file(host, to)) {
            std::fprintf(stderr, "The file cannot be copied onto itself.\n");
            status = 1;
            continue;
        }
        if (!copy_bytes(host, to)) {
            std::fprintf(stderr, "%s: %s\n", dos.c_str(), std::strerror(errno));
            status = 1;
            continue;
        }
        ++copied;
    }
    std::printf("        %d file(s) copied.\n", copied);
    return status;
}

int cmd_del(const std::string& rest) {
    std::vector<std::string> options, operands;
    split_options(cmd_split_words(rest), options, operands);
    if (operands.empty()) {
        std::fprintf(stderr, "The syntax of the command is incorrect.\n");
        return 1;
    }
    const bool quiet = has_option(options, "/Q");
    const bool force = has_option(options, "/F");
    int status = 0;
    for (const std::string& operand : operands) {
        std::string host;
        if (!cmd_host_path(operand, host)) {
            status = 1;
            continue;
        }
        if (cmd_is_directory(host)) {
            // The interpreter would empty the folder; a wildcard says so explicitly here.
            std::fprintf(stderr, "%s is a folder; name its files (for example %s\\*.*)\n",
                         operand.c_str(), operand.c_str());
            status = 1;
            continue;
        }
        const std::string pattern = base_name(operand);
        if (!quiet && (pattern == "*" || pattern == "*.*")) {
            std::printf("%s, Are you sure (Y/N)? ", operand.c_str());
            std::fflush(stdout);
            char answer[16] = {};
            if (std::fgets(answer, sizeof answer, stdin) == nullptr ||
                (answer[0] != 'y' && answer[0] != 'Y'))
                continue;
        }
        const auto files = cmd_match_files(operand);
        if (files.empty()) {
            std::fprintf(stderr, "Could Not Find %s\n", operand.c_str());
            status = 1;
            continue;
        }
        for (const auto& [file, dos] : files) {
            struct stat info {};
            if (lstat(file.c_str(), &info) == 0 && (info.st_mode & 0222) == 0 && !force) {
                std::fprintf(stderr, "Access is denied - %s\n", dos.c_str());
                status = 1;
                continue;
            }
            if (unlink(file.c_str()) != 0) {
                std::fprintf(stderr, "%s: %s\n", dos.c_str(), std::strerror(errno));
                status = 1;
            }
        }
    }
    return status;
}

int cmd_move(const std::string& rest) {
    std::vector<std::string> options, operands;
    split_options(cmd_split_words(rest), options, operands);
    if (operands.size() != 2) {
        std::fprintf(stderr, "The syntax of the command is incorrect.\n");
        return 1;
    }
    std::string from, target;
    if (!cmd_host_path(operands[0], from) || !cmd_host_path(operands[1], target)) return 1;
    std::vector<std::pair<std::string, std::string>> sources;
    if (cmd_has_wildcard(operands[0]))
        sources = cmd_match_files(operands[0]);
    else if (cmd_exists(from))
        sources.emplace_back(from, operands[0]);
    if (sources.empty()) {
        std::fprintf(stderr, "The system cannot find the file specified.\n");
        return 1;
    }
    const bool into_folder = cmd_is_directory(target);
    int moved = 0, status = 0;
    for (const auto& [host, dos] : sources) {
        const std::string to = into_folder ? target + "/" + base_name(host) : target;
        // A move never replaces a file: what is at the target may be the only copy of it.
        if (!rename_no_replace(host, to)) {
            std::fprintf(stderr, "%s: %s\n", dos.c_str(),
                         errno == EEXIST ? "A file of the target's name already exists."
                                         : std::strerror(errno));
            status = 1;
            continue;
        }
        ++moved;
    }
    std::printf("        %d file(s) moved.\n", moved);
    return status;
}

int cmd_ren(const std::string& rest) {
    const std::vector<std::string> words = cmd_unquoted_words(rest);
    if (words.size() != 2 || words[1].find_first_of("\\/:") != std::string::npos) {
        std::fprintf(stderr, "The syntax of the command is incorrect.\n");
        return 1;
    }
    std::string from;
    if (!cmd_host_path(words[0], from)) return 1;
    const size_t cut = from.rfind('/');
    const std::string to =
        (cut == std::string::npos ? std::string() : from.substr(0, cut + 1)) + words[1];
    if (!rename_no_replace(from, to)) {
        std::fprintf(stderr, "%s\n",
                     errno == EEXIST ? "A duplicate file name exists, or the file cannot be found."
                                     : std::strerror(errno));
        return 1;
    }
    return 0;
}

int cmd_md(const std::string& rest) {
    const std::vector<std::string> words = cmd_unquoted_words(rest);
    if (words.empty()) {
        std::fprintf(stderr, "The syntax of the command is incorrect.\n");
        return 1;
    }
    int status = 0;
    for (const std::string& word : words) {
        std::string host;
        if (!cmd_host_path(word, host)) {
            status = 1;
            continue;
        }
        if (cmd_exists(host)) {
            std::fprintf(stderr, "A subdirectory or file %s already exists.\n", word.c_str());
            status = 1;
            continue;
        }
        // Missing parents are made too, as the interpreter does.
        for (size_t at = 1; at <= host.size(); ++at) {
            if (at != host.size() && host[at] != '/') continue;
            const std::string part = host.substr(0, at);
            if (mkdir(part.c_str(), 0777) != 0 && errno != EEXIST) {
                std::fprintf(stderr, "%s: %s\n", word.c_str(), std::strerror(errno));
                status = 1;
                break;
            }
        }
    }
    return status;
}

int cmd_type(const std::string& rest) {
    int status = 0;
    for (const std::string& dos : cmd_unquoted_words(rest)) {
        if (cmd_is_nul(dos)) continue;
        std::string host;
        std::ifstream in;
        if (cmd_host_path(dos, host)) in.open(host, std::ios::binary);
        if (!in) {
            std::fprintf(stderr, "The system cannot find the file specified.\n");
            status = 1;
            continue;
        }
        std::fflush(stdout);
        char buffer[4096];
        while (in.read(buffer, sizeof buffer) || in.gcount() > 0)
            std::fwrite(buffer, 1, size_t(in.gcount()), stdout);
    }
    return status;
}

// DIR /B, the bare listing a batch file reads: names only, one a line; /A lists hidden and
// system entries too, /AD folders only, /A-D files only.
int cmd_dir(const std::string& rest) {
    std::vector<std::string> options, operands;
    split_options(cmd_split_words(rest), options, operands);
    bool all = false, only_folders = false, only_files = false;
    for (const std::string& option : options) {
        if (option.rfind("/A", 0) == 0) {
            all = option == "/A";
            only_folders = option == "/AD";
            only_files = option == "/A-D";
        } else if (option != "/B") {
            std::fprintf(stderr, "DIR %s is not offered by unveilo-cmd.\n", option.c_str());
            return 1;
        }
    }
    std::string dos = operands.empty() ? "*" : operands[0];
    std::string host;
    if (!cmd_has_wildcard(dos) && cmd_dos_to_host(dos, host) && cmd_is_directory(host))
        dos += dos.back() == '\\' || dos.back() == ':' ? "*" : "\\*";
    const size_t name_at = name_start(dos);
    std::string host_dir;
    if (!cmd_host_path(name_at == 0 ? "." : dos.substr(0, name_at), host_dir)) return 1;
    DIR* dir = opendir(host_dir.c_str());
    std::vector<std::string> names;
    while (dir != nullptr) {
        const dirent* entry = readdir(dir);
        if (entry == nullptr) break;
        const std::string name = entry->d_name;
        if (name == "." || name == ".." || !cmd_wildcard_match(dos.substr(name_at), name)) continue;
        const std::string path = host_dir + "/" + name;
        const bool folder = cmd_is_directory(path);
        if ((only_folders && !folder) || (only_files && folder)) continue;
        if (!all && !only_folders && !only_files && hidden_or_system(path)) continue;
        names.push_back(name);
    }
    if (dir != nullptr) closedir(dir);
    std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
        return cmd_upper(a) < cmd_upper(b);
    });
    for (const std::string& name : names) std::printf("%s\n", name.c_str());
    if (names.empty()) std::fprintf(stderr, "File Not Found\n");
    return names.empty() ? 1 : 0;
}
