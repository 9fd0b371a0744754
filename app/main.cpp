// The recovery program comes with its own translated sequence; until then the program opens its
// window, says so and ends with the closing prompt.
#include "runtime/core/frame.h"
#include "runtime/core/runtime.h"
#include "runtime/display/window.h"
#include "runtime/screen/title.h"
#include "runtime/strings/str.h"

namespace {

void recovery_main() {
    int32_t mark = program_enter();
    set_window_title(str_new_cstring("Unveilo"));
    frame_statement(mark, 1);
    frame_print_item(
        str_new_cstring("Unveilo: the recovery sequence is not part of this build yet."));
    frame_print_end(mark, 2);
    frame_end(3);
}

} // namespace

int main(int argc, char** argv) {
    return runtime_main(argc, argv, recovery_main, window_main);
}
