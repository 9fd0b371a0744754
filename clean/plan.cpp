#include "clean/plan.h"

#include <map>
#include <set>

#include "clean/autorun.h"
#include "clean/command_line.h"
#include "clean/lnk.h"
#include "clean/names.h"
#include "clean/rules.h"
#include "clean/text.h"
#include "runtime/platform/path_rules.h"

namespace {

// Folders Windows keeps hidden on every drive: the sweep of the attributes unhid them.
constexpr std::string_view WINDOWS_FOLDERS[] = {"System Volume Information", "$RECYCLE.BIN"};

// A path that a command line or shortcut writes can nest only so deep on a real drive.
constexpr size_t MAX_REF_COMPONENTS = 64;

bool has_wildcard(std::string_view name) {
    return name.find_first_of("*?") != std::string_view::npos;
}

// * and ? over folded names, as a FOR or REN pattern matches long names.
bool wildcard_match(std::string_view pattern, std::string_view name) {
    return platform_wildcard_match(pattern, name, [](char a, char b) { return a == b; });
}

struct RootEntry {
    VolumeEntry entry;
    VolumePath origin; // where it was before the clean-up: itself, or inside the hiding folder
};

struct Planner {
    StickAccess& stick;
    std::string batch_fold;
    Plan plan;
    std::map<VolumePath, std::vector<VolumeEntry>> listings;
    std::vector<RootEntry> root; // the root as it is once the hiding folders are emptied
    std::map<std::string, size_t> root_by_fold;
    std::map<VolumePath, VolumePath> restored; // hiding folder entry -> its place in the root
    std::set<VolumePath> quarantined;          // current paths already planned to go

    Planner(StickAccess& s, std::string_view batch) : stick(s), batch_fold(text_fold(batch)) {}

    const std::vector<VolumeEntry>* listing(const VolumePath& folder) {
        auto found = listings.find(folder);
        if (found == listings.end()) {
            std::vector<VolumeEntry> entries;
            if (stick.list(folder, entries) != VolumeStatus::ok) entries.clear();
            found = listings.emplace(folder, std::move(entries)).first;
        }
        return &found->second;
    }

    // The entry of `folder` named `name`: that exact name, else the same name in another case,
    // as Windows finds it on FAT and NTFS.
    const VolumeEntry* find(const VolumePath& folder, std::string_view name) {
        const std::vector<VolumeEntry>* entries = listing(folder);
        for (const VolumeEntry& entry : *entries)
            if (entry.name == name) return &entry;
        const std::string fold = text_fold(name);
        for (const VolumeEntry& entry : *entries)
            if (text_fold(entry.name) == fold) return &entry;
        return nullptr;
    }

    // Where an entry found at its original path is once the hiding folders are emptied.
    VolumePath current(const VolumePath& original) const {
        if (original.size() >= 2) {
            auto moved = restored.find(VolumePath{original[0], original[1]});
            if (moved != restored.end()) {
                VolumePath path = moved->second;
                path.insert(path.end(), original.begin() + 2, original.end());
                return path;
            }
        }
        return original;
    }

    bool in_root(std::string_view name) const { return root_by_fold.count(text_fold(name)) != 0; }

    void add_root(const VolumeEntry& entry, VolumePath origin) {
        root_by_fold.emplace(text_fold(entry.name), root.size());
        root.push_back(RootEntry{entry, std::move(origin)});
    }

