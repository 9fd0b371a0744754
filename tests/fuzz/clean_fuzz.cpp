// libFuzzer entry over whole sticks for the clean-up's plan: the bytes become a stick in memory
// (names from the characters viruses and people use, hiding folders, links, shortcuts whose
// targets and arguments come from the same pieces, autorun.inf files, raw garbage), the plan is
// made, and what must hold for every stick is checked: nothing moves twice, no two entries go to
// one name, nothing moves out of the quarantine or onto the batch, no folder or link goes to the
// quarantine, and every target name is one a file system takes. The rest of the input goes
// through the manifest's reader, whose paths must name entries inside the drive.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <set>
#include <string>

#include "clean/lnk_writer.h"
#include "clean/manifest.h"
#include "clean/memory_stick.h"
#include "clean/names.h"
#include "clean/plan.h"
#include "clean/text.h"
#include "runtime/platform/utf16.h"

namespace {

const char* const PIECES[] = {
    "a",
    "B",
    " ",
    "%",
    "&",
    "^",
    ".",
    "\xc2\xa0",
    "\xe3\x85\xa4",
    "\xe2\x80\x8b",
    "Photos",
    "photos",
    "x",
    "_",
    "..",
    "\\",
    "/",
    "*",
    "UNVEILO-QUARANTINE",
    "temp",
    "autorun",
    "\xed\xa0\x80",
    "\xff",
    "~$W1",
};
const char* const ENDINGS[] = {"",     ".vbs", ".js",  ".lnk", ".exe",  ".txt",        ".inf",
                               ".bat", ".LNK", ".dll", ".usb", ".vbss", ".quarantined"};
const char* const PROGRAMS[] = {"C:\\Windows\\System32\\cmd.exe",
                                "%windir%\\system32\\rundll32.exe",
                                "wscript.exe",
                                "E:\\",
                                "F:\\",
                                ".\\",
                                "\\\\server\\share\\",
                                "mshta",
                                "C:\\Windows\\explorer.exe",
                                ""};
const char* const COMMANDS[] = {"/c start ",     "/RcMD<",  "/c ren ", " & ", "&start explorer ",
                                "//e:vbscript ", ",Export", "\"",      " ",   "/c call "};

[[noreturn]] void fail(const char* rule) {
    std::fprintf(stderr, "plan rule broken: %s\n", rule);
    std::abort();
}

struct Input {
    const uint8_t* data;
    size_t size;
    size_t at = 0;
    uint8_t byte() { return at < size ? data[at++] : 0; }
    bool more() const { return at < size; }
    template <size_t N> const char* pick(const char* const (&list)[N]) { return list[byte() % N]; }
};

std::string name_from(Input& in) {
    std::string name;
    const int pieces = 1 + in.byte() % 3;
    for (int i = 0; i < pieces; ++i) name += in.pick(PIECES);
    name += in.pick(ENDINGS);
    return name;
}

std::string shortcut_from(Input& in) {
    lnk_writer::Layout layout;
    std::string target = in.pick(PROGRAMS);
    target += name_from(in);
    std::string arguments;
    for (int i = in.byte() % 4; i > 0; --i) arguments += in.pick(COMMANDS) + name_from(in);
    if (target[0] == '%')
        layout.environment = utf8_to_utf16(target);
    else
        layout.link_info = lnk_writer::local_target(target, in.byte() % 2 ? 2 : 3);
    if (!arguments.empty()) layout.arguments = utf8_to_utf16(arguments);
    if (in.byte() % 4 == 0) layout.working_dir = utf8_to_utf16(in.pick(PROGRAMS));
    const lnk_writer::Bytes bytes = lnk_writer::write(layout).bytes;
    return std::string(bytes.begin(), bytes.end());
}

// A stick holds no name that is empty, "." or "..".
bool addable(const std::string& path) {
    size_t at = 0;
    for (;;) {
        const size_t end = std::min(path.find('/', at), path.size());
        const std::string name = path.substr(at, end - at);
        if (name.empty() || name == "." || name == "..") return false;
        if (end == path.size()) return true;
        at = end + 1;
    }
}

// A path made of names that a listing could hold: no empty names, no separators.
bool plausible(const VolumePath& path) {
    for (const std::string& name : path)
        if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos)
            return false;
    return true;
}

