// --undo: every move the manifest records and no undo has reversed yet, reversed in the opposite
// order (so that an entry that came out of the hiding folder and then went to the quarantine
// goes back through the root into the folder), never over an existing entry.
#include "clean/clean.h"
#include "clean/manifest.h"
#include "clean/records.h"

namespace {

bool exists(const VolumePath& path) {
    VolumeEntry entry;
    return volume_stat(path, entry) == VolumeStatus::ok;
}

std::string quoted(const VolumePath& path) {
    return "\"" + shown_path(path) + "\"";
}

} // namespace

int clean_undo(std::string_view drive) {
    say("Unveilo: putting back what the clean-up moved on drive " + std::string(drive));
    const VolumePath manifest{std::string(QUARANTINE_FOLDER), std::string(MANIFEST_NAME)};
    std::vector<uint8_t> bytes;
    const VolumeStatus read = volume_read(manifest, MANIFEST_MAX_BYTES, bytes);
    if (read == VolumeStatus::not_found) {
        say("There is no record of a clean-up on " + std::string(drive) + " (" +
            std::string(QUARANTINE_FOLDER) + "\\" + std::string(MANIFEST_NAME) +
            "): nothing to put back.");
        return CLEAN_EXIT_OK;
    }
    if (read != VolumeStatus::ok) {
        say("Cannot read " + quoted(manifest) + ": nothing was put back.");
        return CLEAN_EXIT_INCOMPLETE;
    }
    std::vector<ManifestMove> moves =
        manifest_parse(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
    if (volume_read_only()) {
        say("Drive " + std::string(drive) +
            " cannot be written (it is write-protected): nothing was put back.");
        return CLEAN_EXIT_REFUSED;
    }
    int back = 0, stuck = 0;
    std::string readme;
    for (auto move = moves.rbegin(); move != moves.rend(); ++move) {
        if (move->failed || move->undone) continue;
        const bool at_target = exists(move->to);
        const bool at_origin = exists(move->from);
        if (!at_target && at_origin) {
            // Moved back by hand, or never moved (the stick went away before the move).
            records_append(MANIFEST_NAME, {}, manifest_mark_line("undone", move->id));
            continue;
        }
        if (!at_target) {
            say("Cannot put back " + quoted(move->from) + ": " + quoted(move->to) +
                " is no longer there.");
            ++stuck;
            continue;
        }
        if (at_origin) {
            say("Cannot put back " + quoted(move->from) +
                ": that name is taken again; it stays at " + quoted(move->to) + ".");
            ++stuck;
            continue;
        }
        const VolumeStatus status = volume_move(move->to, move->from);
        if (status == VolumeStatus::gone) {
            say("Drive " + std::string(drive) +
                " went away: undo stopped there. Run it again when the drive is back.");
            return CLEAN_EXIT_INCOMPLETE;
        }
        if (status != VolumeStatus::ok) {
            say("Cannot put back " + quoted(move->from) + ": it stays at " + quoted(move->to) +
                ".");
            ++stuck;
            continue;
        }
        records_append(MANIFEST_NAME, {}, manifest_mark_line("undone", move->id));
        const std::string line =
            "Put back " + quoted(move->from) + " from " + quoted(move->to) + ".";
        say(line);
        readme += line + "\r\n";
        ++back;
    }
    if (back > 0)
        records_append(README_NAME, {}, "\r\nUndone on " + records_now() + ":\r\n" + readme);
    if (back == 0 && stuck == 0) say("Nothing left to put back on " + std::string(drive) + ".");
    if (back > 0) say(std::to_string(back) + " entries were put back.");
    if (stuck > 0)
        say(std::to_string(stuck) + " entries could not be put back: see the lines above.");
    say("Unveilo undo finished.");
    return stuck > 0 ? CLEAN_EXIT_INCOMPLETE : CLEAN_EXIT_OK;
}
