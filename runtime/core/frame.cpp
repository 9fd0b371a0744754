#include "runtime/core/frame.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "runtime/base/error.h"
#include "runtime/platform/platform.h"

namespace {

// Reads the chaining program's working directory from its state file: a discarded 32-bit value,
// the 32-bit length n, then n bytes. The records after it belong to the chaining facility and
// are skipped. A length outside 0..CHAIN_DIRECTORY_MAX or a file that ends early refuses the
// whole file: the length comes from disk and must not size a copy unchecked.
bool read_chain_directory(const char* file_name, std::string& directory) {
    std::FILE* file = std::fopen(file_name, "rb");
    if (!file) return false;
    int32_t header[2];
    bool ok = std::fread(header, sizeof header, 1, file) == 1;
    int32_t length = ok ? header[1] : -1;
    ok = ok && length >= 0 && length <= CHAIN_DIRECTORY_MAX;
    if (ok) {
        directory.assign(size_t(length), '\0');
        ok = length == 0 || std::fread(directory.data(), size_t(length), 1, file) == 1;
    }
    std::fclose(file);
    return ok;
}

} // namespace

void program_run(void (*program)()) {
    bool faulted = platform_run_guarded([](void* body) { reinterpret_cast<void (*)()>(body)(); },
                                        reinterpret_cast<void*>(program));
    if (faulted) error_critical(ERROR_DIVISION_BY_ZERO);
}

int32_t program_enter() {
    // The floating-point unit's precision is a per-thread setting, chosen once for the program
    // thread.
    static const bool precision_set = (platform_fpu_extended_precision(), true);
    (void)precision_set;
    platform_division_trap_install();
    int32_t mark = str_temp_mark();
    chain_input();
    return mark;
}

void chain_input() {
    BasicString* line = command_line;
    if (!line || line->length < CHAIN_SUFFIX_LENGTH) return;
    const char* chars = reinterpret_cast<const char*>(line->chars);
    int32_t length = line->length;
    if (std::memcmp(chars + length - 4, ".tmp", 4) != 0) return;
    if (std::memcmp(chars + length - CHAIN_SUFFIX_LENGTH, CHAIN_TAG, CHAIN_TAG_LENGTH) != 0 ||
        std::memcmp(chars + length - CHAIN_FILE_NAME_LENGTH, "chain", 5) != 0) {
        return;
    }

    std::string file_name(chars + length - CHAIN_FILE_NAME_LENGTH, CHAIN_FILE_NAME_LENGTH);
    std::string directory;
    if (read_chain_directory(file_name.c_str(), directory)) {
        std::remove(file_name.c_str());
        platform_chdir(directory.c_str());
    }
    // A refused state file still leaves a command line whose tail is no argument of the user's,
    // so the tag goes either way, with the space in front of it when there is one.
    int32_t kept = length - CHAIN_SUFFIX_LENGTH;
    if (kept > 0) --kept;
    // Through the engine rather than by editing the length: the assignment keeps the heap list
    // and the heap's used size in step with the string, as for any other shortened variable.
    str_set(line, str_left(line, kept));
}
