// Unveilo: makes the files on a USB drive visible again after a "shortcut virus" has hidden them.
// The dialogue and its five command lines, statement by statement; the line numbers are the ones
// the run-time error dialog names.
//
// It asks for a drive letter, clears the hidden, read-only and system attributes of everything on
// that drive, copies datafile.dat (the clean-up batch that comes with the program) to the drive
// as temp.bat (under a name of its own where the drive holds that name already), runs it,
// deletes it and opens the drive in the file explorer. The drive that holds
// the operating system is refused: clearing those attributes there would expose every protected
// system file.
#include <cstdio>

#include "runtime/unveilo.h"

namespace {

// A literal of the program: a temporary, read-only string over the text itself.
template <int32_t N> BasicString* lit(const char (&text)[N]) {
    return str_new_literal(text, N - 1);
}

// A printing statement of one item.
void print_line(int32_t mark, uint32_t line, BasicString* item) {
    frame_print_item(item);
    frame_print_end(mark, line);
}

void print_copyright(int32_t mark, uint32_t line) {
    print_line(mark, line, lit("Copyright (C) 2026 the Unveilo project"));
}

// Lines 22 to 26: the banner again after the screen was cleared, and the drive being checked.
void print_checking(int32_t mark, BasicString* drive) {
    print_line(mark, 22, lit("Unveilo"));
    print_copyright(mark, 23);
    print_line(mark, 24, lit("-------------------------------"));
    print_line(mark, 25, lit(""));
    frame_print_item(lit("Checking ")) && frame_print_item(drive) && frame_print_item(lit(" "));
    frame_print_end(mark, 26);
}

void run(int32_t mark, uint32_t line, BasicString* command) {
    shell_run(command, 1);
    frame_statement(mark, line);
}

// Names tried for the batch on the drive, "temp.bat" first.
constexpr int BATCH_NAME_TRIES = 100;

// The first batch name the drive's root does not hold, as a permanent string; nullptr when every
// name is taken. Copying over a temp.bat of the user's would overwrite it (cmd asks first, in a
// console the screen tells the user not to touch) and deleting the copy would lose it; a folder
// of that name would take the copy inside and lose its files to the delete. The other names say
// whose file it is if the stick is pulled out before the batch is deleted again.
BasicString* free_batch_name(int32_t mark, BasicString* drive) {
    BasicString* name = str_new(0, false);
    for (int n = 1; n <= BATCH_NAME_TRIES; ++n) {
        char text[32];
        if (n == 1)
            std::snprintf(text, sizeof text, "temp.bat");
        else if (n == 2)
            std::snprintf(text, sizeof text, "unveilo-temp.bat");
        else
            std::snprintf(text, sizeof text, "unveilo-temp-%d.bat", n - 1);
        str_set(name, str_new_cstring(text));
        int32_t taken = file_exists(str_add(drive, name)) | dir_exists(str_add(drive, name));
        if (!frame_condition(mark, 37, taken)) return name;
    }
    str_free(name);
    return nullptr;
}

void recovery_main() {
    int32_t mark = program_enter();
    BasicString* drive = str_new(0, false);

    screen_clear(0, 0, 0);
    frame_statement(mark, 1);
    set_window_title(lit("Unveilo - Created by the Unveilo project"));
    frame_statement(mark, 2);
    print_line(mark, 3, lit("Unveilo"));
    print_copyright(mark, 4);
    print_line(mark, 5, lit("-------------------------------"));
    print_line(mark, 6, lit(""));
    print_line(mark, 7, lit("This is a free software help to find files in a USB,"));
    print_line(mark, 8, lit("which is hidden by virus attack"));
    print_line(
        mark, 9,
        lit("MESSAGE: do NOT close any command prompt winows they all will close automaticaly"));

    for (;;) {
        frame_loop_head(10);
        print_line(mark, 11, lit(""));
        if (frame_condition(mark, 12, ~file_exists(lit("datafile.dat")))) {
            print_line(mark, 13, lit("Error : Datafile.dat does not found"));
            print_line(mark, 14, lit("Reinstall or get new copy of software"));
            print_line(mark, 15, lit("Program will exit now"));
            if (frame_event_pending()) event_poll(16);
            run_state.exit_code.store(0, std::memory_order_relaxed);
            program_end();
        }

        print_string(lit("Enter USB Drive letter : "), 0);
        input_set_variable(1, INPUT_TYPE_STRING, drive);
        input_values(1, 1);
        if (run_state.stop_requested.load(std::memory_order_acquire) != 0) program_park();
        frame_statement(mark, 18);
        str_set(drive, str_left(drive, 1));
        frame_statement(mark, 19);
        str_set(drive, str_add(drive, lit(":\\")));
        frame_statement(mark, 20);
        screen_clear(0, 0, 0);
        frame_statement(mark, 21);
        print_checking(mark, drive);

        if (frame_condition(mark, 27, ~dir_exists(drive))) {
            print_line(mark, 28, lit("Error : Drive not exist"));
            print_line(mark, 29, lit("Press any key to continue"));
            continue;
        }
        // Never the system drive: it is treated like a missing drive, with a line of its own.
        if (frame_condition(mark, 30, drive_is_system(drive))) {
            frame_print_item(lit("Error : ")) && frame_print_item(str_left(drive, 2)) &&
                frame_print_item(lit(" is the system drive, not a USB drive"));
            frame_print_end(mark, 31);
            print_line(mark, 31, lit("Press any key to continue"));
            continue;
        }
        break;
    }

    print_line(mark, 32, lit("Drive found..."));
    frame_print_item(lit("Tring to recover files from ")) && frame_print_item(drive) &&
        frame_print_item(lit(" "));
    frame_print_end(mark, 33);
    print_line(mark, 34, lit("Unhiding files in the drive..."));
    run(mark, 35, str_add(str_add(lit("attrib -h -r -s /s /d "), drive), lit("*.* ")));
    print_line(mark, 36, lit("Creating temp files for more test..."));
    if (BasicString* batch = free_batch_name(mark, drive)) {
        run(mark, 37, str_add(str_add(lit("copy datafile.dat "), drive), batch));
        print_line(mark, 38, lit("temp file created"));
        print_line(mark, 39, lit("Executing Test 1..."));
        run(mark, 40, str_add(drive, batch));
        print_line(mark, 41, lit("Removing temp file..."));
        run(mark, 42, str_add(str_add(lit("del "), drive), batch));
        str_free(batch);
    } else {
        print_line(mark, 38, lit("Error : the drive holds temp.bat and every other name for the"));
        print_line(mark, 38, lit("clean-up batch: the clean-up is skipped"));
    }
    print_line(mark, 44, lit("Hidden Recovary tests completed..."));
    run(mark, 45, str_add(lit("explorer "), drive));
    screen_clear(0, 0, 0);
    frame_statement(mark, 46);
    print_line(mark, 47, lit("Check your files in the USB..."));
    print_line(mark, 48, lit("------------------------------"));
    print_line(mark, 49, lit("Unveilo"));
    print_copyright(mark, 50);
    print_line(mark, 51, lit(""));
    print_line(mark, 52, lit("Created by the Unveilo project"));
    print_line(mark, 53, lit(""));
    print_line(mark, 54, lit("Web    : none (Unveilo has no web page)"));
    print_line(mark, 55, lit("E-mail : none"));
    sleep_until_key();
    frame_statement(mark, 56);
    frame_end(57);
}

} // namespace

int main(int argc, char** argv) {
    return runtime_main(argc, argv, recovery_main, window_main);
}
