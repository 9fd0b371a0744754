// POSIX back end: Linux builds run the run-time for development and tests; message boxes become
// xmessage windows, or lines on standard error when there is no X display.
#include "runtime/platform/platform.h"
#include "runtime/platform/path_rules.h"

#include <cerrno>
#include <csetjmp>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <pthread.h>
#include <sched.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// xmessage reports the chosen button as its exit status; 1 is its own failure status.
constexpr int XMESSAGE_OK = 101;
constexpr int XMESSAGE_YES = 106;
constexpr int XMESSAGE_NO = 107;
constexpr int XMESSAGE_CLOSED = 0;
constexpr int XMESSAGE_FAILED = -1;

int64_t monotonic_ms() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return int64_t(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

// Taken during static initialisation, so the clock reads near zero from the start.
const int64_t clock_base_ms = monotonic_ms();

bool is_yes_no(unsigned style) {
    return (style & 0xF) == DIALOG_YES_NO;
}

// The answer a box gives when nobody can answer it: No keeps a yes/no question on its safe side.
int safe_answer(unsigned style) {
    return is_yes_no(style) ? DIALOG_ANSWER_NO : DIALOG_ANSWER_OK;
}

// Only answers that the box's buttons offer; anything else is the safe answer.
int scripted_answer(const char* requested, unsigned style) {
    if (is_yes_no(style) && std::strcmp(requested, "yes") == 0) return DIALOG_ANSWER_YES;
    return safe_answer(style);
}

// Runs xmessage and waits for it. Returns its exit status, or XMESSAGE_FAILED when it could not
// be started or ended without a status of its own.
int run_xmessage(const char* text, const char* caption, unsigned style) {
    const char* buttons = is_yes_no(style) ? "Yes:106,No:107" : "OK:101";
    const char* argv[] = {"xmessage", "-title", caption, "-center",
                          "-buttons", buttons,  text,    nullptr};

    // A close-on-exec pipe tells a failed exec apart from a status of xmessage's own: it
    // closes unread when the exec succeeds and carries errno when it does not.
    int exec_status[2];
    if (pipe2(exec_status, O_CLOEXEC) != 0) return XMESSAGE_FAILED;
    pid_t child = fork();
    if (child < 0) {
        close(exec_status[0]);
        close(exec_status[1]);
        return XMESSAGE_FAILED;
    }
    if (child == 0) {
        execvp(argv[0], const_cast<char* const*>(argv));
        int error = errno;
        ssize_t written = write(exec_status[1], &error, sizeof error);
        (void)written;
        _exit(127);
    }
    close(exec_status[1]);
    int exec_error = 0;
    ssize_t got;
    do {
        got = read(exec_status[0], &exec_error, sizeof exec_error);
    } while (got < 0 && errno == EINTR);
    close(exec_status[0]);

    int status = 0;
    while (waitpid(child, &status, 0) < 0) {
        if (errno != EINTR) return XMESSAGE_FAILED;
    }
    if (got > 0 || !WIFEXITED(status) || WEXITSTATUS(status) == 1) return XMESSAGE_FAILED;
    return WEXITSTATUS(status);
}

} // namespace

int platform_message_box(const char* text, const char* caption, unsigned style) {
    if (const char* requested = std::getenv("UNVEILO_TEST_DIALOG_ANSWER")) {
        std::fprintf(stderr, "[dialog] %s: %s\n", caption, text);
        std::fflush(stderr);
        return scripted_answer(requested, style);
    }

    const char* display = std::getenv("DISPLAY");
    if (display && *display) {
        switch (run_xmessage(text, caption, style)) {
        case XMESSAGE_OK: return DIALOG_ANSWER_OK;
        case XMESSAGE_YES: return DIALOG_ANSWER_YES;
        case XMESSAGE_NO: return DIALOG_ANSWER_NO;
        case XMESSAGE_CLOSED: return safe_answer(style);
        default: break; // not shown: fall through to the text form
        }
    }
    std::fprintf(stderr, "%s: %s\n", caption, text);
    std::fflush(stderr);
    return safe_answer(style);
}

void platform_exit(int status) {
    // The process ends from the display thread (or wherever a critical error struck) while the
    // window thread is still inside the window library's event loop: exit() would run the
    // library's exit handlers and destroy static objects under that thread's feet, and the
    // library then fails the process with a status of its own. Nothing needs tearing down (the
    // program keeps no files of its own), so only the output streams are flushed.
    std::fflush(nullptr);
    std::_Exit(status);
}

void platform_sleep_ms(uint32_t delay_ms) {
    if (delay_ms == 0) {
        sched_yield();
        return;
    }
    timespec delay{time_t(delay_ms / 1000), long(delay_ms % 1000) * 1000000L};
    while (nanosleep(&delay, &delay) != 0 && errno == EINTR) {}
}

void platform_thread_name(const char* name) {
    char cut[16] = {};
    std::strncpy(cut, name, sizeof cut - 1); // Linux refuses names of more than 15 characters
    pthread_setname_np(pthread_self(), cut);
}

int64_t platform_clock_ms() {
    return monotonic_ms() - clock_base_ms;
}

std::string platform_executable_path() {
    std::string path(256, '\0');
    for (;;) {
        ssize_t length = readlink("/proc/self/exe", path.data(), path.size());
        if (length < 0) return {};
        if (size_t(length) < path.size()) {
            path.resize(size_t(length));
            return path;
        }
        path.resize(path.size() * 2); // possibly cut: try again with more room
    }
}

bool platform_chdir(const char* path) {
    return chdir(path) == 0;
}

bool platform_enter_executable_directory() {
    std::string path = platform_executable_path();
    if (path.empty()) return false;
    path.resize(platform_directory_length(path.data(), path.size()));
    return chdir(path.c_str()) == 0;
}

bool platform_setenv(const char* name, const char* value) {
    return (value ? setenv(name, value, 1) : unsetenv(name)) == 0;
}

int32_t platform_environment_count() {
    int32_t count = 0;
    for (char** entry = environ; entry && *entry; ++entry) ++count;
    return count;
}

// x86 Linux starts every thread with the x87 precision control at 64-bit mantissa already, and
// the SSE unit that carries float and double has no such control.
void platform_fpu_extended_precision() {}

namespace {
// The guard of the calling thread, or null. Written only by its own thread (platform_run_guarded)
// and read by the handler on that same thread; thread_local of a plain pointer needs no
// allocation, so reading it in the handler is async-signal-safe.
thread_local sigjmp_buf* division_guard = nullptr;

extern "C" void division_fault(int) {
    // Only async-signal-safe calls: a jump back to the guard, or the default action.
    if (sigjmp_buf* guard = division_guard) siglongjmp(*guard, 1);
    signal(SIGFPE, SIG_DFL);
    raise(SIGFPE);
}
} // namespace

void platform_division_trap_install() {
    struct sigaction action {};
    action.sa_handler = division_fault;
    sigemptyset(&action.sa_mask);
    sigaction(SIGFPE, &action, nullptr);
}

bool platform_run_guarded(void (*body)(void*), void* context) {
    sigjmp_buf guard;
    sigjmp_buf* outer = division_guard;
    // savemask 1: the jump out of the handler unblocks SIGFPE again.
    if (sigsetjmp(guard, 1) != 0) {
        division_guard = outer;
        return true;
    }
    division_guard = &guard;
    body(context);
    division_guard = outer;
    return false;
}
