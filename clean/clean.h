#pragma once
// unveilo-clean's modes: the clean-up of a drive (or a dry run of it) and the undo, on the drive
// that volume_open made current. Each returns the program's exit status.
#include <string>
#include <string_view>
#include <vector>

#include "clean/plan.h"

constexpr int CLEAN_EXIT_OK = 0;
constexpr int CLEAN_EXIT_INCOMPLETE = 1; // an entry could not be moved or put back
constexpr int CLEAN_EXIT_REFUSED = 2;    // bad usage, no drive, or a drive that takes no change

constexpr std::string_view CLEAN_USAGE =
    "Usage: unveilo-clean [--dry-run | --undo] [--batch NAME] [--pause SECONDS] DRIVE\n";

struct CleanOptions {
    bool dry_run = false;
    bool undo = false;
    std::string batch;     // the launching batch's name in the root, never judged
    int pause_seconds = 0; // keep a console window open this long at the end
    std::string drive;
};

// False, with the line to print, for arguments that are not the usage above.
bool clean_parse_arguments(const std::vector<std::string>& arguments, CleanOptions& options,
                           std::string& error);

// The drive as the clean-up reads it: volume_list and volume_read on the open drive.
class VolumeStick : public StickAccess {
  public:
    VolumeStatus list(const VolumePath& folder, std::vector<VolumeEntry>& entries) override;
    VolumeStatus read(const VolumePath& file, size_t max_bytes,
                      std::vector<uint8_t>& bytes) override;
    char letter() const override;
};

// `drive` is the drive as messages name it ("E:").
int clean_run(const CleanOptions& options, std::string_view drive);
int clean_undo(std::string_view drive);

// Where the modes' lines go: the console unless a test catches them.
using CleanOutput = void (*)(std::string_view line);
void clean_set_output(CleanOutput output);
