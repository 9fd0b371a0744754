// The END statement. The process never ends on the program thread: the closing prompt waits for a
// key, then the thread asks the display thread to end the process and parks.
#include "runtime/base/run_state.h"
#include "runtime/core/frame.h"
#include "runtime/core/startup.h"
#include "runtime/input/wait.h"
#include "runtime/screen/image.h"
#include "runtime/screen/print.h"
#include "runtime/strings/str_hooks.h"

namespace {
constexpr char CLOSING_PROMPT[] = "Press any key to continue";
}

void program_end() {
    // Files and connections close before the closing prompt, while the program thread still
    // owns everything they use.
    if (str_file_hooks.close_all != nullptr) str_file_hooks.close_all();
    run_state.exit_polling.store(0, std::memory_order_relaxed);

    // The prompt goes on the visible page, on its bottom row alone, so the rows above stay as
    // the program left them.
    set_write_page(get_display_page());
    int32_t bottom = image_rows(*screen_state.write_page.image);
    view_print(bottom, bottom, 1);
    print_string(str_shared_empty, 1);
    print_string(str_new_literal(CLOSING_PROMPT, int32_t(sizeof CLOSING_PROMPT - 1)), 0);

    inkey_wait_new(str_temp_mark());
    run_state.end_requested.store(1, std::memory_order_release);
    program_park();
}
