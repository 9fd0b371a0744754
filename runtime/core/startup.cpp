#include "runtime/core/startup.h"

#include <cstring>

#include "runtime/platform/platform.h"
#include "runtime/strings/detail.h"

BasicString* machine_code_message = nullptr;
BasicString* command_line = nullptr;
int32_t environment_count = 0;

int32_t startup_count_environment() {
    environment_count = platform_environment_count();
    return environment_count;
}

namespace {

constexpr char MACHINE_CODE_TEXT[] = "Machine code emulation is not available";

BasicString* permanent_heap_copy(const char* text, size_t length) {
    BasicString* s = str_new(int32_t(length), false);
    if (length != 0) std::memcpy(s->chars, text, length);
    return s;
}

} // namespace

void startup_strings(int argc, const char* const* argv) {
    // The top of the data segment is kept zero, out of reach of the segment descriptors that
    // grow down towards it.
    str_engine.segment_top -= SEGMENT_RESERVED_TOP;
    std::memset(str_segment_start() + str_engine.segment_top, 0, SEGMENT_RESERVED_TOP);

    str_constants_create();
    machine_code_message = permanent_heap_copy(MACHINE_CODE_TEXT, sizeof MACHINE_CODE_TEXT - 1);

    size_t length = 0;
    for (int i = 1; i < argc; ++i) length += std::strlen(argv[i]) + (i > 1 ? 1 : 0);
    command_line = str_new(int32_t(length), false);
    uint8_t* out = command_line->chars;
    for (int i = 1; i < argc; ++i) {
        if (i > 1) *out++ = ' ';
        size_t part = std::strlen(argv[i]);
        if (part != 0) std::memcpy(out, argv[i], part);
        out += part;
    }
}
