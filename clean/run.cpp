// The clean-up itself: the plan carried out step by step, each move recorded in the manifest
// before it is made, and a dry run that shows the same steps and changes nothing.
#include <cstdlib>

#include "clean/clean.h"
#include "clean/manifest.h"
#include "clean/names.h"
#include "clean/records.h"

namespace {

struct Tally {
    int restored = 0;
    int quarantined = 0;
    int stayed = 0;
};

// Why a move failed, for the line that says it stays.
const char* status_text(VolumeStatus status) {
    switch (status) {
    case VolumeStatus::ok: return "done";
    case VolumeStatus::not_found: return "it is no longer there";
    case VolumeStatus::exists: return "the name is taken there";
    case VolumeStatus::is_link: return "a link is on the way";
    case VolumeStatus::bad_name: return "the name is refused there";
    case VolumeStatus::no_space: return "the drive is full";
    case VolumeStatus::write_protected: return "the drive is write-protected";
    case VolumeStatus::denied: return "it is in use or protected";
    case VolumeStatus::gone: return "the drive went away";
    case VolumeStatus::other: return "the system refused";
    }
    return "the system refused";
}

std::string quoted(const VolumePath& path) {
    return "\"" + shown_path(path) + "\"";
}

// The line for a step, as the screen and the README give it.
std::string step_line(const Step& step, bool would) {
    const std::string verb = would ? "Would move " : "Moved ";
    switch (step.kind) {
    case Step::Kind::restore:
        return verb + quoted(step.from) + " back to the root as " + quoted(step.to) + ": " +
               plan_reason(step) + ".";
    case Step::Kind::quarantine:
        return verb + quoted(step.from) + " to " + quoted(step.to) + ": " + plan_reason(step) + ".";
    case Step::Kind::rehide:
        return (would ? "Would hide " : "Hid ") + std::string("the Windows folder ") +
               quoted(step.from) + " again.";
    }
    return {};
}

bool has_moves(const Plan& plan) {
    for (const Step& step : plan.steps)
        if (step.kind != Step::Kind::rehide) return true;
    return false;
}

// The next id after every id the manifest holds.
long next_manifest_id() {
    std::vector<uint8_t> bytes;
    const VolumePath path{std::string(QUARANTINE_FOLDER), std::string(MANIFEST_NAME)};
    if (volume_read(path, MANIFEST_MAX_BYTES, bytes) != VolumeStatus::ok) return 1;
    long last = 0;
    for (const ManifestMove& move : manifest_parse(
             std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size())))
        last = std::max(last, move.id);
    return last + 1;
}

void summary(const Tally& tally, std::string_view drive, bool records) {
    if (tally.restored == 0 && tally.quarantined == 0 && tally.stayed == 0)
        say("Nothing suspicious was found in the root of " + std::string(drive) + ".");
    if (tally.restored > 0)
        say(std::to_string(tally.restored) +
            " of your files and folders were moved back to the root of " + std::string(drive) +
            ".");
    if (tally.quarantined > 0)
        say(std::to_string(tally.quarantined) + " suspicious files were quarantined" +
            (records ? ", see " + std::string(QUARANTINE_FOLDER) + "\\" + std::string(README_NAME) +
                           " on the drive."
                     : "."));
    if (tally.stayed > 0)
        say(std::to_string(tally.stayed) +
            " entries could not be moved and stay where they were: see the lines above.");
}

void closing() {
    say("");
    say("WARNING: the computer that infected this drive may infect it again.");
    say("Clean that computer with an up-to-date antivirus before you plug the drive in there.");
    say("Unveilo clean-up finished.");
}

// A run that changes nothing still ends with the line that says it is over.
int refused(const std::string& line) {
    say(line);
    say("Unveilo clean-up finished.");
    return CLEAN_EXIT_REFUSED;
}

int dry_run(const Plan& plan, std::string_view drive) {
    for (const std::string& note : plan.notes) say(note);
    Tally tally;
    for (const Step& step : plan.steps) {
        say(step_line(step, true));
        if (step.kind == Step::Kind::restore) ++tally.restored;
        if (step.kind == Step::Kind::quarantine) ++tally.quarantined;
    }
    if (plan.in_place && has_moves(plan))
        say("The quarantine folder cannot be made: suspicious files would be renamed in place.");
    if (has_moves(plan) && volume_read_only())
        say("Drive " + std::string(drive) + " cannot be written: a real run would change nothing.");
    say(tally.restored == 0 && tally.quarantined == 0
            ? "Dry run: nothing to do on " + std::string(drive) + "."
            : "Dry run: nothing was changed.");
    return CLEAN_EXIT_OK;
}

} // namespace

bool clean_parse_arguments(const std::vector<std::string>& arguments, CleanOptions& options,
                           std::string& error) {
    options = CleanOptions{};
    for (size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (argument == "--dry-run") {
            options.dry_run = true;
        } else if (argument == "--undo") {
            options.undo = true;
        } else if (argument == "--batch" || argument == "--pause") {
            if (i + 1 >= arguments.size()) {
                error = argument + " needs a value.";
                return false;
            }
            const std::string& value = arguments[++i];
            if (argument == "--batch") {
                options.batch = value;
            } else {
                char* end = nullptr;
                const long seconds = std::strtol(value.c_str(), &end, 10);
                if (value.empty() || *end != '\0' || seconds < 0 || seconds > 3600) {
                    error = "--pause takes a number of seconds from 0 to 3600.";
                    return false;
                }
                options.pause_seconds = int(seconds);
            }
        } else if (argument.size() > 1 && argument[0] == '-' && argument != "-") {
            error = "Unknown option " + argument + ".";
            return false;
        } else if (options.drive.empty()) {
            options.drive = argument;
        } else {
            error = "One drive at a time: " + argument + " is one too many.";
            return false;
        }
    }
    if (options.dry_run && options.undo) {
        error = "--dry-run and --undo go one at a time.";
        return false;
    }
    if (options.drive.empty()) {
        error = "Name the drive to clean, for example E:.";
        return false;
    }
    return true;
}

