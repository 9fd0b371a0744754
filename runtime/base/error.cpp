#include "runtime/base/error.h"

#include <cstdint>
#include <cstdio>

#include "runtime/base/event.h"
#include "runtime/base/run_state.h"
#include "runtime/platform/platform.h"

namespace {

enum class ErrorKind {
    reported,     // recorded; the dialog offers to continue
    fatal_report, // recorded; the dialog that reports it ends the process (memory blocks)
    critical,     // ends the process where it is raised: the run-time cannot go on after it
};

struct ErrorEntry {
    int32_t first; // a range of codes that share one message
    int32_t last;
    ErrorKind kind;
    const char* text;
    const char* caption; // critical only; nullptr: "Critical Error #" followed by code - 500
};

// Every run-time error the dialect can raise, with its message. Gaps in the numbering are codes
// the dialect never raises; they are reported as "Unprintable error".
constexpr ErrorEntry ERRORS[] = {
    {1, 1, ErrorKind::reported, "NEXT without FOR", nullptr},
    {2, 2, ErrorKind::reported, "Syntax error", nullptr},
    {3, 3, ErrorKind::reported, "RETURN without GOSUB", nullptr},
    {4, 4, ErrorKind::reported, "Out of DATA", nullptr},
    {5, 5, ErrorKind::reported, "Illegal function call", nullptr},
    {6, 6, ErrorKind::reported, "Overflow", nullptr},
    {7, 7, ErrorKind::reported, "Out of memory", nullptr},
    {8, 8, ErrorKind::reported, "Label not defined", nullptr},
    {9, 9, ErrorKind::reported, "Subscript out of range", nullptr},
    {10, 10, ErrorKind::reported, "Duplicate definition", nullptr},
    {11, 11, ErrorKind::critical, "Division by zero", "Critical Error"},
    {12, 12, ErrorKind::reported, "Illegal in direct mode", nullptr},
    {13, 13, ErrorKind::reported, "Type mismatch", nullptr},
    {14, 14, ErrorKind::reported, "Out of string space", nullptr},
    {16, 16, ErrorKind::reported, "String formula too complex", nullptr},
    {17, 17, ErrorKind::reported, "Cannot continue", nullptr},
    {18, 18, ErrorKind::reported, "Function not defined", nullptr},
    {19, 19, ErrorKind::reported, "No RESUME", nullptr},
    {20, 20, ErrorKind::reported, "RESUME without error", nullptr},
    {24, 24, ErrorKind::reported, "Device timeout", nullptr},
    {25, 25, ErrorKind::reported, "Device fault", nullptr},
    {26, 26, ErrorKind::reported, "FOR without NEXT", nullptr},
    {27, 27, ErrorKind::reported, "Out of paper", nullptr},
    {29, 29, ErrorKind::reported, "WHILE without WEND", nullptr},
    {30, 30, ErrorKind::reported, "WEND without WHILE", nullptr},
    {33, 33, ErrorKind::reported, "Duplicate label", nullptr},
    {35, 35, ErrorKind::reported, "Subprogram not defined", nullptr},
    {37, 37, ErrorKind::reported, "Argument-count mismatch", nullptr},
    {38, 38, ErrorKind::reported, "Array not defined", nullptr},
    {40, 40, ErrorKind::reported, "Variable required", nullptr},
    {50, 50, ErrorKind::reported, "FIELD overflow", nullptr},
    {51, 51, ErrorKind::reported, "Internal error", nullptr},
    {52, 52, ErrorKind::reported, "Bad file name or number", nullptr},
    {53, 53, ErrorKind::reported, "File not found", nullptr},
    {54, 54, ErrorKind::reported, "Bad file mode", nullptr},
    {55, 55, ErrorKind::reported, "File already open", nullptr},
    {56, 56, ErrorKind::reported, "FIELD statement active", nullptr},
    {57, 57, ErrorKind::reported, "Device I/O error", nullptr},
    {58, 58, ErrorKind::reported, "File already exists", nullptr},
    {59, 59, ErrorKind::reported, "Bad record length", nullptr},
    {61, 61, ErrorKind::reported, "Disk full", nullptr},
    {62, 62, ErrorKind::reported, "Input past end of file", nullptr},
    {63, 63, ErrorKind::reported, "Bad record number", nullptr},
    {64, 64, ErrorKind::reported, "Bad file name", nullptr},
    {67, 67, ErrorKind::reported, "Too many files", nullptr},
    {68, 68, ErrorKind::reported, "Device unavailable", nullptr},
    {69, 69, ErrorKind::reported, "Communication-buffer overflow", nullptr},
    {70, 70, ErrorKind::reported, "Permission denied", nullptr},
    {71, 71, ErrorKind::reported, "Disk not ready", nullptr},
    {72, 72, ErrorKind::reported, "Disk-media error", nullptr},
    {73, 73, ErrorKind::reported, "Feature unavailable", nullptr},
    {74, 74, ErrorKind::reported, "Rename across disks", nullptr},
    {75, 75, ErrorKind::reported, "Path/File access error", nullptr},
    {76, 76, ErrorKind::reported, "Path not found", nullptr},
    {256, 256, ErrorKind::critical, "Out of stack space", "Critical Error"},
    {257, 257, ErrorKind::critical, "Out of memory", "Critical Error #1"},
    {258, 258, ErrorKind::reported, "Invalid handle", nullptr},
    {259, 259, ErrorKind::critical, "Cannot find dynamic library file", "Critical Error"},
    {260, 261, ErrorKind::critical, "Sub/Function does not exist in dynamic library",
     "Critical Error"},
    {262, 262, ErrorKind::reported, "Function unavailable in NUVELA", nullptr},
    {263, 263, ErrorKind::critical, "Paths/Filename illegal in NUVELA", "Critical Error"},
    {270, 270, ErrorKind::critical, "_GL command called outside of SUB _GL's scope",
     "Critical Error"},
    {271, 271, ErrorKind::critical, "END/SYSTEM called within SUB _GL's scope", "Critical Error"},
    {300, 300, ErrorKind::fatal_report, "Memory region out of range", nullptr},
    {301, 301, ErrorKind::fatal_report, "Invalid size", nullptr},
    {302, 302, ErrorKind::fatal_report, "Source memory region out of range", nullptr},
    {303, 303, ErrorKind::fatal_report, "Destination memory region out of range", nullptr},
    {304, 304, ErrorKind::fatal_report, "Source and destination memory regions out of range",
     nullptr},
    {305, 305, ErrorKind::fatal_report, "Source memory has been freed", nullptr},
    {306, 306, ErrorKind::fatal_report, "Destination memory has been freed", nullptr},
    {307, 307, ErrorKind::fatal_report, "Memory already freed", nullptr},
    {308, 308, ErrorKind::fatal_report, "Memory has been freed", nullptr},
    {309, 309, ErrorKind::fatal_report, "Memory not initialized", nullptr},
    {310, 310, ErrorKind::fatal_report, "Source memory not initialized", nullptr},
    {311, 311, ErrorKind::fatal_report, "Destination memory not initialized", nullptr},
    {312, 312, ErrorKind::fatal_report, "Source and destination memory not initialized", nullptr},
    {313, 313, ErrorKind::fatal_report, "Source and destination memory have been freed", nullptr},
    {502, 518, ErrorKind::critical, "Out of memory", nullptr},
};

const ErrorEntry* find_entry(int32_t code) {
    for (const ErrorEntry& entry : ERRORS) {
        if (code >= entry.first && code <= entry.last) return &entry;
    }
    return nullptr;
}

const ErrorEntry* find_critical(int32_t code) {
    const ErrorEntry* entry = find_entry(code);
    return entry && entry->kind == ErrorKind::critical ? entry : nullptr;
}

// Both dialog buffers are 256 bytes: the longest message has 50 characters and each decimal
// number at most 10, so nothing is ever cut.
constexpr size_t DIALOG_BUFFER_BYTES = 256;

[[noreturn]] void show_critical(int32_t code, const ErrorEntry& entry) {
    char caption[DIALOG_BUFFER_BYTES];
    if (entry.caption) {
        std::snprintf(caption, sizeof caption, "%s", entry.caption);
    } else {
        std::snprintf(caption, sizeof caption, "Critical Error #%d", code - 500);
    }
    platform_message_box(entry.text, caption, DIALOG_SYSTEM_MODAL | DIALOG_OK);
    platform_exit(0);
}

} // namespace

