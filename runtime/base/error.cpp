#include "runtime/base/error.h"

#include <cstdio>

#include "runtime/base/event.h"
#include "runtime/base/run_state.h"
#include "runtime/platform/platform.h"

namespace {

struct ErrorMessage {
    ErrorCode code;
    const char* text;
};

// Messages of the errors that reach the error dialog. Gaps in the numbering are codes the
// dialect never raises; they are reported as "Unprintable error".
constexpr ErrorMessage MESSAGES[] = {
    {1, "NEXT without FOR"},
    {2, "Syntax error"},
    {3, "RETURN without GOSUB"},
    {4, "Out of DATA"},
    {5, "Illegal function call"},
    {6, "Overflow"},
    {7, "Out of memory"},
    {8, "Label not defined"},
    {9, "Subscript out of range"},
    {10, "Duplicate definition"},
    {12, "Illegal in direct mode"},
    {13, "Type mismatch"},
    {14, "Out of string space"},
    {16, "String formula too complex"},
    {17, "Cannot continue"},
    {18, "Function not defined"},
    {19, "No RESUME"},
    {20, "RESUME without error"},
    {24, "Device timeout"},
    {25, "Device fault"},
    {26, "FOR without NEXT"},
    {27, "Out of paper"},
    {29, "WHILE without WEND"},
    {30, "WEND without WHILE"},
    {33, "Duplicate label"},
    {35, "Subprogram not defined"},
    {37, "Argument-count mismatch"},
    {38, "Array not defined"},
    {40, "Variable required"},
    {50, "FIELD overflow"},
    {51, "Internal error"},
    {52, "Bad file name or number"},
    {53, "File not found"},
    {54, "Bad file mode"},
    {55, "File already open"},
    {56, "FIELD statement active"},
    {57, "Device I/O error"},
    {58, "File already exists"},
    {59, "Bad record length"},
    {61, "Disk full"},
    {62, "Input past end of file"},
    {63, "Bad record number"},
    {64, "Bad file name"},
    {67, "Too many files"},
    {68, "Device unavailable"},
    {69, "Communication-buffer overflow"},
    {70, "Permission denied"},
    {71, "Disk not ready"},
    {72, "Disk-media error"},
    {73, "Feature unavailable"},
    {74, "Rename across disks"},
    {75, "Path/File access error"},
    {76, "Path not found"},
    {258, "Invalid handle"},
    {262, "Function unavailable in NUVELA"},
    {300, "Memory region out of range"},
    {301, "Invalid size"},
    {302, "Source memory region out of range"},
    {303, "Destination memory region out of range"},
    {304, "Source and destination memory regions out of range"},
    {305, "Source memory has been freed"},
    {306, "Destination memory has been freed"},
    {307, "Memory already freed"},
    {308, "Memory has been freed"},
    {309, "Memory not initialized"},
    {310, "Source memory not initialized"},
    {311, "Destination memory not initialized"},
    {312, "Source and destination memory not initialized"},
    {313, "Source and destination memory have been freed"},
};

struct CriticalError {
    int32_t first;
    int32_t last;
    const char* text;
    const char* caption; // nullptr: "Critical Error #" followed by code - 500
};

// Errors that end the process where they are raised: the run-time cannot go on after them.
constexpr CriticalError CRITICAL_ERRORS[] = {
    {11, 11, "Division by zero", "Critical Error"},
    {256, 256, "Out of stack space", "Critical Error"},
    {257, 257, "Out of memory", "Critical Error #1"},
    {259, 259, "Cannot find dynamic library file", "Critical Error"},
    {260, 261, "Sub/Function does not exist in dynamic library", "Critical Error"},
    {263, 263, "Paths/Filename illegal in NUVELA", "Critical Error"},
    {270, 270, "_GL command called outside of SUB _GL's scope", "Critical Error"},
    {271, 271, "END/SYSTEM called within SUB _GL's scope", "Critical Error"},
    {502, 518, "Out of memory", nullptr},
};

// Memory-block errors are recorded like any other, but the dialog that reports them ends the
// process instead of offering to continue.
constexpr ErrorCode MEMORY_BLOCK_FIRST = 300;
constexpr ErrorCode MEMORY_BLOCK_LAST = 313;

// Both dialog buffers are 256 bytes: the longest message has 50 characters and each decimal
// number at most 10, so nothing is ever cut.
constexpr size_t DIALOG_BUFFER_BYTES = 256;

const CriticalError* find_critical(int32_t code) {
    for (const CriticalError& entry : CRITICAL_ERRORS) {
        if (code >= entry.first && code <= entry.last) return &entry;
    }
    return nullptr;
}

[[noreturn]] void show_critical(int32_t code, const CriticalError& entry) {
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
    for (const ErrorMessage& entry : MESSAGES) {
        if (entry.code == code) return entry.text;
    }
    return nullptr;
}

bool error_is_critical(int32_t code) {
    return find_critical(code) != nullptr;
}

void error_critical(ErrorCode code) {
    const CriticalError* entry = find_critical(int32_t(code));
    // A number that names no critical error still ends the process, under the generic caption.
    static constexpr CriticalError unknown = {0, 0, "Out of memory", nullptr};
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
    bool critical = code >= MEMORY_BLOCK_FIRST && code <= MEMORY_BLOCK_LAST;
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
