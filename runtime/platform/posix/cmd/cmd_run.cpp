// The interpreter proper: lines, batch files and the internal commands. Messages follow the
// Windows command interpreter's wording where a user would recognise them.
#include "runtime/platform/posix/cmd/cmd_run.h"

#include "runtime/platform/posix/cmd/cmd_parse.h"
#include "runtime/platform/posix/drives.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <random>
#include <spawn.h>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

struct CmdBatch {
    std::vector<std::string> lines;
    std::vector<std::string> args; // %0 (the batch's full path) .. %9
    size_t next = 0;               // index of the next line to run
    bool done = false;             // GOTO :EOF, EXIT /B, or a batch started without CALL
};

namespace {

constexpr int NOT_RECOGNISED = 9009;
// Deep enough for any honest batch file; a CALL that recurses without end stops here.
constexpr int MAX_CALL_DEPTH = 64;

std::string upper(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = char(std::toupper(static_cast<unsigned char>(c)));
    return out;
}

bool ends_with_i(std::string_view text, std::string_view tail) {
    return text.size() >= tail.size() && cmd_iequals(text.substr(text.size() - tail.size()), tail);
}

std::vector<std::string> unquoted_words(std::string_view text) {
    std::vector<std::string> words = cmd_split_words(text);
    for (std::string& word : words) word = cmd_unquote(word);
    return words;
}

// Options ("/Y", "/q") apart from operands.
void split_options(const std::vector<std::string>& words, std::vector<std::string>& options,
                   std::vector<std::string>& operands) {
    for (const std::string& word : words) {
        // "/Y" and "/-Y" are switches; "/home/ann/x" is a host path.
        const bool option = word.size() >= 2 && word.size() <= 3 && word[0] == '/' &&
                            word.find('/', 1) == std::string::npos;
        if (option)
            options.push_back(upper(word));
        else
            operands.push_back(cmd_unquote(word));
    }
}

bool has_option(const std::vector<std::string>& options, std::string_view option) {
    return std::find(options.begin(), options.end(), option) != options.end();
}

bool is_directory(const std::string& host) {
    struct stat info {};
    return stat(host.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool exists(const std::string& host) {
    struct stat info {};
    return lstat(host.c_str(), &info) == 0;
}

std::string base_name(const std::string& path) {
    const size_t cut = path.find_last_of("\\/");
    return cut == std::string::npos ? path : path.substr(cut + 1);
}

// Files (never folders) matching a DOS path whose last part may hold wildcards: pairs of
// (host path, DOS path). A path without wildcards gives itself when it is a file.
std::vector<std::pair<std::string, std::string>> match_files(const std::string& dos) {
    std::vector<std::pair<std::string, std::string>> found;
    const size_t cut = dos.find_last_of("\\/");
    const size_t name_at = cut != std::string::npos             ? cut + 1
                           : (dos.size() >= 2 && dos[1] == ':') ? 2
                                                                : 0;
    const std::string dos_dir = dos.substr(0, name_at);
    const std::string pattern = dos.substr(name_at);
    std::string host_dir;
    if (!dos_to_host_path(dos_dir.empty() ? "." : dos_dir.c_str(), host_dir)) return found;
    if (!cmd_has_wildcard(pattern)) {
        std::string host;
        struct stat info {};
        if (dos_to_host_path(dos.c_str(), host) && lstat(host.c_str(), &info) == 0 &&
            !S_ISDIR(info.st_mode))
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
        if (lstat(host.c_str(), &info) != 0 || S_ISDIR(info.st_mode)) continue;
        found.emplace_back(host, dos_dir + name);
    }
    closedir(dir);
    std::sort(found.begin(), found.end(),
              [](const auto& a, const auto& b) { return upper(a.second) < upper(b.second); });
    return found;
}

// IF EXIST with a wildcard: whether any file or folder matches. Windows lists "." and ".." in
// every folder but a drive's root, so "folder\*" holds for any existing folder, even an empty one.
bool any_entry_matches(const std::string& dos) {
    const size_t cut = dos.find_last_of("\\/");
    const size_t name_at = cut != std::string::npos             ? cut + 1
                           : (dos.size() >= 2 && dos[1] == ':') ? 2
                                                                : 0;
    const std::string pattern = dos.substr(name_at);
    std::string host_dir;
    const std::string dos_dir = dos.substr(0, name_at);
    if (!dos_to_host_path(dos_dir.empty() ? "." : dos_dir.c_str(), host_dir)) return false;
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

std::string find_on_path(const std::string& name) {
    if (name.find('/') != std::string::npos)
        return access(name.c_str(), X_OK) == 0 && !is_directory(name) ? name : std::string();
    const char* path = std::getenv("PATH");
    std::string_view dirs = path != nullptr ? path : "/usr/local/bin:/usr/bin:/bin";
    while (true) {
        const size_t colon = dirs.find(':');
        std::string candidate(dirs.substr(0, colon));
        if (candidate.empty()) candidate = ".";
        candidate += '/';
        candidate += name;
        if (access(candidate.c_str(), X_OK) == 0 && !is_directory(candidate)) return candidate;
        if (colon == std::string_view::npos) return {};
        dirs.remove_prefix(colon + 1);
    }
}

// Starts a program with its arguments and waits for it; its exit status, or 1 when it could not
// start or died from a signal.
int spawn_and_wait(const std::string& program, const std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    std::fflush(nullptr);
    pid_t pid = 0;
    if (posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv.data(), environ) != 0) return 1;
    int status = 0;
    while (waitpid(pid, &status, 0) < 0)
        if (errno != EINTR) return 1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}

// Copies one file's bytes; false with errno set. Writes through a new file beside the target
// first only when the target does not exist yet; an existing target is overwritten in place,
// as the interpreter's COPY does.
bool copy_bytes(const std::string& from, const std::string& to) {
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

bool same_file(const std::string& a, const std::string& b) {
    struct stat sa {
    }, sb{};
    return stat(a.c_str(), &sa) == 0 && stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
}

// Renames without ever replacing what is already at the target.
bool rename_no_replace(const std::string& from, const std::string& to) {
    if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
    if (errno != EINVAL && errno != ENOSYS) return false;
    // The file system cannot promise it; check first (a race remains, as it does under cmd).
    if (exists(to)) {
        errno = EEXIST;
        return false;
    }
    return rename(from.c_str(), to.c_str()) == 0;
}

int internal_copy(const std::string& rest) {
    std::vector<std::string> options, operands;
    split_options(cmd_split_words(rest), options, operands);
    if (operands.empty() || operands.size() > 2) {
        std::fprintf(stderr, "The syntax of the command is incorrect.\n");
        return 1;
    }
    std::string target = ".";
    if (operands.size() == 2 && !cmd_host_path(operands[1], target)) return 1;
    const auto sources = match_files(operands[0]);
    if (sources.empty()) {
        std::fprintf(stderr, "The system cannot find the file specified.\n");
        std::printf("        0 file(s) copied.\n");
        return 1;
    }
    const bool into_folder = is_directory(target);
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

int internal_del(const std::string& rest) {
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
        if (is_directory(host)) {
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
        const auto files = match_files(operand);
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

int internal_move(const std::string& rest) {
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
        sources = match_files(operands[0]);
    else if (exists(from))
        sources.emplace_back(from, operands[0]);
    if (sources.empty()) {
        std::fprintf(stderr, "The system cannot find the file specified.\n");
        return 1;
    }
    const bool into_folder = is_directory(target);
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

int internal_ren(const std::string& rest) {
    const std::vector<std::string> words = unquoted_words(rest);
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

int internal_md(const std::string& rest) {
    const std::vector<std::string> words = unquoted_words(rest);
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
        if (exists(host)) {
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

int internal_findstr(const std::string& rest) {
    bool ignore_case = false, names_only = false;
    std::vector<std::string> needles, files;
    bool have_plain = false;
    for (const std::string& word : cmd_split_words(rest)) {
        if (word.size() >= 2 && word[0] == '/' && (word.size() <= 3 || word[2] == ':') &&
            word.find('/', 1) == std::string::npos) {
            const std::string option = upper(word);
            if (option == "/I")
                ignore_case = true;
            else if (option == "/M")
                names_only = true;
            else if (option.rfind("/C:", 0) == 0)
                needles.push_back(cmd_unquote(word.substr(3)));
            else if (option != "/L") {
                std::fprintf(stderr, "FINDSTR: /%s ignored\n", word.c_str() + 1);
            }
            continue;
        }
        if (needles.empty() && !have_plain) {
            // A plain search string holds several words, any of which may match.
            have_plain = true;
            for (const std::string& part : cmd_split_words(cmd_unquote(word)))
                needles.push_back(part);
            continue;
        }
        files.push_back(cmd_unquote(word));
    }
    if (needles.empty() || files.empty()) {
        std::fprintf(stderr, "FINDSTR: Bad command line\n");
        return 2;
    }
    auto lower_all = [](std::string text) {
        for (char& c : text) c = char(std::tolower(static_cast<unsigned char>(c)));
        return text;
    };
    if (ignore_case)
        for (std::string& needle : needles) needle = lower_all(needle);
    bool any = false;
    for (const std::string& dos : files) {
        std::string host;
        if (!cmd_host_path(dos, host)) continue;
        std::ifstream in(host, std::ios::binary);
        if (!in) {
            std::fprintf(stderr, "FINDSTR: Cannot open %s\n", dos.c_str());
            continue;
        }
        const std::string content((std::istreambuf_iterator<char>(in)),
                                  std::istreambuf_iterator<char>());
        std::istringstream lines(content);
        std::string line;
        bool file_matched = false;
        while (std::getline(lines, line)) {
            const std::string haystack = ignore_case ? lower_all(line) : line;
            bool hit = false;
            for (const std::string& needle : needles)
                hit = hit || haystack.find(needle) != std::string::npos;
            if (!hit) continue;
            file_matched = any = true;
            if (names_only) break;
            if (files.size() > 1) std::printf("%s:", dos.c_str());
            std::printf("%s\n", line.c_str());
        }
        if (file_matched && names_only) std::printf("%s\n", dos.c_str());
    }
    return any ? 0 : 1;
}

int internal_type(const std::string& rest) {
    int status = 0;
    for (const std::string& dos : unquoted_words(rest)) {
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

int internal_explorer(const std::string& rest) {
    const std::vector<std::string> words = unquoted_words(rest);
    std::string host = ".";
    if (!words.empty() && !cmd_host_path(words[0], host)) return 1;
    const std::string opener = find_on_path("xdg-open");
    if (opener.empty()) {
        std::fprintf(stderr,
                     "explorer: xdg-open was not found on PATH, so no file manager can be "
                     "opened; open %s yourself.\n",
                     host.c_str());
        return 1;
    }
    return spawn_and_wait(opener, {"xdg-open", host});
}

std::optional<std::string> lookup(CmdState& state, const std::string& name) {
    const std::string key = upper(name);
    if (key == "RANDOM") {
        static std::minstd_rand generator{std::random_device{}()};
        return std::to_string(generator() % 32768);
    }
    if (key == "ERRORLEVEL") return std::to_string(state.errorlevel);
    if (key == "CD") {
        char buffer[4096];
        return getcwd(buffer, sizeof buffer) != nullptr ? cmd_host_to_dos(buffer) : std::string();
    }
    const auto found = state.variables.find(key);
    if (found != state.variables.end()) return found->second;
    if (const char* value = std::getenv(name.c_str())) return std::string(value);
    if (const char* value = std::getenv(key.c_str())) return std::string(value);
    return std::nullopt;
}

int internal_set(CmdState& state, const std::string& rest) {
    std::string text = rest;
    if (text.size() >= 2 && text.front() == '"' && text.find('"', 1) != std::string::npos)
        text = text.substr(1, text.rfind('"') - 1);
    const size_t eq = text.find('=');
    if (text.empty() || eq == std::string::npos) {
        if (text.rfind("/", 0) == 0) {
            std::fprintf(stderr, "SET %s is not supported here.\n", text.c_str());
            return 1;
        }
        for (const auto& [name, value] : state.variables)
            if (text.empty() || upper(name).rfind(upper(text), 0) == 0)
                std::printf("%s=%s\n", name.c_str(), value.c_str());
        return 0;
    }
    const std::string name = text.substr(0, eq);
    const std::string value = text.substr(eq + 1);
    if (name.empty()) {
        std::fprintf(stderr, "The syntax of the command is incorrect.\n");
        return 1;
    }
    if (value.empty()) {
        state.variables.erase(upper(name));
        unsetenv(name.c_str());
    } else {
        state.variables[upper(name)] = value;
        setenv(name.c_str(), value.c_str(), 1);
    }
    return 0;
}

void run_expanded(CmdState& state, std::string_view line);

// GOTO: the next line to run is the one after the label.
int internal_goto(CmdState& state, const std::string& rest) {
    const std::vector<std::string> words = cmd_split_words(rest);
    std::string label = words.empty() ? std::string() : cmd_unquote(words[0]);
    if (!label.empty() && label.front() == ':') label.erase(0, 1);
    if (state.batch == nullptr) return 0;
    if (cmd_iequals(label, "eof")) {
        state.batch->done = true;
        return state.errorlevel;
    }
    for (size_t i = 0; i < state.batch->lines.size(); ++i) {
        std::string_view line = state.batch->lines[i];
        while (!line.empty() && (line.front() == ' ' || line.front() == '\t'))
            line.remove_prefix(1);
        if (line.empty() || line.front() != ':') continue;
        const std::vector<std::string> found = cmd_split_words(line.substr(1));
        if (!found.empty() && cmd_iequals(found[0], label)) {
            state.batch->next = i + 1;
            return state.errorlevel;
        }
    }
    std::fprintf(stderr, "The system cannot find the batch label specified - %s\n", label.c_str());
    state.batch->done = true;
    return 1;
}

int run_batch_lines(CmdState& state, CmdBatch& batch);

int internal_call(CmdState& state, const std::string& rest) {
    const std::vector<std::string> words = cmd_split_words(rest);
    if (words.empty()) return 0;
    if (state.call_depth >= MAX_CALL_DEPTH) {
        std::fprintf(stderr, "CALL: too many nested calls\n");
        return 1;
    }
    if (words[0].front() == ':' && state.batch != nullptr) {
        CmdBatch sub;
        sub.lines = state.batch->lines;
        sub.args.push_back(state.batch->args.empty() ? std::string() : state.batch->args[0]);
        for (size_t i = 1; i < words.size(); ++i) sub.args.push_back(words[i]);
        CmdBatch* outer = state.batch;
        state.batch = &sub;
        const int status = internal_goto(state, words[0]);
        if (status != 0 && sub.done) {
            state.batch = outer;
            return status;
        }
        ++state.call_depth;
        const int result = run_batch_lines(state, sub);
        --state.call_depth;
        state.batch = outer;
        return result;
    }
    ++state.call_depth;
    const std::vector<std::string> args(words.begin() + 1, words.end());
    const int result = cmd_run_batch(state, cmd_unquote(words[0]), args);
    --state.call_depth;
    return result;
}

int run_program(CmdState& state, const CmdName& command) {
    const std::string name = cmd_unquote(command.name);
    if (ends_with_i(name, ".bat") || ends_with_i(name, ".cmd")) {
        // Started without CALL, a batch file takes over: the one running now does not resume.
        const int result = cmd_run_batch(state, name, cmd_split_words(command.rest));
        if (state.batch != nullptr) state.batch->done = true;
        return result;
    }
    std::string program;
    if (name.find_first_of("\\/") != std::string::npos || (name.size() >= 2 && name[1] == ':')) {
        std::string host;
        if (dos_to_host_path(name.c_str(), host)) program = find_on_path(host);
    } else {
        program = find_on_path(name);
    }
    if (program.empty()) {
        std::fprintf(stderr,
                     "'%s' is not recognized as an internal or external command,\n"
                     "operable program or batch file.\n",
                     name.c_str());
        return NOT_RECOGNISED;
    }
    std::vector<std::string> args{name};
    for (std::string& word : unquoted_words(command.rest)) args.push_back(std::move(word));
    return spawn_and_wait(program, args);
}

int run_simple(CmdState& state, const std::string& text) {
    const CmdName command = cmd_split_name(text);
    const std::string& rest = command.rest;
    const std::string name = upper(command.name);
    if (name.empty()) return state.errorlevel;
    if (name.front() == ':') return state.errorlevel; // a label
    if (name == "REM") return state.errorlevel;
    if (name == "ECHO") {
        const bool bare = text.size() == command.name.size();
        const char separator = bare ? ' ' : text[command.name.size()];
        if (separator != ' ' && separator != '\t') {
            // "echo." and its kin print what follows the character, even nothing.
            std::printf("%s\n", rest.c_str() + 1);
            return 0;
        }
        const size_t first = rest.find_first_not_of(" \t");
        if (bare || first == std::string::npos) {
            std::printf("ECHO is %s.\n", state.echo_on ? "on" : "off");
            return 0;
        }
        const std::string word = rest.substr(first);
        if (cmd_iequals(word, "off") || cmd_iequals(word, "on")) {
            state.echo_on = cmd_iequals(word, "on");
            return 0;
        }
        std::printf("%s\n", rest.c_str());
        return 0;
    }
    if (name == "SET") return internal_set(state, rest);
    if (name == "GOTO") return internal_goto(state, rest);
    if (name == "CALL") return internal_call(state, rest);
    if (name == "EXIT") {
        std::vector<std::string> words = unquoted_words(rest);
        const bool batch_only = !words.empty() && cmd_iequals(words[0], "/b");
        if (batch_only) words.erase(words.begin());
        const int code = words.empty() ? state.errorlevel : std::atoi(words[0].c_str());
        if (batch_only && state.batch != nullptr)
            state.batch->done = true;
        else
            state.exit_requested = true;
        return code;
    }
    if (name == "COPY") return internal_copy(rest);
    if (name == "DEL" || name == "ERASE") return internal_del(rest);
    if (name == "MOVE") return internal_move(rest);
    if (name == "REN" || name == "RENAME") return internal_ren(rest);
    if (name == "MD" || name == "MKDIR") return internal_md(rest);
    if (name == "TYPE") return internal_type(rest);
    if (name == "CLS") {
        if (isatty(STDOUT_FILENO)) std::printf("\033[H\033[2J");
        return 0;
    }
    if (name == "PUSHD") {
        const std::vector<std::string> words = unquoted_words(rest);
        char cwd[4096];
        std::string host;
        if (words.empty() || getcwd(cwd, sizeof cwd) == nullptr) return 1;
        if (!cmd_host_path(words[0], host)) return 1;
        if (chdir(host.c_str()) != 0) {
            std::fprintf(stderr, "The system cannot find the path specified.\n");
            return 1;
        }
        state.folders.push_back(cwd);
        return 0;
    }
    if (name == "POPD") {
        if (state.folders.empty()) return 0;
        const std::string back = state.folders.back();
        state.folders.pop_back();
        return chdir(back.c_str()) == 0 ? 0 : 1;
    }
    if (name == "CD" || name == "CHDIR") {
        const std::vector<std::string> words = unquoted_words(rest);
        if (words.empty()) {
            std::printf("%s\n", lookup(state, "CD").value_or("").c_str());
            return 0;
        }
        std::string host;
        if (!cmd_host_path(words.back(), host)) return 1;
        if (chdir(host.c_str()) != 0) {
            std::fprintf(stderr, "The system cannot find the path specified.\n");
            return 1;
        }
        return 0;
    }
    if (name == "ATTRIB" || name == "ATTRIB.EXE") return cmd_attrib(cmd_split_words(rest));
    if (name == "FINDSTR" || name == "FINDSTR.EXE") return internal_findstr(rest);
    if (name == "EXPLORER" || name == "EXPLORER.EXE") return internal_explorer(rest);
    return run_program(state, command);
}

// Runs one segment with its redirection in place around it.
int run_segment(CmdState& state, const CmdSegment& segment) {
    if (segment.redirect.empty()) return run_simple(state, segment.text);
    std::string target = "/dev/null";
    if (!cmd_iequals(segment.redirect, "nul") && !cmd_iequals(segment.redirect, "nul:") &&
        !cmd_host_path(segment.redirect, target))
        return 1;
    const int file =
        open(target.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | (segment.append ? O_APPEND : O_TRUNC),
             0666);
    if (file < 0) {
        std::fprintf(stderr, "%s: %s\n", segment.redirect.c_str(), std::strerror(errno));
        return 1;
    }
    std::fflush(stdout);
    const int saved = dup(STDOUT_FILENO);
    dup2(file, STDOUT_FILENO);
    close(file);
    const int result = run_simple(state, segment.text);
    std::fflush(stdout);
    dup2(saved, STDOUT_FILENO);
    close(saved);
    return result;
}

// A line after percent expansion: IF and FOR take the rest of the line as their command, the
// rest is split at "&", "&&" and "||".
void run_expanded(CmdState& state, std::string_view line) {
    while (!line.empty() && (line.front() == ' ' || line.front() == '\t' || line.front() == '@'))
        line.remove_prefix(1);
    if (line.empty() || line.front() == ':') return;
    const CmdName head = cmd_split_name(line);
    if (cmd_iequals(head.name, "rem")) return;
    if (cmd_iequals(head.name, "if")) {
        const std::optional<CmdIf> test = cmd_parse_if(head.rest);
        if (!test) {
            std::fprintf(stderr, "The syntax of the command is incorrect.\n");
            state.errorlevel = 1;
            return;
        }
        bool truth = false;
        switch (test->kind) {
        case CmdIf::exist: {
            std::string host;
            // A wildcard asks whether any entry matches, as under cmd ("folder\\*" is how a
            // batch file asks for a folder).
            truth = cmd_has_wildcard(test->left)
                        ? any_entry_matches(test->left)
                        : dos_to_host_path(test->left.c_str(), host) && exists(host);
            break;
        }
        case CmdIf::errorlevel: truth = state.errorlevel >= std::atoi(test->left.c_str()); break;
        case CmdIf::compare:
            truth = test->ignore_case ? cmd_iequals(test->left, test->right)
                                      : test->left == test->right;
            break;
        }
        if (truth != test->negate) run_expanded(state, test->command);
        return;
    }
    if (cmd_iequals(head.name, "for")) {
        const std::optional<CmdFor> loop = cmd_parse_for(head.rest);
        if (!loop) {
            std::fprintf(stderr, "The syntax of the command is incorrect.\n");
            state.errorlevel = 1;
            return;
        }
        // The set is listed in full before the first command runs, so that commands that move
        // files cannot make the loop see a file twice or skip one.
        std::vector<std::string> values;
        for (const std::string& item : loop->set) {
            if (!cmd_has_wildcard(item)) {
                values.push_back(item);
                continue;
            }
            const bool quoted = item.find('"') != std::string::npos;
            for (const auto& found : match_files(cmd_unquote(item)))
                values.push_back(quoted ? "\"" + found.second + "\"" : found.second);
        }
        for (const std::string& value : values) {
            run_expanded(state, cmd_substitute_for(loop->command, loop->variable, value));
            if (state.exit_requested || (state.batch != nullptr && state.batch->done)) return;
        }
        return;
    }
    for (const CmdSegment& segment : cmd_split_segments(line)) {
        if (segment.join == CmdJoin::on_success && state.errorlevel != 0) continue;
        if (segment.join == CmdJoin::on_failure && state.errorlevel == 0) continue;
        state.errorlevel = run_segment(state, segment);
        if (state.exit_requested || (state.batch != nullptr && state.batch->done)) return;
    }
}

int run_batch_lines(CmdState& state, CmdBatch& batch) {
    CmdBatch* outer = state.batch;
    state.batch = &batch;
    while (!batch.done && !state.exit_requested && batch.next < batch.lines.size()) {
        const std::string& raw = batch.lines[batch.next++];
        const std::string line = cmd_expand(
            raw, batch.args, [&state](const std::string& name) { return lookup(state, name); });
        std::string_view shown = line;
        while (!shown.empty() && (shown.front() == ' ' || shown.front() == '\t'))
            shown.remove_prefix(1);
        if (state.echo_on && !shown.empty() && shown.front() != '@' && shown.front() != ':')
            std::printf("\n%s>%s\n", lookup(state, "CD").value_or("").c_str(), line.c_str());
        run_expanded(state, line);
    }
    state.batch = outer;
    return state.errorlevel;
}

} // namespace

bool cmd_host_path(const std::string& dos, std::string& host) {
    if (dos_to_host_path(dos.c_str(), host)) return true;
    std::fprintf(stderr, "The system cannot find the drive specified.\n");
    return false;
}

std::string cmd_host_to_dos(const std::string& host) {
    std::string best_root;
    char best_letter = 0;
    for (char letter = 'A'; letter <= 'Z'; ++letter) {
        const std::string root = drive_root(letter);
        if (root.empty() || root.size() < best_root.size()) continue;
        const bool inside = root == "/" || host == root ||
                            (host.compare(0, root.size(), root) == 0 && host[root.size()] == '/');
        if (!inside || (best_letter != 0 && root.size() == best_root.size())) continue;
        best_root = root;
        best_letter = letter;
    }
    if (best_letter == 0) return host;
    std::string rest = host.substr(best_root == "/" ? 0 : best_root.size());
    for (char& c : rest)
        if (c == '/') c = '\\';
    if (rest.empty()) rest = "\\";
    return std::string(1, best_letter) + ":" + rest;
}

int cmd_run_line(CmdState& state, std::string_view line) {
    run_expanded(state, line);
    return state.errorlevel;
}

int cmd_run_batch(CmdState& state, const std::string& path, const std::vector<std::string>& args) {
    std::string host;
    if (!cmd_host_path(path, host)) return state.errorlevel = 1;
    std::ifstream in(host, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "The system cannot find the path specified.\n");
        return state.errorlevel = 1;
    }
    CmdBatch batch;
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        batch.lines.push_back(std::move(line));
    }
    // %0 is the full DOS path, so that %~d0 names the batch file's own drive.
    std::string full = host;
    if (!full.empty() && full.front() != '/') {
        char cwd[4096];
        if (getcwd(cwd, sizeof cwd) != nullptr) full = std::string(cwd) + "/" + full;
    }
    batch.args.push_back(path.size() >= 2 && path[1] == ':' ? path : cmd_host_to_dos(full));
    for (const std::string& arg : args) batch.args.push_back(arg);
    const bool echo_before = state.echo_on;
    state.echo_on = true;
    const int result = run_batch_lines(state, batch);
    state.echo_on = echo_before;
    return result;
}