const char* error_message(ErrorCode code) {
    if (code > ErrorCode(INT32_MAX)) return nullptr;
    const ErrorEntry* entry = find_entry(int32_t(code));
    return entry && entry->kind != ErrorKind::critical ? entry->text : nullptr;
}

bool error_is_critical(int32_t code) {
    return find_critical(code) != nullptr;
}

void error_critical(ErrorCode code) {
    const ErrorEntry* entry = code > ErrorCode(INT32_MAX) ? nullptr : find_critical(int32_t(code));
    // A number that names no critical error still ends the process, under the generic caption.
    static constexpr ErrorEntry unknown = {0, 0, ErrorKind::critical, "Out of memory", nullptr};
    show_critical(int32_t(code), entry ? *entry : unknown);
}

ErrorCode error_raise(int32_t code) {
    if (find_critical(code)) error_critical(ErrorCode(code));

    // error_code belongs to the program thread.
    ErrorCode pending = run_state.error_code.load(std::memory_order_relaxed);
    if (pending != 0) return pending;
    ErrorCode recorded = code <= 0 ? ERROR_ILLEGAL_FUNCTION_CALL : ErrorCode(code);
    run_state.error_code.store(recorded, std::memory_order_relaxed);
    run_state.event_pending.store(1, std::memory_order_release);
    return recorded;
}

void error_report() {
    ErrorCode code = run_state.error_code.load(std::memory_order_relaxed);
    unsigned line = run_state.error_line.load(std::memory_order_relaxed);
    const ErrorEntry* entry = code > ErrorCode(INT32_MAX) ? nullptr : find_entry(int32_t(code));
    bool critical = entry && entry->kind == ErrorKind::fatal_report;
    const char* message = error_message(code);
    if (!message) message = "Unprintable error";

    char text[DIALOG_BUFFER_BYTES];
    char caption[DIALOG_BUFFER_BYTES];
    std::snprintf(text, sizeof text, "Line:%u\n%s%s", line, message, critical ? "" : "\nContinue?");
    std::snprintf(caption, sizeof caption, "%s%u",
                  critical ? "Critical Error #" : "Unhandled Error #", unsigned(code));

    if (critical) {
        platform_message_box(text, caption, DIALOG_OK);
        platform_exit(0);
    }
    int answer = platform_message_box(text, caption, DIALOG_SYSTEM_MODAL | DIALOG_YES_NO);
    if (answer == DIALOG_ANSWER_NO || answer == DIALOG_ANSWER_OK) {
        // The display thread reads the request and then waits for the park bit, whose release
        // store publishes this one too.
        run_state.end_requested.store(1, std::memory_order_relaxed);
        program_park();
    }
    // Yes, or a box that could not be shown: go on with the next statement.
    run_state.error_code.store(0, std::memory_order_relaxed);
}
