#pragma once
// The operating-system services the runtime uses. Everything above this header is portable; each
// back end (win32/, posix/) implements the same functions in files of the same names.
#include <cstdint>
#include <string>

// Message box styles and answers, numbered as the Windows API numbers them so that callers and
// tests speak one vocabulary on every platform.
constexpr unsigned DIALOG_OK = 0x0;
constexpr unsigned DIALOG_YES_NO = 0x4;
constexpr unsigned DIALOG_SYSTEM_MODAL = 0x1000;
constexpr int DIALOG_ANSWER_NONE = 0; // the box could not be shown
constexpr int DIALOG_ANSWER_OK = 1;
constexpr int DIALOG_ANSWER_YES = 6;
constexpr int DIALOG_ANSWER_NO = 7;

// Shows a modal message box without an owner window and returns the button chosen.
// Setting UNVEILO_TEST_DIALOG_ANSWER (ok, yes or no) makes the box answer itself, so that tests
// can run the error paths unattended; the text and caption are then echoed to standard error
// as "[dialog] <caption>: <text>".
int platform_message_box(const char* text, const char* caption, unsigned style);

// Ends the process with the given status at once, after flushing the output streams.
[[noreturn]] void platform_exit(int status);

void platform_sleep_ms(uint32_t delay_ms);

// Names the calling thread for the system's tools (at most 15 characters are kept), so that a
// profile or a per-thread count tells the run-time's threads apart. Does nothing where the
// system has no thread names.
void platform_thread_name(const char* name);

// Milliseconds of a monotonic clock that starts near zero at process start.
int64_t platform_clock_ms();

// Full path of the running executable, empty when it cannot be found.
std::string platform_executable_path();

// Changes the working directory; false when the directory cannot be entered.
bool platform_chdir(const char* path);
// Makes the executable's directory (platform_directory_length of its path) the working
// directory. Windows asks for the path and changes directory with the UTF-16 calls, so that a
// folder named with characters outside the ANSI code page works too. False when it fails.
bool platform_enter_executable_directory();
// Empty when the window system can be reached; otherwise one sentence for the user saying that
// the program needs a desktop session and why none was found (POSIX: no DISPLAY, or a display
// that cannot be opened). Windows programs always run in one.
std::string platform_desktop_missing();

// From this call on, a desktop session that goes away (X11: the display's server ends or drops
// the connection) ends the process at once with one sentence for the user and status 1. The
// system library's own answer is exit(), which runs the static destructors under the running
// threads and can hang there for good. Windows programs end with their session.
void platform_end_when_desktop_lost();

// Sets (or, with a null value, removes) a variable of the process environment, so that a process
// started afterwards inherits it; false when the environment refuses it.
bool platform_setenv(const char* name, const char* value);

// Number of variables in the process environment, as the C library's environment table holds
// them (on Windows without the hidden per-drive "=C:" entries, which no program can name).
int32_t platform_environment_count();

// Asks the floating-point unit for a 64-bit mantissa where the platform lets a program choose.
void platform_fpu_extended_precision();

// Division faults (SIGFPE). Returning from the signal would run the faulting division again, and
// the error box and the exit are not async-signal-safe; so the handler only jumps back into the
// innermost platform_run_guarded of the faulting thread, which returns true and lets its caller
// report the fault. A fault on a thread without a guard ends the process by the signal's default
// action.
void platform_division_trap_install();
// Runs body(context) on the calling thread under a division-fault guard. True when a division
// fault ended body; body's stack is then gone without its destructors having run.
bool platform_run_guarded(void (*body)(void*), void* context);

// Keyboard state for seeding the key layer at start-up and for its lock-key poll: the toggle
// state of the three lock keys and which of these keys are down now. 0 when the platform cannot
// tell (no X display on Linux).
constexpr uint32_t KEYBOARD_SCROLL_LOCK_ON = 1u << 0;
constexpr uint32_t KEYBOARD_CAPS_LOCK_ON = 1u << 1;
constexpr uint32_t KEYBOARD_NUM_LOCK_ON = 1u << 2;
constexpr uint32_t KEYBOARD_SCROLL_LOCK_DOWN = 1u << 3;
constexpr uint32_t KEYBOARD_LEFT_SHIFT_DOWN = 1u << 4;
constexpr uint32_t KEYBOARD_RIGHT_SHIFT_DOWN = 1u << 5;
constexpr uint32_t KEYBOARD_LEFT_CTRL_DOWN = 1u << 6;
constexpr uint32_t KEYBOARD_RIGHT_CTRL_DOWN = 1u << 7;
constexpr uint32_t KEYBOARD_LEFT_ALT_DOWN = 1u << 8;
constexpr uint32_t KEYBOARD_RIGHT_ALT_DOWN = 1u << 9;
// The held-key bits are filled in only when asked for: on X11 each answer is a round trip to the
// server, and the lock-key poll needs the toggles alone.
uint32_t platform_lock_key_state(bool with_held_keys);