void check_plan(MemoryStick& stick, const std::string& batch) {
    const Plan plan = plan_make(stick, batch);
    std::map<std::string, VolumePath> restored; // name in the root -> where it came from
    for (const Step& step : plan.steps)
        if (step.kind == Step::Kind::restore && step.to.size() == 1)
            restored[step.to[0]] = step.from;
    std::set<VolumePath> from_seen;
    std::set<std::string> to_seen;
    const std::string quarantine = text_fold(QUARANTINE_FOLDER);
    for (const Step& step : plan.steps) {
        if (!plausible(step.from) || step.from.empty()) fail("a step starts from a real entry");
        if (step.kind == Step::Kind::rehide) continue;
        if (!plausible(step.to) || step.to.empty()) fail("a step ends at a real name");
        if (!from_seen.insert(step.from).second) fail("an entry moves once");
        std::string key;
        for (const std::string& name : step.to) key += text_fold(name) + "/";
        if (!to_seen.insert(key).second) fail("no two entries go to one name");
        if (step.to.back().size() > VOLUME_NAME_MAX_BYTES) fail("a new name fits a file system");
        if (text_fold(step.from[0]) == quarantine) fail("nothing leaves the quarantine");
        if (step.from.size() == 1 && text_fold(step.from[0]) == text_fold(batch))
            fail("the batch stays");
        if (step.kind == Step::Kind::restore) {
            if (step.from.size() != 2 || !name_is_blank(step.from[0]) || step.to.size() != 1)
                fail("a restore takes an entry of a hiding folder to the root");
            continue;
        }
        if (step.to.back().size() < QUARANTINE_SUFFIX.size() ||
            step.to.back().compare(step.to.back().size() - QUARANTINE_SUFFIX.size(),
                                   std::string::npos, QUARANTINE_SUFFIX) != 0)
            fail("a quarantined name ends in .quarantined");
        if (!plan.in_place && (step.to.size() != 2 || text_fold(step.to[0]) != quarantine))
            fail("the quarantine holds what goes there");
        // What goes to the quarantine is a file, never a folder or a link, wherever it was.
        VolumePath original = step.from;
        if (auto came = restored.find(original[0]); came != restored.end()) {
            original.erase(original.begin());
            original.insert(original.begin(), came->second.begin(), came->second.end());
        }
        VolumePath folder(original.begin(), original.end() - 1);
        std::vector<VolumeEntry> entries;
        bool found = false;
        if (stick.list(folder, entries) == VolumeStatus::ok) {
            for (const VolumeEntry& entry : entries) {
                if (entry.name != original.back()) continue;
                found = true;
                if (entry.is_dir || entry.is_link) fail("only files go to the quarantine");
            }
        }
        if (!found) fail("a quarantined entry exists");
    }
}

void check_manifest(std::string_view text) {
    for (const ManifestMove& move : manifest_parse(text)) {
        if (!plausible(move.from) || !plausible(move.to) || move.from.empty() || move.to.empty())
            fail("the manifest names entries inside the drive");
        VolumePath back;
        if (!manifest_path_parse(manifest_path_text(move.from), back) || back != move.from)
            fail("a manifest path survives the file");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Input in{data, size};
    MemoryStick stick(in.byte() % 2 ? 'E' : 0);
    const std::string batch = in.byte() % 2 ? "temp.bat" : name_from(in);
    const int count = in.byte() % 24;
    for (int i = 0; i < count && in.more(); ++i) {
        const uint8_t kind = in.byte();
        std::string path;
        for (int depth = kind % 3; depth > 0; --depth) path += name_from(in) + "/";
        path += name_from(in);
        if (!addable(path)) continue;
        switch (kind % 8) {
        case 0: stick.add(path + "/"); break;
        case 1: stick.add(path, {}, true); break;
        case 2: stick.add(path + ".lnk", shortcut_from(in)); break;
        case 3: {
            std::string inf = "[autorun]\r\nopen=";
            inf += in.pick(PROGRAMS) + name_from(in) +
                   "\r\nshell\\x\\command=" + in.pick(COMMANDS) + name_from(in) + "\r\n";
            stick.add(in.byte() % 2 ? "autorun.inf" : "AUTORUN.INF", inf);
            break;
        }
        case 4: {
            // Raw bytes as a shortcut or an autorun.inf: whatever the readers make of them.
            const std::string name = in.byte() % 2 ? name_from(in) + ".lnk" : "autorun.inf";
            const size_t length = std::min<size_t>(in.byte() * 4u, size - in.at);
            if (addable(name))
                stick.add(name, std::string(reinterpret_cast<const char*>(data + in.at), length));
            in.at += length;
            break;
        }
        default: stick.add(path, "contents"); break;
        }
    }
    check_plan(stick, batch);
    check_manifest(std::string_view(reinterpret_cast<const char*>(data + in.at), size - in.at));
    return 0;
}