VolumeStatus VolumeStick::list(const VolumePath& folder, std::vector<VolumeEntry>& entries) {
    return volume_list(folder, entries);
}

VolumeStatus VolumeStick::read(const VolumePath& file, size_t max_bytes,
                               std::vector<uint8_t>& bytes) {
    return volume_read(file, max_bytes, bytes);
}

char VolumeStick::letter() const {
    return volume_letter();
}

int clean_run(const CleanOptions& options, std::string_view drive) {
    say("Unveilo clean-up of drive " + std::string(drive));
    VolumeStick stick;
    std::vector<VolumeEntry> top;
    if (const VolumeStatus status = volume_list({}, top); status != VolumeStatus::ok) {
        return refused("Cannot read the root of drive " + std::string(drive) + " (" +
                       status_text(status) + "): nothing was changed.");
    }
    Plan plan = plan_make(stick, options.batch);
    if (options.dry_run) return dry_run(plan, drive);

    if (!plan.steps.empty() && volume_read_only()) {
        return refused("Drive " + std::string(drive) +
                       " cannot be written (it is write-protected): nothing was changed.");
    }
    for (const std::string& note : plan.notes) say(note);

    // The records first: the quarantine folder, the README and the manifest's run line. A stick
    // with no room for the folder gets its suspicious files renamed where they are instead.
    bool records = false;
    // Once anything on the drive changed, a refused move is that entry's alone; before, it
    // tells a drive that takes no change at all (Wine reports a read-only mount as refused
    // access, not as write protection).
    bool changed = false;
    long id = 1;
    if (has_moves(plan) && !plan.in_place) {
        const VolumePath folder{std::string(QUARANTINE_FOLDER)};
        const VolumeStatus made = volume_make_folder(folder);
        changed = made == VolumeStatus::ok;
        if (made == VolumeStatus::write_protected)
            return refused("Drive " + std::string(drive) +
                           " cannot be written (it is write-protected): nothing was changed.");
        if (made != VolumeStatus::ok && made != VolumeStatus::exists) {
            say(made == VolumeStatus::no_space
                    ? "Drive " + std::string(drive) +
                          " has no room for the quarantine folder: suspicious files are renamed "
                          "where they are."
                    : "The quarantine folder cannot be made (" + std::string(status_text(made)) +
                          "): suspicious files are renamed where they are.");
            plan_in_place(plan, stick);
        }
    }
    if (has_moves(plan) && !plan.in_place) {
        id = next_manifest_id();
        const std::string when = records_now();
        records =
            records_append(README_NAME, records_readme_header(drive),
                           "\r\nClean-up of " + std::string(drive) + " on " + when + ":\r\n") &&
            records_append(MANIFEST_NAME, manifest_header(), manifest_run_line(when, drive));
        changed = changed || records;
        if (!records)
            say("Could not write the records in " + std::string(QUARANTINE_FOLDER) +
                ": the lines on the screen are the only list of what moved.");
    }

    Tally tally;
    for (const Step& step : plan.steps) {
        if (step.kind == Step::Kind::rehide) {
            const VolumeStatus status =
                volume_add_attributes(step.from, VOLUME_HIDDEN | VOLUME_SYSTEM);
            if (status == VolumeStatus::ok) say(step_line(step, false));
            continue;
        }
        // Written before the move, so that a stick pulled out in between still has a record.
        if (records) records_append(MANIFEST_NAME, {}, manifest_move_line(id, step.from, step.to));
        const VolumeStatus status = volume_move(step.from, step.to);
        if (records)
            records_append(MANIFEST_NAME, {},
                           manifest_mark_line(status == VolumeStatus::ok ? "done" : "failed", id));
        ++id;
        if (status == VolumeStatus::gone) {
            say("Drive " + std::string(drive) +
                " went away (was it pulled out?): the clean-up stopped there. Nothing is lost; "
                "run Unveilo again when the drive is back.");
            return CLEAN_EXIT_INCOMPLETE;
        }
        if (!changed && (status == VolumeStatus::write_protected || status == VolumeStatus::denied))
            return refused("Drive " + std::string(drive) +
                           " cannot be written (it is write-protected or refuses every change): "
                           "nothing was changed.");
        changed = changed || status == VolumeStatus::ok;
        if (status != VolumeStatus::ok) {
            say("Could not move " + quoted(step.from) + " (" + status_text(status) +
                "): it stays where it is.");
            ++tally.stayed;
            continue;
        }
        const std::string line = step_line(step, false);
        say(line);
        if (records) records_append(README_NAME, {}, line + "\r\n");
        if (step.kind == Step::Kind::restore) ++tally.restored;
        if (step.kind == Step::Kind::quarantine) ++tally.quarantined;
    }
    summary(tally, drive, records);
    if (tally.quarantined > 0 && records)
        say("To put it all back: unveilo-clean --undo " + std::string(drive));
    closing();
    return tally.stayed > 0 ? CLEAN_EXIT_INCOMPLETE : CLEAN_EXIT_OK;
}