// Attaches what the window library does not deliver to the window just created on the calling
// thread: on Windows the close box (kind 1, and the window is kept), Pause and Ctrl+Break (kind
// 2) and raw mouse movement (kind 3, asked for at the first mouse message) reach `hook` from the
// window procedure, and the window gets the fixed frame, or the sizing frame when `resizable`.
// Where the window library already reports the close box (X11, through its close callback) this
// does nothing.
using WindowEventHook = int32_t (*)(int32_t kind, int32_t a, int32_t b);
void platform_window_hooks_install(WindowEventHook hook);

// --- Sockets: IPv4 TCP ------------------------------------------------------------------------
// Set-up (resolving, connecting) blocks; a socket handed out is non-blocking from then on, so
// that accept, send and receive return at once. Windows Sockets are started on the first open
// of any kind and never again.
using PlatformSocket = intptr_t;
constexpr PlatformSocket PLATFORM_NO_SOCKET = -1;

// Resolves `host` (its first IPv4 address) and connects to `port`; PLATFORM_NO_SOCKET when the
// name cannot be resolved or the connection fails.
PlatformSocket platform_socket_connect(const char* host, int32_t port);
// Listens on every local address at `port` (0 lets the system pick one); *bound_port receives
// the port in use. PLATFORM_NO_SOCKET when binding or listening fails.
PlatformSocket platform_socket_listen(int32_t port, int32_t* bound_port);
// A connection waiting on a listening socket, or PLATFORM_NO_SOCKET when none is.
PlatformSocket platform_socket_accept(PlatformSocket listener);
// Both return the count transferred, 0 from a receive when the peer has closed, or -1 with the
// system's error number in *error (see platform_socket_would_block). A send to a peer that has
// gone fails with -1; it never raises a signal.
int32_t platform_socket_send(PlatformSocket s, const void* data, int32_t length, int32_t* error);
int32_t platform_socket_receive(PlatformSocket s, void* data, int32_t length, int32_t* error);
// True for the error of a non-blocking call that found nothing to do.
bool platform_socket_would_block(int32_t error);
void platform_socket_close(PlatformSocket s);
// --- Files and serial ports ---------------------------------------------------------------------
// Results of the file functions below, shared with the file family's byte level: 0 success,
// negative a reason. The platform maps its own error numbers onto these.
constexpr int32_t FILE_RESULT_OK = 0;
constexpr int32_t FILE_RESULT_SHORT_WRITE = -1;
constexpr int32_t FILE_RESULT_NOT_OPEN = -2;
constexpr int32_t FILE_RESULT_WRONG_DIRECTION = -3; // also: the file could not be sized
constexpr int32_t FILE_RESULT_NEGATIVE = -4;
constexpr int32_t FILE_RESULT_FILE_NOT_FOUND = -5;
constexpr int32_t FILE_RESULT_PATH_NOT_FOUND = -6;
constexpr int32_t FILE_RESULT_PERMISSION_DENIED = -7; // also sharing and lock violations
constexpr int32_t FILE_RESULT_DEVICE_UNAVAILABLE = -8;
constexpr int32_t FILE_RESULT_OTHER_FAILURE = -9;
constexpr int32_t FILE_RESULT_SHORT_READ = -10;
constexpr int32_t FILE_RESULT_BAD_SERIAL_OPTIONS = -11;

// An open file or device; PLATFORM_FILE_NONE when there is none.
using PlatformFile = intptr_t;
constexpr PlatformFile PLATFORM_FILE_NONE = -1;

