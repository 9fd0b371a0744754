// libFuzzer entry over whole sticks: the bytes become the root of a drive (files and folders
// with names from the characters Windows allows, at most one hiding folder with a blank name),
// datafile.dat runs there through unveilo-cmd, and the stick is judged against the clean-up's
// rules: the batch reaches its last line, no file is lost, changed or doubled, every leftover
// has left the root and every user file is where it belongs.
#include "cmd/cmd_parse.h"
#include "cmd/cmd_run.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

// Pieces of names: what cmd treats specially, what other code pages bring, and the plain.
const char* const PIECES[] = {
    "a",      "B",    "7",    " ",  "%",        "!",        "^",
    "&",      "(",    ")",    ";",  ",",        "=",        "'",
    "`",      "~",    "[",    "]",  "{",        "}",        "@",
    "#",      "+",    ".",    "-",  "\xc2\xa0", "\xd0\xb6", "\xe7\x85\xa7",
    "%PATH%", "%~d0", "call", "if", "exist",    "x",        "Photos",
    "photos"};
const char* const ENDINGS[] = {".vbs", ".js",  ".json", ".lnk", ".exe", ".txt", ".inf",
                               "",     ".bat", ".JS",   ".scr", ".WSF", ".cmd"};
const char* const SCRIPTS[] = {".vbs", ".vbe", ".js", ".jse", ".wsf"};
const char* const PROGRAMS[] = {".exe", ".scr", ".pif", ".com", ".cmd", ".bat", ".lnk"};

struct Entry {
    std::string name;
    bool folder = false;
    bool hidden_inside = false; // in the hiding folder
    std::string content;        // unique per file
};

std::string upper(std::string text) {
    for (char& c : text)
        if (c >= 'a' && c <= 'z') c = char(c - 32);
    return text;
}

bool one_of(const std::string& ext, const char* const* list, size_t n) {
    for (size_t i = 0; i < n; ++i)
        if (cmd_iequals(ext, list[i])) return true;
    return false;
}

[[noreturn]] void fail(const char* rule, const std::vector<Entry>& entries,
                       const std::string& output) {
    std::fprintf(stderr, "stick rule broken: %s\n", rule);
    for (const Entry& e : entries)
        std::fprintf(stderr, "  %s%s[%s]\n", e.hidden_inside ? "(hidden) " : "",
                     e.folder ? "folder " : "file ", e.name.c_str());
    std::fprintf(stderr, "output:\n%s\n", output.c_str());
    std::abort();
}

