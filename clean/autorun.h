#pragma once
// Reads autorun.inf as Windows reads it: an INI file whose [autorun] section (and the
// per-processor [autorun.<arch>] sections) name what AutoPlay and the drive's context menu
// start. Worms pad the file with junk lines, comments and odd letter case to slip past naive
// readers; the rules here follow the profile-file functions (GetPrivateProfileString) instead.
#include <cstdint>
#include <span>
#include <string>
#include <vector>

struct AutorunEntry {
    std::string section; // lower-case ASCII, without brackets: "autorun", "autorun.amd64"
    std::string key;     // lower-case ASCII, inner spaces kept: "open", "shell\open\command"
    std::string value;   // as written, trimmed, one pair of enclosing quotes removed
};

struct Autorun {
    // Every key=value line of every autorun section, in file order; a key given twice appears
    // twice (Windows takes the first, the clean-up looks at all of them).
    std::vector<AutorunEntry> entries;
};

// A command-line value: open, shellexecute, and shell\<verb>\command of any verb.
bool autorun_key_runs_command(const std::string& key);
// The command lines the file asks Windows to run, in file order.
std::vector<std::string> autorun_commands(const Autorun& autorun);

enum class AutorunStatus {
    ok,
    too_large, // bigger than AUTORUN_MAX_BYTES: not read
};
constexpr size_t AUTORUN_MAX_BYTES = 1 << 20;

// Text: UTF-16LE or UTF-16BE with a byte-order mark, UTF-8 with or without one, else the ANSI
// code page (read as Windows-1252). Lines end at CR, LF or NUL.
AutorunStatus autorun_read(std::span<const uint8_t> bytes, Autorun& autorun);
