#pragma once
// The clean-up's decisions for one stick, made before anything is changed, so that a dry run
// shows exactly what a real run does: which entries of the hiding folder go back to the root,
// which launchers and payloads go to the quarantine (and under which names), and which Windows
// folders are hidden again.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/platform/volume.h"

constexpr std::string_view QUARANTINE_FOLDER = "UNVEILO-QUARANTINE";
constexpr std::string_view QUARANTINE_SUFFIX = ".quarantined";
// Shortcuts and autorun.inf are small; anything larger is read only this far.
constexpr size_t LAUNCHER_READ_MAX_BYTES = 1 << 20;

// How the plan reads the stick: the drive itself, or a stick held in memory by the tests.
class StickAccess {
  public:
    virtual ~StickAccess() = default;
    virtual VolumeStatus list(const VolumePath& folder, std::vector<VolumeEntry>& entries) = 0;
    virtual VolumeStatus read(const VolumePath& file, size_t max_bytes,
                              std::vector<uint8_t>& bytes) = 0;
    // The stick's drive letter, upper case; 0 when it has none (a folder on Linux).
    virtual char letter() const = 0;
};

// Why an entry moves.
enum class Why {
    hidden,            // came out of the hiding folder
    autorun,           // autorun.inf
    script,            // a script in the root
    program_stand_in,  // a program named like a folder or file beside it
    shortcut_stand_in, // a shortcut named like a folder or file beside it
    shortcut_runner,   // a shortcut whose target runs code handed to it (detail: the program)
    shortcut_hidden,   // a shortcut whose target is a program inside the hiding folder
    payload,           // a file a quarantined launcher runs or loads (detail: the launcher)
};

struct Step {
    enum class Kind { restore, quarantine, rehide };
    Kind kind = Kind::quarantine;
    VolumePath from; // where the entry is when the step runs
    VolumePath to;   // where it goes (unused for rehide)
    Why why = Why::payload;
    std::string detail;
};

struct Plan {
    std::vector<Step> steps;
    // Lines for the user about what stays and why ("... stays in that folder: ...").
    std::vector<std::string> notes;
    // Quarantine targets are renamed in place (a file holds the quarantine folder's name).
    bool in_place = false;
};

// Decides what to do with the stick. `batch_name` is the launching batch in the root, which is
// never judged.
Plan plan_make(StickAccess& stick, std::string_view batch_name);

// Turns every quarantine step into a rename in its own folder (a full stick has no room for the
// quarantine folder, a rename needs none), choosing names that are free there.
void plan_in_place(Plan& plan, StickAccess& stick);

// "<name>.quarantined", or "<name>.<n>.quarantined" for n >= 2, cut inside `name` (at a
// character boundary) so that the whole stays within the longest name a file system takes.
std::string plan_quarantine_name(std::string_view name, int n);

// The line that says why, as the screen and README-UNVEILO.txt give it.
std::string plan_reason(const Step& step);