std::string read_all(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const fs::path base =
        fs::temp_directory_path() / ("stick_fuzz." + std::to_string(getpid()));
    static const std::string batch = read_all(UNVEILO_SOURCE_DIR "/datafile.dat");
    const fs::path stick = base / "stick";
    const std::string hiding = (size > 0 && data[0] & 1) ? "\xc2\xa0" : "   ";

    // The listing: names unique without regard to case within their folder, as on FAT and NTFS;
    // none that ends in a space or a point, which Windows refuses.
    std::vector<Entry> entries;
    std::set<std::string> taken_root{"TEMP.BAT", "UNVEILO-QUARANTINE", upper(hiding)};
    std::set<std::string> taken_inside;
    bool any_hidden = false;
    size_t at = 1;
    while (at + 2 < size && entries.size() < 12) {
        const uint8_t kind = data[at++];
        const size_t pieces = 1 + data[at++] % 5;
        Entry entry;
        for (size_t i = 0; i < pieces && at < size; ++i)
            entry.name += PIECES[data[at++] % (sizeof PIECES / sizeof *PIECES)];
        entry.folder = (kind & 3) == 0;
        if (!entry.folder && at < size)
            entry.name += ENDINGS[data[at++] % (sizeof ENDINGS / sizeof *ENDINGS)];
        entry.hidden_inside = (kind & 4) != 0;
        const char last = entry.name.back();
        if (last == ' ' || last == '.' || entry.name.find_first_not_of(" ") == std::string::npos)
            continue;
        if (entry.name.size() >= 2 && entry.name.compare(entry.name.size() - 2, 2, "\xc2\xa0") == 0)
            continue; // blank-looking ending: kept out so that no second hiding folder appears
        if (!(entry.hidden_inside ? taken_inside : taken_root).insert(upper(entry.name)).second)
            continue;
        entry.content = "file " + std::to_string(entries.size());
        any_hidden = any_hidden || entry.hidden_inside;
        entries.push_back(entry);
    }

    fs::remove_all(base);
    fs::create_directories(stick);
    if (any_hidden) fs::create_directory(stick / hiding);
    for (const Entry& e : entries) {
        const fs::path path = (e.hidden_inside ? stick / hiding : stick) / e.name;
        if (e.folder)
            fs::create_directory(path);
        else
            std::ofstream(path, std::ios::binary) << e.content;
    }
    std::ofstream(stick / "temp.bat", std::ios::binary) << batch;

    // The model of the rules: the hiding folder's entries come back where the root has none of
    // their name, in the order cmd lists them; then each root file is a leftover or the user's.
    std::map<std::string, const Entry*> root; // by upper-case name
    for (const Entry& e : entries)
        if (!e.hidden_inside) root[upper(e.name)] = &e;
    // The hiding folder is a folder of the root too: a program named like it stands in for it.
    static const Entry hiding_folder{"", true, false, ""};
    if (any_hidden) root[upper(hiding)] = &hiding_folder;
    std::map<const Entry*, bool> back;
    for (bool folders : {false, true}) {
        std::vector<const Entry*> inside;
        for (const Entry& e : entries)
            if (e.hidden_inside && e.folder == folders) inside.push_back(&e);
        std::sort(inside.begin(), inside.end(),
                  [](const Entry* a, const Entry* b) { return upper(a->name) < upper(b->name); });
        for (const Entry* e : inside) {
            back[e] = root.emplace(upper(e->name), e).second;
        }
    }
    std::map<const Entry*, bool> leftover;
    for (const auto& [key, e] : root) {
        if (e->folder) continue;
        (void)key;
        const size_t dot = e->name.rfind('.');
        const std::string ext = dot == std::string::npos ? "" : e->name.substr(dot);
        const std::string stem = dot == std::string::npos ? e->name : e->name.substr(0, dot);
        // As Windows reads "E:\\<stem>\\*": a part that ends in one point loses it; "." and ".."
        // are the root itself, which is no folder beside the file.
        std::string part = stem;
        if (part.size() >= 2 && part.back() == '.' && part[part.size() - 2] != '.') part.pop_back();
        const auto folder = root.find(upper(part));
        const bool beside = !stem.empty() && stem != "." && stem != ".." && folder != root.end() &&
                            folder->second->folder;
        leftover[e] = cmd_iequals(e->name, "autorun.inf") ||
                      one_of(ext, SCRIPTS, sizeof SCRIPTS / sizeof *SCRIPTS) ||
                      (beside && one_of(ext, PROGRAMS, sizeof PROGRAMS / sizeof *PROGRAMS));
    }

    // The run, as the tool makes it: drive E: is the stick, the batch is E:\temp.bat.
    setenv("UNVEILO_DRIVE_E", stick.c_str(), 1);
    const fs::path out_path = base / "output.txt";
    std::fflush(nullptr);
    const int saved_out = dup(1), saved_err = dup(2);
    FILE* out = std::fopen(out_path.c_str(), "w");
    dup2(fileno(out), 1);
    dup2(fileno(out), 2);
    {
        CmdState state;
        cmd_run_batch(state, "E:\\temp.bat", {});
    }
    std::fflush(nullptr);
    dup2(saved_out, 1);
    dup2(saved_err, 2);
    close(saved_out);
    close(saved_err);
    std::fclose(out);
    const std::string output = read_all(out_path);

    const std::string closing = "Unveilo clean-up finished.\n";
    if (output.size() < closing.size() ||
        output.compare(output.size() - closing.size(), closing.size(), closing) != 0)
        fail("the batch reaches its last line", entries, output);
    // Nothing lost, changed or doubled: the files' contents are the same multiset as before.
    std::multiset<std::string> before, after;
    for (const Entry& e : entries)
        if (!e.folder) before.insert(e.content);
    for (const auto& item : fs::recursive_directory_iterator(stick)) {
        const std::string name = item.path().filename().string();
        if (!item.is_regular_file() || name == "temp.bat" || name == "README-UNVEILO.txt") continue;
        after.insert(read_all(item.path()));
    }
    if (before != after) fail("no file is lost, changed or doubled", entries, output);
    for (const Entry& e : entries) {
        const bool in_root = !e.hidden_inside || back[&e];
        const fs::path where = (in_root ? stick : stick / hiding) / e.name;
        if (in_root && !e.folder && leftover[&e]) {
            if (fs::exists(where)) fail("every leftover leaves the root", entries, output);
            continue;
        }
        if (e.folder ? !fs::is_directory(where) : read_all(where) != e.content)
            fail("every user entry is where it belongs", entries, output);
    }
    fs::remove_all(base);
    return 0;
}