// Access and sharing bits, and how an open treats an existing or missing file.
constexpr uint32_t PLATFORM_ACCESS_READ = 1;
constexpr uint32_t PLATFORM_ACCESS_WRITE = 2;
constexpr uint32_t PLATFORM_SHARE_READ = 1;
constexpr uint32_t PLATFORM_SHARE_WRITE = 2;
enum class PlatformCreate { open_existing, open_always, truncate_existing };

// Opens `name` (backslashes and slashes both separate folders). Another open of the same file
// whose access the sharing of either open forbids fails with the permission result. A folder
// cannot be opened as a file.
int32_t platform_file_open(const char* name, uint32_t access, uint32_t share, PlatformCreate create,
                           PlatformFile* file);
void platform_file_close(PlatformFile file);

// Moves up to `count` bytes at byte `offset`; `done` receives the bytes moved, even on failure.
// An offset of -1 means the device's own stream (serial ports), which has no position. A read
// that meets the end of the file is a success with fewer bytes done. A range locked through
// another handle refuses the transfer with the permission result.
int32_t platform_file_read(PlatformFile file, int64_t offset, void* buffer, int64_t count,
                           int64_t* done);
int32_t platform_file_write(PlatformFile file, int64_t offset, const void* data, int64_t count,
                            int64_t* done);
int32_t platform_file_size(PlatformFile file, int64_t* size);

// Locks or unlocks bytes offset .. offset + length - 1 for this handle alone. Locks do not nest:
// locking a range that overlaps one this handle holds, or unlocking a range that is not exactly
// one it holds, fails with the permission result, as does a range another handle holds.
int32_t platform_file_lock(PlatformFile file, uint64_t offset, uint64_t length, bool lock);

// True where a range locked through one handle refuses reads and writes through the others.
// Windows does; Wine, which runs the Windows build on Linux, takes the locks but lets transfers
// through; the POSIX back end checks the locks itself.
bool platform_file_locks_refuse_transfers();

// A serial port's line settings, already checked and with every default filled in.
struct PlatformSerialConfig {
    uint32_t baud = 300;
    uint8_t parity = 1;               // 0 none, 1 even, 2 odd, 3 space, 4 mark
    uint8_t data_bits = 7;            // 5 to 8
    uint8_t stop_tenths = 10;         // 10, 15 or 20
    bool binary = true;               // false: text mode
    bool rts_off = false;             // hold RTS low
    uint32_t read_timeout_ms = 1000;  // 0: a read returns at once with what is there
    uint32_t write_timeout_ms = 1000; // 0: a write waits as long as it takes
};

// Opens serial port `port` (1-255) with no sharing: COM<port>: on Windows; on POSIX the path in
// the environment variable UNVEILO_COM<port>, else /dev/ttyS<port - 1>. A port that exists but
// refuses the settings gives the device-unavailable result.
int32_t platform_serial_open(int32_t port, uint32_t access, const PlatformSerialConfig& config,
                             PlatformFile* file);

// Opens a connected pseudo-terminal pair for tests of the serial path: `device_path` names the
// side a serial port opens, `controller` is the other end. False where the platform has none.
bool platform_pty_open(PlatformFile* controller, std::string* device_path);
void platform_window_hooks_install(WindowEventHook hook, bool resizable);
// Called right after the window library entered full screen: the window of the current OpenGL
// context loses its frame and becomes a pop-up (Windows; nothing elsewhere).
void platform_window_fullscreen_style();
// Copies rows `y` to `y + height - 1` (counted from the bottom, as OpenGL does), `width` pixels
// wide, of the current context's back buffer to the screen and leaves the back buffer as it was,
// which a buffer swap does not promise. False where the window system offers no such copy: the
// caller swaps then.
bool platform_show_back_buffer_rows(int32_t y, int32_t height, int32_t width);

// --- Files and directories -------------------------------------------------------------------
// Paths are DOS paths ("E:\dir\name", relative ones against the working directory) with Windows
// semantics on every platform; the POSIX back end translates drive letters through its drive map.

// Attribute bits as Windows numbers them.
constexpr uint32_t FS_ATTRIBUTES_INVALID = 0xFFFFFFFFu;
constexpr uint32_t FS_ATTRIBUTE_READ_ONLY = 0x01;
constexpr uint32_t FS_ATTRIBUTE_HIDDEN = 0x02;
constexpr uint32_t FS_ATTRIBUTE_SYSTEM = 0x04;
constexpr uint32_t FS_ATTRIBUTE_DIRECTORY = 0x10;
constexpr uint32_t FS_ATTRIBUTE_ARCHIVE = 0x20;
constexpr uint32_t FS_ATTRIBUTE_NORMAL = 0x80; // a file with none of the others

