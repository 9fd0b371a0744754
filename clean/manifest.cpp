#include "clean/manifest.h"

#include <cstdio>
#include <cstdlib>
#include <map>

namespace {

constexpr char HEX[] = "0123456789ABCDEF";

// Length of the well-formed UTF-8 sequence at `i` (the generalised form's surrogates included),
// 0 when there is none.
size_t sequence_length(std::string_view s, size_t i) {
    const uint8_t b = uint8_t(s[i]);
    const size_t length = b >= 0xC2 && b <= 0xDF   ? 2
                          : b >= 0xE0 && b <= 0xEF ? 3
                          : b >= 0xF0 && b <= 0xF4 ? 4
                                                   : 0;
    if (length == 0 || i + length > s.size()) return 0;
    for (size_t k = 1; k < length; ++k)
        if ((uint8_t(s[i + k]) & 0xC0) != 0x80) return 0;
    return length;
}

void escape_name(std::string_view name, std::string& out) {
    for (size_t i = 0; i < name.size();) {
        const uint8_t b = uint8_t(name[i]);
        if (b >= 0x80) {
            if (const size_t length = sequence_length(name, i)) {
                out.append(name.substr(i, length));
                i += length;
                continue;
            }
        } else if (b > 0x20 && b != 0x7F && b != '%' && b != '/' && b != '\\') {
            out += char(b);
            ++i;
            continue;
        }
        out += '%';
        out += HEX[b >> 4];
        out += HEX[b & 0xF];
        ++i;
    }
}

int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

std::vector<std::string_view> fields(std::string_view line) {
    std::vector<std::string_view> out;
    size_t at = 0;
    for (;;) {
        const size_t tab = line.find('\t', at);
        out.push_back(line.substr(at, tab == std::string_view::npos ? line.size() - at : tab - at));
        if (tab == std::string_view::npos) return out;
        at = tab + 1;
    }
}

bool parse_id(std::string_view text, long& id) {
    if (text.empty() || text.size() > 12) return false;
    long value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + (c - '0');
    }
    id = value;
    return value > 0;
}

} // namespace

std::string manifest_header() {
    return "# Unveilo: the moves of its clean-up on this drive, for \"unveilo-clean --undo\".\n"
           "# Keep this file in the quarantine folder; README-UNVEILO.txt says the same for "
           "people.\n";
}

std::string manifest_run_line(std::string_view when, std::string_view drive) {
    std::string line = "run\t";
    escape_name(when, line);
    line += '\t';
    escape_name(drive, line);
    return line + "\n";
}

std::string manifest_move_line(long id, const VolumePath& from, const VolumePath& to) {
    return "move\t" + std::to_string(id) + "\t" + manifest_path_text(from) + "\t" +
           manifest_path_text(to) + "\n";
}

std::string manifest_mark_line(std::string_view mark, long id) {
    return std::string(mark) + "\t" + std::to_string(id) + "\n";
}

std::string manifest_path_text(const VolumePath& path) {
    std::string text;
    for (size_t i = 0; i < path.size(); ++i) {
        if (i > 0) text += '/';
        escape_name(path[i], text);
    }
    return text;
}

bool manifest_path_parse(std::string_view text, VolumePath& path) {
    VolumePath parsed;
    std::string name;
    for (size_t i = 0; i <= text.size(); ++i) {
        if (i == text.size() || text[i] == '/') {
            if (name.empty() || name == "." || name == "..") return false;
            parsed.push_back(std::move(name));
            name.clear();
            continue;
        }
        if (text[i] == '%') {
            if (i + 2 >= text.size()) return false;
            const int high = hex_value(text[i + 1]), low = hex_value(text[i + 2]);
            if (high < 0 || low < 0) return false;
            const char c = char(high << 4 | low);
            if (c == '\0' || c == '/') return false;
            name += c;
            i += 2;
            continue;
        }
        name += text[i];
    }
    path = std::move(parsed);
    return true;
}

std::vector<ManifestMove> manifest_parse(std::string_view text) {
    std::vector<ManifestMove> moves;
    std::map<long, size_t> by_id;
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find('\n', at);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text.substr(at, end - at);
        at = end + 1;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        const std::vector<std::string_view> f = fields(line);
        long id = 0;
        if (f.size() < 2 || !parse_id(f[1], id)) continue;
        if (f[0] == "move" && f.size() == 4) {
            ManifestMove move;
            move.id = id;
            if (!manifest_path_parse(f[2], move.from) || !manifest_path_parse(f[3], move.to))
                continue;
            if (by_id.count(id) != 0) continue; // an id is recorded once; a repeat is no record
            by_id.emplace(id, moves.size());
            moves.push_back(std::move(move));
            continue;
        }
        if (f.size() != 2) continue;
        auto found = by_id.find(id);
        if (found == by_id.end()) continue;
        if (f[0] == "failed") moves[found->second].failed = true;
        if (f[0] == "undone") moves[found->second].undone = true;
    }
    return moves;
}
