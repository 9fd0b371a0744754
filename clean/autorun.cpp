// Reads autorun.inf with the rules of the profile functions (GetPrivateProfileString and its
// kind), which are what Windows reads the file with:
//   - the file is a list of lines; "[name]" starts a section, "key=value" is an entry, a line
//     whose first non-blank character is ';' is a comment, and any other line is ignored;
//   - section and key names are compared without regard to case; blanks around names and values
//     do not count;
//   - a value enclosed in double or single quotation marks is returned without them.
// The keys that start something are those Microsoft documents for autorun.inf: open,
// shellexecute and shell\<verb>\command; icon, label, action, shell and UseAutoPlay only describe.
#include "clean/autorun.h"

#include <string_view>

#include "clean/text.h"

namespace {

bool is_blank(char c) {
    return c == ' ' || c == '\t' || c == '\v' || c == '\f';
}

std::string_view trim(std::string_view text) {
    while (!text.empty() && is_blank(text.front())) text.remove_prefix(1);
    while (!text.empty() && is_blank(text.back())) text.remove_suffix(1);
    return text;
}

std::string_view without_enclosing_quotes(std::string_view value) {
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front())
        return value.substr(1, value.size() - 2);
    return value;
}

bool valid_utf8(std::span<const uint8_t> bytes) {
    size_t i = 0;
    while (i < bytes.size()) {
        const uint8_t lead = bytes[i];
        size_t length = 1;
        uint32_t c = lead;
        if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2, c = lead & 0x1F;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3, c = lead & 0x0F;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4, c = lead & 0x07;
        } else if (lead >= 0x80) {
            return false;
        }
        if (bytes.size() - i < length) return false;
        for (size_t k = 1; k < length; ++k) {
            if ((bytes[i + k] & 0xC0) != 0x80) return false;
            c = (c << 6) | (bytes[i + k] & 0x3F);
        }
        const uint32_t minimum = length == 2 ? 0x80 : length == 3 ? 0x800 : 0x10000;
        if (length > 1 && (c < minimum || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)))
            return false;
        i += length;
    }
    return true;
}

// The file's text in UTF-8, by its byte-order mark, else as UTF-8 where it is valid UTF-8, else
// as the ANSI code page.
std::string decode(std::span<const uint8_t> bytes) {
    if (bytes.size() >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE)
        return text_from_utf16le(bytes.subspan(2));
    if (bytes.size() >= 2 && bytes[0] == 0xFE && bytes[1] == 0xFF) {
        std::u16string units;
        for (size_t i = 2; i + 1 < bytes.size(); i += 2)
            units.push_back(char16_t(bytes[i] << 8 | bytes[i + 1]));
        return text_from_utf16(units);
    }
    if (bytes.size() >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF)
        bytes = bytes.subspan(3);
    if (valid_utf8(bytes)) return std::string(bytes.begin(), bytes.end());
    return text_from_cp1252(bytes);
}

bool is_autorun_section(const std::string& section) {
    return section == "autorun" || section.starts_with("autorun.");
}

} // namespace

bool autorun_key_runs_command(const std::string& key) {
    if (key == "open" || key == "shellexecute") return true;
    constexpr std::string_view prefix = "shell\\";
    constexpr std::string_view suffix = "\\command";
    return key.size() > prefix.size() + suffix.size() && key.starts_with(prefix) &&
           key.ends_with(suffix);
}

std::vector<std::string> autorun_commands(const Autorun& autorun) {
    std::vector<std::string> commands;
    for (const AutorunEntry& entry : autorun.entries)
        if (autorun_key_runs_command(entry.key) && !entry.value.empty())
            commands.push_back(entry.value);
    return commands;
}

AutorunStatus autorun_read(std::span<const uint8_t> bytes, Autorun& autorun) {
    if (bytes.size() > AUTORUN_MAX_BYTES) return AutorunStatus::too_large;
    const std::string text = decode(bytes);
    Autorun out;
    std::string section;
    bool in_autorun = false;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find_first_of(std::string_view("\r\n\0", 3), start);
        if (end == std::string::npos) end = text.size();
        const std::string_view line = trim(std::string_view(text).substr(start, end - start));
        start = end + 1;
        if (line.empty() || line.front() == ';') continue;
        if (line.front() == '[') {
            // The name runs to the closing bracket; what follows it on the line does not count.
            const size_t close = line.find(']');
            section =
                text_ascii_lower(trim(line.substr(1, close == line.npos ? close : close - 1)));
            in_autorun = is_autorun_section(section);
            continue;
        }
        const size_t equals = line.find('=');
        if (!in_autorun || equals == line.npos) continue;
        const std::string_view key = trim(line.substr(0, equals));
        if (key.empty()) continue;
        const std::string_view value = without_enclosing_quotes(trim(line.substr(equals + 1)));
        out.entries.push_back({section, text_ascii_lower(key), std::string(value)});
    }
    autorun = std::move(out);
    return AutorunStatus::ok;
}