// Why a file-system call failed, in one vocabulary for both back ends.
enum class FsStatus {
    ok,
    not_found,         // no such file or directory
    bad_name,          // the name is not valid
    access_denied,     // read-only, a directory where a file was meant, or no permission
    write_protected,   // the medium refuses writes
    sharing_violation, // another process holds the file
    lock_violation,
    exists,    // the target exists already
    not_empty, // a directory still holds entries
    other,
};

// GetFileAttributesA: the attribute bits, or FS_ATTRIBUTES_INVALID when the path cannot be
// queried (also for any path with a wildcard).
uint32_t platform_fs_attributes(const char* path);

// One entry of a directory search. short_name is the 8.3 name: the name itself when it already
// fits 8.3, else a generated one.
struct FsFindEntry {
    std::string name;
    std::string short_name;
    uint32_t attributes = 0;
};
struct FsFind; // an open search
// FindFirstFileA: the pattern is a directory part and a last component with * and ?
// matched without regard to case. nullptr when nothing matches or the directory cannot be read.
FsFind* platform_fs_find_first(const char* pattern, FsFindEntry& entry);
// FindNextFileA: false when no entry is left.
bool platform_fs_find_next(FsFind* find, FsFindEntry& entry);
void platform_fs_find_close(FsFind* find);

FsStatus platform_fs_delete(const char* path); // DeleteFileA; read-only files are refused
// rename(): an existing target is refused (access_denied) and a new name holding * ? < > | " is
// refused (bad_name), as on Windows.
FsStatus platform_fs_rename(const char* old_path, const char* new_path);
FsStatus platform_fs_make_dir(const char* path);
FsStatus platform_fs_remove_dir(const char* path);
FsStatus platform_fs_change_dir(const char* path);
// GetCurrentDirectoryA, as a DOS path.
bool platform_fs_current_dir(std::string& path);
// GetShortPathNameA: every component of an existing path in its 8.3 form.
bool platform_fs_short_path(const char* path, std::string& short_path);
// GetDiskFreeSpaceExA: bytes available to the caller on the volume of `directory` (the current
// directory when empty); false when the query fails.
bool platform_fs_free_bytes(const char* directory, uint64_t& free_bytes);
// True for the drive letter of the volume that holds the operating system: the drive of the
// Windows directory, or on POSIX a letter whose root is "/".
bool platform_fs_is_system_drive(char letter);

// --- Processes -------------------------------------------------------------------------------

// An started process that is waited for; id is a process handle on Windows, a pid on POSIX.
struct PlatformProcess {
    intptr_t id = 0;
};

constexpr int32_t SHOW_HIDDEN = 0; // nShow values of ShellExecuteExA
constexpr int32_t SHOW_SHOWN = 5;
constexpr uint32_t PROCESS_NEW_CONSOLE = 0x10;      // CREATE_NEW_CONSOLE
constexpr uint32_t PROCESS_NO_WINDOW = 0x08000000u; // CREATE_NO_WINDOW

// ShellExecuteExA with the default verb: starts `file` (a program, a document or a batch file)
// with `parameters` (nullptr for none). With keep_process the process is returned for
// platform_process_wait; without, nothing is kept. False when nothing could be started.
bool platform_shell_execute(const char* file, const char* parameters, int32_t show,
                            bool keep_process, PlatformProcess* process);
// CreateProcessA with only a command line, no inherited handles and the given creation flags.
bool platform_create_process(const char* command_line, uint32_t flags, PlatformProcess* process);
// Waits without limit for the process, releases it and returns its exit code.
int64_t platform_process_wait(PlatformProcess process);
// Releases a started process without waiting for it.
void platform_process_release(PlatformProcess process);
// msvcrt's system(): runs the command line through the command interpreter and returns its
// status; -1 when the interpreter cannot be started.
int64_t platform_system(const char* command);
// AllocConsole / FreeConsole for an interactive command interpreter; nothing on POSIX, where
// the interpreter uses the terminal the program was started from.
void platform_console_alloc();
void platform_console_free();
