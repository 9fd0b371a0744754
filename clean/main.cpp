// unveilo-clean: cleans a USB drive after a shortcut virus (or shows what it would do, or puts
// back what it moved). Reads its arguments, opens the drive and hands over to its mode.
#include "clean/clean.h"
#include "runtime/platform/cli.h"
#include "runtime/platform/volume.h"

namespace {

int run(const CleanOptions& options) {
    std::string drive;
    switch (volume_open(options.drive, drive)) {
    case VolumeOpen::ok: break;
    case VolumeOpen::bad_argument:
        cli_write(options.drive +
                      " is not a drive: give a letter such as E: (on Linux also a folder such as "
                      "/media/me/STICK).\n" +
                      std::string(CLEAN_USAGE),
                  true);
        return CLEAN_EXIT_REFUSED;
    case VolumeOpen::missing:
        cli_write("Drive " + options.drive +
                      " does not exist or holds no medium: nothing was changed.\n",
                  true);
        return CLEAN_EXIT_REFUSED;
    case VolumeOpen::system_drive:
        cli_write(options.drive + " is the system drive, not a USB drive: nothing was changed.\n",
                  true);
        return CLEAN_EXIT_REFUSED;
    }
    return options.undo ? clean_undo(drive) : clean_run(options, drive);
}

} // namespace

int main(int argc, char** argv) {
    CleanOptions options;
    std::string error;
    if (!clean_parse_arguments(cli_arguments(argc, argv), options, error)) {
        cli_write(error + "\n" + std::string(CLEAN_USAGE), true);
        return CLEAN_EXIT_REFUSED;
    }
    const int status = run(options);
    // The launching batch asks its console window to stay until the summary has been read.
    cli_hold(options.pause_seconds,
             "\nThis window closes by itself in " + std::to_string(options.pause_seconds) +
                 " seconds, or press a key to close it now.\n",
             "Unveilo clean-up finished - press a key to close this window");
    return status;
}
