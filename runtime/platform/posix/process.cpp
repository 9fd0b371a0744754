// POSIX back end of the process calls. The command interpreter is our companion program
// unveilo-cmd, which lies beside the executable (UNVEILO_CMD names another one) and is run as
// "unveilo-cmd /c <command line>". The shell launch maps the Windows names onto it:
//   - "cmd" and "cmd.exe": the companion with the parameters;
//   - an existing .bat or .cmd file: the companion runs it;
//   - "attrib" and "explorer", Windows programs that the companion provides: run by the companion;
//   - a program found on PATH (or named by a path): run as itself, the parameters split the way
//     Windows programs split their command line;
//   - anything else cannot be started, as on Windows a name without a handler cannot.
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "runtime/platform/platform.h"
#include "runtime/platform/posix/drives.h"

namespace {

std::string lower(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    return text;
}

std::string companion_path() {
    const char* chosen = std::getenv("UNVEILO_CMD");
    if (chosen != nullptr && chosen[0] != 0) return chosen;
    std::string executable = platform_executable_path();
    size_t slash = executable.rfind('/');
    if (slash == std::string::npos) return "unveilo-cmd";
    return executable.substr(0, slash + 1) + "unveilo-cmd";
}

bool is_executable_file(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
           access(path.c_str(), X_OK) == 0;
}

std::string find_on_path(const std::string& name) {
    const char* path = std::getenv("PATH");
    if (path == nullptr) return "";
    std::string list = path;
    size_t start = 0;
    while (start <= list.size()) {
        size_t end = list.find(':', start);
        if (end == std::string::npos) end = list.size();
        std::string directory = end > start ? list.substr(start, end - start) : ".";
        std::string candidate = directory + "/" + name;
        if (is_executable_file(candidate)) return candidate;
        start = end + 1;
    }
    return "";
}

// The arguments of a Windows command line as its C run-time splits them: blanks separate,
// double quotes group, and backslashes are literal except before a quote (2n backslashes and a
// quote give n backslashes and toggle the grouping; 2n + 1 give n and a literal quote).
std::vector<std::string> split_windows(const char* line) {
    std::vector<std::string> out;
    if (line == nullptr) return out;
    const char* p = line;
    for (;;) {
        while (*p == ' ' || *p == '\t') ++p;
        if (*p == 0) return out;
        std::string argument;
        bool quoted = false;
        while (*p != 0 && (quoted || (*p != ' ' && *p != '\t'))) {
            size_t backslashes = 0;
            while (*p == '\\') {
                ++backslashes;
                ++p;
            }
            if (*p == '"') {
                argument.append(backslashes / 2, '\\');
                if (backslashes % 2 == 1) {
                    argument.push_back('"');
                } else if (quoted && p[1] == '"') {
                    argument.push_back('"'); // "" inside quotes is one quote
                    ++p;
                } else {
                    quoted = !quoted;
                }
                ++p;
            } else {
                argument.append(backslashes, '\\');
                if (*p != 0) argument.push_back(*p++);
            }
        }
        out.push_back(argument);
    }
}

// The companion's arguments for a parameter text of "cmd": "/c" and the rest of the line as one
// argument, so that the companion sees the line exactly as it was written.
std::vector<std::string> interpreter_arguments(const char* parameters) {
    std::vector<std::string> out;
    const char* p = parameters == nullptr ? "" : parameters;
    while (*p == ' ') ++p;
    if (*p == 0) return out;
    if (p[0] == '/' && (p[1] == 'c' || p[1] == 'C') && (p[2] == 0 || p[2] == ' ')) {
        p += 2;
        while (*p == ' ') ++p;
        out.push_back("/c");
        if (*p != 0) out.push_back(p);
        return out;
    }
    return split_windows(p);
}

// Starts argv[0] with the arguments. Without keep_process the child is handed to a short-lived
// intermediate process, so that nothing is left to reap. A close-on-exec pipe tells a failed
// exec from a started program.
bool spawn(const std::vector<std::string>& arguments, bool hidden, bool keep_process,
           PlatformProcess* process) {
    std::vector<char*> argv;
    for (const std::string& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    int exec_status[2];
    if (pipe2(exec_status, O_CLOEXEC) != 0) return false;
    pid_t child = fork();
    if (child < 0) {
        close(exec_status[0]);
        close(exec_status[1]);
        return false;
    }
    if (child == 0) {
        close(exec_status[0]);
        if (!keep_process) {
            setsid();
            pid_t grandchild = fork();
            if (grandchild != 0) _exit(grandchild < 0 ? 127 : 0);
        }
        if (hidden) {
            int null_fd = open("/dev/null", O_RDWR);
            if (null_fd >= 0) {
                dup2(null_fd, 0);
                dup2(null_fd, 1);
                dup2(null_fd, 2);
            }
        }
        execv(argv[0], argv.data());
        int error = errno;
        ssize_t written = write(exec_status[1], &error, sizeof error);
        (void)written;
        _exit(127);
    }
    close(exec_status[1]);
    int error = 0;
    ssize_t got;
    do {
        got = read(exec_status[0], &error, sizeof error);
    } while (got < 0 && errno == EINTR);
    close(exec_status[0]);
    bool started = got == 0;
    if (!keep_process || !started) {
        int status = 0;
        while (waitpid(child, &status, 0) < 0 && errno == EINTR) {}
        return started;
    }
    if (process != nullptr) process->id = child;
    return true;
}

bool start_companion(const std::vector<std::string>& arguments, bool hidden, bool keep,
                     PlatformProcess* process) {
    std::string companion = companion_path();
    if (!is_executable_file(companion)) return false;
    std::vector<std::string> all{companion};
    all.insert(all.end(), arguments.begin(), arguments.end());
    return spawn(all, hidden, keep, process);
}

std::string base_name(const std::string& file) {
    std::string name = lower(file);
    if (name.size() > 4 && name.compare(name.size() - 4, 4, ".exe") == 0)
        name.resize(name.size() - 4);
    return name;
}

bool ends_with_batch(const std::string& file) {
    std::string name = lower(file);
    return name.size() > 4 && (name.compare(name.size() - 4, 4, ".bat") == 0 ||
                               name.compare(name.size() - 4, 4, ".cmd") == 0);
}

std::string with_parameters(std::string line, const char* parameters) {
    if (parameters != nullptr && parameters[0] != 0) line += std::string(" ") + parameters;
    return line;
}

} // namespace

bool platform_shell_execute(const char* file, const char* parameters, int32_t show,
                            bool keep_process, PlatformProcess* process) {
    if (file == nullptr || file[0] == 0) return false;
    bool hidden = show == SHOW_HIDDEN;
    std::string name = file;
    std::string program = base_name(name);
    if (program == "cmd")
        return start_companion(interpreter_arguments(parameters), hidden, keep_process, process);
    if (program == "attrib" || program == "explorer")
        return start_companion({"/c", with_parameters(name, parameters)}, hidden, keep_process,
                               process);
    std::string host;
    struct stat info {};
    if (ends_with_batch(name) && dos_to_host_path(file, host) && stat(host.c_str(), &info) == 0 &&
        S_ISREG(info.st_mode)) {
        std::string quoted = name.find(' ') != std::string::npos ? "\"" + name + "\"" : name;
        return start_companion({"/c", with_parameters(quoted, parameters)}, hidden, keep_process,
                               process);
    }
    std::string executable;
    if (name.find_first_of("\\/:") == std::string::npos)
        executable = find_on_path(name);
    else if (dos_to_host_path(file, host) && is_executable_file(host))
        executable = host;
    if (executable.empty()) return false;
    std::vector<std::string> arguments{executable};
    for (std::string& a : split_windows(parameters)) arguments.push_back(std::move(a));
    return spawn(arguments, hidden, keep_process, process);
}

bool platform_create_process(const char* command_line, uint32_t flags, PlatformProcess* process) {
    // CreateProcessA takes the program from the line's first word, quoted or not.
    const char* p = command_line == nullptr ? "" : command_line;
    while (*p == ' ' || *p == '\t') ++p;
    std::string first;
    bool quoted = false;
    for (; *p != 0 && (quoted || (*p != ' ' && *p != '\t')); ++p) {
        if (*p == '"')
            quoted = !quoted;
        else
            first.push_back(*p);
    }
    while (*p == ' ' || *p == '\t') ++p;
    int32_t show = (flags & PROCESS_NO_WINDOW) != 0 ? SHOW_HIDDEN : SHOW_SHOWN;
    return platform_shell_execute(first.c_str(), p, show, true, process);
}

int64_t platform_process_wait(PlatformProcess process) {
    int status = 0;
    pid_t pid = pid_t(process.id);
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return -1;
    }
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    // A process ended by a signal reports it the way shells do.
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return -1;
}

void platform_process_release(PlatformProcess process) {
    // Nobody waits for it, but a child must be reaped by someone.
    pid_t pid = pid_t(process.id);
    std::thread([pid] {
        int status = 0;
        while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {}
    }).detach();
}

int64_t platform_system(const char* command) {
    std::vector<std::string> arguments;
    if (command != nullptr && lower(command) != "cmd") arguments = {"/c", command};
    PlatformProcess process;
    if (!start_companion(arguments, false, true, &process)) return -1;
    return platform_process_wait(process);
}

void platform_console_alloc() {}

void platform_console_free() {}
