// The smallest program that prints and ends at once: one line, then END. Its whole life on the
// screen happens before the window has its final size, which is what the window test needs. The
// line starts with a space so that the text survives a screenshot taken before the window is
// moved fully onto the screen (without a window manager it sits one pixel off at -1,-1).
#include "runtime/core/frame.h"
#include "runtime/core/runtime.h"
#include "runtime/display/window.h"
#include "runtime/screen/title.h"
#include "runtime/strings/str.h"

namespace {

void print_end_main() {
    int32_t mark = program_enter();
    set_window_title(str_new_cstring("Unveilo print and end"));
    frame_statement(mark, 1);
    frame_print_item(str_new_cstring(" One line, then END."));
    frame_print_end(mark, 2);
    frame_end(3);
}

} // namespace

int main(int argc, char** argv) {
    return runtime_main(argc, argv, print_end_main, window_main);
}