    void empty_hiding_folders();
    void judge_root();
    void judge_shortcut(const RootEntry& item);
    void judge_autorun(const RootEntry& item);
    void quarantine(const VolumePath& path, Why why, std::string detail);
    void payloads(const std::vector<FileRef>& refs, const std::vector<VolumePath>& bases,
                  bool removable, const std::string& launcher);
    std::vector<VolumePath> resolve(const FileRef& ref, const std::vector<VolumePath>& bases,
                                    bool removable);
    void resolve_in(const VolumePath& base, const std::vector<std::string>& parts,
                    const FileRef& ref, std::vector<VolumePath>& found);
    bool letter_is_stick(char letter, bool removable) const;
    std::vector<VolumePath> stick_folders(std::string_view path, bool removable);
    void name_quarantine_targets();
    void rehide_windows_folders();
};

void Planner::empty_hiding_folders() {
    const std::vector<VolumeEntry> top = *listing({});
    for (const VolumeEntry& entry : top) add_root(entry, {entry.name});
    for (const VolumeEntry& folder : top) {
        if (!folder.is_dir || folder.is_link || !name_is_blank(folder.name)) continue;
        plan.notes.push_back("Found a folder whose name shows as nothing (\"" +
                             name_shown(folder.name) + "\"): a shortcut virus hides files there.");
        for (const VolumeEntry& inside : *listing({folder.name})) {
            if (in_root(inside.name) || text_fold(inside.name) == text_fold(QUARANTINE_FOLDER)) {
                plan.notes.push_back("\"" + name_shown(inside.name) +
                                     "\" stays in that folder: the root already holds an entry "
                                     "of that name.");
                continue;
            }
            Step step;
            step.kind = Step::Kind::restore;
            step.from = {folder.name, inside.name};
            step.to = {inside.name};
            step.why = Why::hidden;
            step.detail = folder.name;
            plan.steps.push_back(step);
            restored.emplace(step.from, step.to);
            add_root(inside, step.from);
        }
    }
}

void Planner::quarantine(const VolumePath& path, Why why, std::string detail) {
    if (!quarantined.insert(path).second) return;
    Step step;
    step.kind = Step::Kind::quarantine;
    step.from = path;
    step.why = why;
    step.detail = std::move(detail);
    plan.steps.push_back(std::move(step));
}

bool Planner::letter_is_stick(char letter, bool removable) const {
    const char up = letter >= 'a' && letter <= 'z' ? char(letter - 'a' + 'A') : letter;
    if (up == stick.letter()) return true;
    // A shortcut made on another computer names the stick by the letter it had there; its
    // LinkInfo tells a removable drive. Without a letter of our own (a folder on Linux) any
    // letter but the system's may be the stick.
    return removable || (stick.letter() == 0 && up != 'C');
}

// The folders on the stick that a folder path names (absolute, root-relative or relative to
// the root); none when it leads off the stick.
std::vector<VolumePath> Planner::stick_folders(std::string_view path, bool removable) {
    FileRef ref{std::string(path), true, false};
    std::vector<VolumePath> folders;
    for (const VolumePath& found : resolve(ref, {{}}, removable)) {
        const VolumeEntry* entry = nullptr;
        if (!found.empty()) {
            VolumePath parent(found.begin(), found.end() - 1);
            entry = find(parent, found.back());
        }
        if (found.empty() || (entry != nullptr && entry->is_dir && !entry->is_link))
            folders.push_back(found);
    }
    return folders;
}

void Planner::resolve_in(const VolumePath& base, const std::vector<std::string>& parts,
                         const FileRef& ref, std::vector<VolumePath>& found) {
    VolumePath at = base;
    for (size_t i = 0; i < parts.size(); ++i) {
        const std::string& part = parts[i];
        if (part == ".") continue;
        if (part == "..") {
            // Windows stops at the root of a drive.
            if (!at.empty()) at.pop_back();
            continue;
        }
        const bool last = i + 1 == parts.size();
        if (last && ref.pattern && has_wildcard(part)) {
            const std::string pattern = text_fold(part);
            for (const VolumeEntry& entry : *listing(at)) {
                if (entry.is_dir || entry.is_link) continue;
                if (!wildcard_match(pattern, text_fold(entry.name))) continue;
                VolumePath path = at;
                path.push_back(entry.name);
                found.push_back(path);
            }
            return;
        }
        const VolumeEntry* entry = find(at, part);
        if (entry == nullptr || entry->is_link) return;
        if (!last && !entry->is_dir) return;
        at.push_back(entry->name);
    }
    found.push_back(at);
}

// The entries of the stick that `ref` names, at their original places (the root itself as an
// empty path). A path on another drive, on the network, or behind an environment variable names
// nothing here.
std::vector<VolumePath> Planner::resolve(const FileRef& ref, const std::vector<VolumePath>& bases,
                                         bool removable) {
    std::string text = ref.text;
    for (char& c : text)
        if (c == '/') c = '\\';
    if (text.rfind("\\\\?\\", 0) == 0 || text.rfind("\\\\.\\", 0) == 0) text.erase(0, 4);
    std::vector<VolumePath> found;
    if (text.empty() || text.rfind("\\\\", 0) == 0 || text.find('%') != std::string::npos)
        return found;
    std::vector<VolumePath> starts = bases;
    std::string_view rest = text;
    const bool lettered =
        rest.size() >= 2 && rest[1] == ':' &&
        ((rest[0] >= 'A' && rest[0] <= 'Z') || (rest[0] >= 'a' && rest[0] <= 'z'));
    if (lettered) {
        if (!letter_is_stick(rest[0], removable)) return found;
        rest.remove_prefix(2);
        starts = {{}};
    } else if (!rest.empty() && rest[0] == '\\') {
        starts = {{}};
    }
    std::vector<std::string> parts;
    size_t at = 0;
    while (at <= rest.size()) {
        const size_t end = std::min(rest.find('\\', at), rest.size());
        if (end > at) parts.emplace_back(rest.substr(at, end - at));
        at = end + 1;
    }
    if (parts.size() > MAX_REF_COMPONENTS) return found;
    for (const VolumePath& start : starts) resolve_in(start, parts, ref, found);
    return found;
}

void Planner::payloads(const std::vector<FileRef>& refs, const std::vector<VolumePath>& bases,
                       bool removable, const std::string& launcher) {
    for (const FileRef& ref : refs) {
        for (const VolumePath& original : resolve(ref, bases, removable)) {
            if (original.empty()) continue;
            const VolumePath parent(original.begin(), original.end() - 1);
            const VolumeEntry* entry = find(parent, original.back());
            if (entry == nullptr || entry->is_dir || entry->is_link) continue;
            if (!ref.any_extension && !name_is_runnable(entry->name)) continue;
            const VolumePath path = current(original);
            if (path.size() == 1 && text_fold(path[0]) == batch_fold) continue;
            if (text_fold(path[0]) == text_fold(QUARANTINE_FOLDER)) continue;
            quarantine(path, Why::payload, launcher);
        }
    }
}

void Planner::judge_autorun(const RootEntry& item) {
    const VolumePath path{item.entry.name};
    quarantine(path, Why::autorun, {});
    std::vector<uint8_t> bytes;
    if (stick.read(item.origin, LAUNCHER_READ_MAX_BYTES, bytes) != VolumeStatus::ok) return;
    Autorun autorun;
    if (autorun_read(bytes, autorun) != AutorunStatus::ok) return;
    for (const AutorunEntry& entry : autorun.entries) {
        if (!autorun_key_runs_command(entry.key)) continue;
        std::string arguments;
        const std::string program = command_program(entry.value, &arguments);
        // open= and shell commands start a program whatever its name; shellexecute= opens a
        // file by its kind, as a double-click would.
        const bool started = entry.key != "shellexecute";
        payloads(rules_command_files(program, arguments, started), {{}}, false, item.entry.name);
    }
}

void Planner::judge_shortcut(const RootEntry& item) {
    const std::string& name = item.entry.name;
    const VolumePath path{name};
    const bool stand_in = in_root(name_stem(name)) && text_fold(name_stem(name)) != text_fold(name);
    std::vector<uint8_t> bytes;
    ShellLink link;
    const bool read = stick.read(item.origin, LAUNCHER_READ_MAX_BYTES, bytes) == VolumeStatus::ok &&
                      lnk_read(bytes, link) == LnkStatus::ok;
    if (!read) {
        if (stand_in)
            quarantine(path, Why::shortcut_stand_in, {});
        else
            plan.notes.push_back("\"" + name_shown(name) +
                                 "\" cannot be read as a shortcut: it stays where it is.");
        return;
    }
    const bool removable = link.drive_type == LNK_DRIVE_REMOVABLE;
    // Every form in which the file names its target: a virus may make them disagree, and
    // Windows uses whichever it can resolve.
    std::vector<std::string> targets;
    for (const std::string* target :
         {&link.id_list_path, &link.link_info_path, &link.environment_target, &link.relative_path})
        if (!target->empty()) targets.push_back(*target);

    // A runner with nothing handed to it (a plain "Command Prompt" shortcut) runs no code.
    const bool handed = link.arguments.find_first_not_of(" \t") != std::string::npos;
    std::string runner;
    bool hidden_target = false;
    for (const std::string& target : targets) {
        if (runner.empty() && handed) runner = rules_interpreter(target);
        FileRef ref{target, false, false};
        for (const VolumePath& found : resolve(ref, {{}}, removable))
            if (found.size() >= 2 && name_is_blank(found[0]) && name_is_runnable(found.back()))
                hidden_target = true;
    }
    if (!runner.empty())
        quarantine(path, Why::shortcut_runner, runner);
    else if (hidden_target)
        quarantine(path, Why::shortcut_hidden, {});
    else if (stand_in)
        quarantine(path, Why::shortcut_stand_in, {});
    else
        return;

    // Relative names in the arguments start from the working folder when it is on the stick,
    // else from the folder the shortcut lies in (the root).
    std::vector<VolumePath> bases;
    if (!link.working_dir.empty()) bases = stick_folders(link.working_dir, removable);
    bases.push_back({});
    for (const std::string& target : targets)
        payloads(rules_command_files(target, link.arguments), bases, removable, name);
}

void Planner::judge_root() {
    const std::string autorun = text_fold("autorun.inf");
    for (size_t i = 0; i < root.size(); ++i) {
        const RootEntry& item = root[i];
        const VolumeEntry& entry = item.entry;
        if (entry.is_dir || entry.is_link) continue;
        const std::string fold = text_fold(entry.name);
        if (fold == batch_fold) continue;
        const VolumePath path{entry.name};
        if (fold == autorun) {
            judge_autorun(item);
        } else if (name_extension(entry.name) == ".lnk") {
            judge_shortcut(item);
        } else if (name_is_script(entry.name)) {
            quarantine(path, Why::script, {});
        } else if (name_is_program(entry.name) && in_root(name_stem(entry.name)) &&
                   text_fold(name_stem(entry.name)) != fold) {
            quarantine(path, Why::program_stand_in, {});
        }
    }
}

void Planner::name_quarantine_targets() {
    std::set<std::string> taken;
    if (const VolumeEntry* folder = find({}, QUARANTINE_FOLDER)) {
        if (!folder->is_dir || folder->is_link) {
            plan.in_place = true;
            return;
        }
        for (const VolumeEntry& entry : *listing({folder->name}))
            taken.insert(text_fold(entry.name));
    }
    for (Step& step : plan.steps) {
        if (step.kind != Step::Kind::quarantine) continue;
        for (int n = 1;; ++n) {
            const std::string name = plan_quarantine_name(step.from.back(), n);
            if (taken.insert(text_fold(name)).second) {
                step.to = {std::string(QUARANTINE_FOLDER), name};
                break;
            }
        }
    }
}

void Planner::rehide_windows_folders() {
    for (std::string_view windows : WINDOWS_FOLDERS) {
        auto found = root_by_fold.find(text_fold(windows));
        if (found == root_by_fold.end()) continue;
        const VolumeEntry& entry = root[found->second].entry;
        if (!entry.is_dir || entry.is_link) continue;
        Step step;
        step.kind = Step::Kind::rehide;
        step.from = {entry.name};
        plan.steps.push_back(step);
    }
}

// The byte length of the longest prefix of `text` within `max` bytes that ends on a character.
size_t cut_at_character(std::string_view text, size_t max) {
    if (text.size() <= max) return text.size();
    size_t cut = max;
    while (cut > 0 && (uint8_t(text[cut]) & 0xC0) == 0x80) --cut;
    return cut;
}

} // namespace

std::string plan_quarantine_name(std::string_view name, int n) {
    std::string suffix = n <= 1 ? std::string() : "." + std::to_string(n);
    suffix += QUARANTINE_SUFFIX;
    const size_t room = VOLUME_NAME_MAX_BYTES - suffix.size();
    return std::string(name.substr(0, cut_at_character(name, room))) + suffix;
}

Plan plan_make(StickAccess& stick, std::string_view batch_name) {
    Planner planner(stick, batch_name);
    planner.empty_hiding_folders();
    planner.judge_root();
    planner.name_quarantine_targets();
    planner.rehide_windows_folders();
    if (planner.plan.in_place) plan_in_place(planner.plan, stick);
    return std::move(planner.plan);
}

void plan_in_place(Plan& plan, StickAccess& stick) {
    plan.in_place = true;
    std::map<VolumePath, std::set<std::string>> taken;
    for (Step& step : plan.steps) {
        if (step.kind != Step::Kind::quarantine) continue;
        const VolumePath folder(step.from.begin(), step.from.end() - 1);
        auto names = taken.find(folder);
        if (names == taken.end()) {
            std::vector<VolumeEntry> entries;
            stick.list(folder, entries);
            std::set<std::string> folds;
            for (const VolumeEntry& entry : entries) folds.insert(text_fold(entry.name));
            // Entries coming back from the hiding folder are in the root by then.
            for (const Step& other : plan.steps)
                if (other.kind == Step::Kind::restore && folder.empty())
                    folds.insert(text_fold(other.to.back()));
            names = taken.emplace(folder, std::move(folds)).first;
        }
        for (int n = 1;; ++n) {
            const std::string name = plan_quarantine_name(step.from.back(), n);
            if (names->second.insert(text_fold(name)).second) {
                step.to = folder;
                step.to.push_back(name);
                break;
            }
        }
    }
}

std::string plan_reason(const Step& step) {
    switch (step.why) {
    case Why::hidden: return "it was hidden in the folder whose name shows as nothing";
    case Why::autorun: return "autorun.inf makes Windows start the virus when the drive is opened";
    case Why::script: return "script in the root of the drive, the usual body of a shortcut virus";
    case Why::program_stand_in:
        return "program with the name of a folder or file beside it, made to be clicked instead";
    case Why::shortcut_stand_in:
        return "shortcut with the name of a folder or file beside it, made to be clicked instead";
    case Why::shortcut_runner:
        return "shortcut that starts " + step.detail + ", which runs the code it is handed";
    case Why::shortcut_hidden:
        return "shortcut that starts a program hidden in the folder whose name shows as nothing";
    case Why::payload:
        return "run or loaded by \"" + name_shown(step.detail) + "\", which was quarantined";
    }
    return {};
}
