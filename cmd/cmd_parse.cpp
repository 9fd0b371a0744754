#include "cmd/cmd_parse.h"

#include "runtime/platform/path_rules.h"
#include "runtime/platform/posix/dos_attrib.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>

namespace {

char lower(char c) {
    return char(std::tolower(static_cast<unsigned char>(c)));
}

bool is_space(char c) {
    return c == ' ' || c == '\t';
}

bool is_alpha(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

std::string_view trim(std::string_view text) {
    while (!text.empty() && is_space(text.front())) text.remove_prefix(1);
    while (!text.empty() && (is_space(text.back()) || text.back() == '\r')) text.remove_suffix(1);
    return text;
}

// Takes one word (quotes kept) off the front of `text`.
std::string take_word(std::string_view& text) {
    while (!text.empty() && is_space(text.front())) text.remove_prefix(1);
    std::string word;
    bool quoted = false;
    while (!text.empty() && (quoted || !is_space(text.front()))) {
        if (text.front() == '"') quoted = !quoted;
        word.push_back(text.front());
        text.remove_prefix(1);
    }
    return word;
}

} // namespace

bool cmd_iequals(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (lower(a[i]) != lower(b[i])) return false;
    return true;
}

std::vector<std::string> cmd_split_words(std::string_view text) {
    std::vector<std::string> words;
    for (;;) {
        std::string word = take_word(text);
        if (word.empty()) return words;
        words.push_back(std::move(word));
    }
}

std::string cmd_unquote(std::string_view word) {
    std::string out;
    for (const char c : word)
        if (c != '"') out.push_back(c);
    return out;
}

CmdName cmd_split_name(std::string_view text) {
    // Words this interpreter runs itself; only they may touch what follows ("echo." "cd\").
    static constexpr std::string_view INTERNAL[] = {
        "echo", "rem",  "cd",  "chdir", "md",   "mkdir", "cls", "type",   "set",  "if",    "for",
        "goto", "call", "del", "erase", "copy", "move",  "ren", "rename", "exit", "pushd", "popd"};
    text = trim(text);
    CmdName result;
    size_t i = 0;
    bool quoted = false;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '"') quoted = !quoted;
        if (quoted) continue;
        if (is_space(c)) break;
        if (std::string_view(".(/;,=+\\").find(c) == std::string_view::npos || i == 0) continue;
        bool known = false;
        for (const std::string_view word : INTERNAL)
            known = known || cmd_iequals(word, text.substr(0, i));
        if (known) break;
    }
    result.name = std::string(text.substr(0, i));
    std::string_view rest = text.substr(i);
    if (!rest.empty() && is_space(rest.front())) rest.remove_prefix(1);
    result.rest = std::string(rest);
    return result;
}

namespace {

bool is_digit(char c) {
    return c >= '0' && c <= '9';
}

// "%NAME:~s,n%" and "%NAME:old=new%" on a set variable's value.
std::string edit_value(const std::string& value, std::string_view edit) {
    if (!edit.empty() && edit.front() == '~') {
        edit.remove_prefix(1);
        const long size = long(value.size());
        const size_t comma = edit.find(',');
        long start = std::atol(std::string(edit.substr(0, comma)).c_str());
        if (start < 0) start = std::max(0L, size + start);
        start = std::min(start, size);
        long count = size - start;
        if (comma != std::string_view::npos) {
            const long n = std::atol(std::string(edit.substr(comma + 1)).c_str());
            count = n < 0 ? std::max(0L, size - start + n) : std::min(n, size - start);
        }
        return value.substr(size_t(start), size_t(count));
    }
    const size_t eq = edit.find('=');
    if (eq == std::string_view::npos) return value;
    std::string_view old = edit.substr(0, eq);
    const std::string_view replacement = edit.substr(eq + 1);
    const bool up_to = !old.empty() && old.front() == '*';
    if (up_to) old.remove_prefix(1);
    if (old.empty()) return value;
    std::string out;
    size_t i = 0;
    while (i < value.size()) {
        if (i + old.size() <= value.size() &&
            cmd_iequals(std::string_view(value).substr(i, old.size()), old)) {
            if (up_to) return std::string(replacement) + value.substr(i + old.size());
            out += replacement;
            i += old.size();
            continue;
        }
        if (up_to) {
            ++i;
            continue;
        }
        out.push_back(value[i++]);
    }
    return up_to ? value : out;
}

} // namespace

std::string cmd_expand(std::string_view line, const std::vector<std::string>& args,
                       const CmdVariables& variable, bool* fatal) {
    std::string out;
    for (size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (c != '%') {
            out.push_back(c);
            continue;
        }
        if (i + 1 >= line.size()) break; // a lone "%" at the end is dropped
        const char next = line[i + 1];
        if (next == '%') {
            out.push_back('%');
            ++i;
            continue;
        }
        if (is_digit(next)) {
            const size_t n = size_t(next - '0');
            if (n < args.size()) out += args[n];
            ++i;
            continue;
        }
        if (next == '*') {
            for (size_t n = 1; n < args.size(); ++n) {
                if (n > 1) out.push_back(' ');
                out += args[n];
            }
            ++i;
            continue;
        }
        if (next == '~') {
            size_t j = i + 2;
            while (j < line.size() &&
                   std::string_view("fdpnxsatzFDPNXSATZ").find(line[j]) != std::string_view::npos)
                ++j;
            if (j < line.size() && is_digit(line[j])) {
                const size_t n = size_t(line[j] - '0');
                out += cmd_path_modifiers(line.substr(i + 2, j - (i + 2)),
                                          n < args.size() ? args[n] : std::string());
                i = j;
                continue;
            }
            // cmd stops the whole batch file here ("The following usage of the path operator
            // in batch-parameter substitution is invalid").
            if (fatal != nullptr) *fatal = true;
            return out;
        }
        const size_t close = line.find('%', i + 1);
        if (close == std::string_view::npos) continue; // the "%" alone is dropped
        const std::string name(line.substr(i + 1, close - i - 1));
        const size_t colon = name.find(':');
        if (colon == std::string::npos) {
            if (variable)
                if (const std::optional<std::string> value = variable(name)) out += *value;
            i = close;
            continue;
        }
        const std::optional<std::string> value =
            variable ? variable(name.substr(0, colon)) : std::nullopt;
        if (!value) {
            // Unset: "%NAME:" goes and the scan resumes after the colon.
            i += colon + 1;
            continue;
        }
        out += edit_value(*value, std::string_view(name).substr(colon + 1));
        i = close;
    }
    return out;
}

std::string cmd_path_modifiers(std::string_view modifiers, std::string_view raw) {
    const std::string value = cmd_unquote(raw);
    bool d = false, p = false, n = false, x = false;
    for (const char m : modifiers) {
        switch (lower(m)) {
        case 'd': d = true; break;
        case 'p': p = true; break;
        case 'n': n = true; break;
        case 'x': x = true; break;
        case 'f': d = p = n = x = true; break;
        default: break; // a, t, z, s have no meaning here
        }
    }
    if (!d && !p && !n && !x) return value;
    std::string_view v(value);
    std::string_view drive, folder, name, ext;
    if (v.size() >= 2 && is_alpha(v[0]) && v[1] == ':') {
        drive = v.substr(0, 2);
        v.remove_prefix(2);
    }
    const size_t slash = v.find_last_of("\\/");
    if (slash != std::string_view::npos) {
        folder = v.substr(0, slash + 1);
        v.remove_prefix(slash + 1);
    }
    const size_t dot = v.rfind('.');
    if (dot != std::string_view::npos) {
        name = v.substr(0, dot);
        ext = v.substr(dot);
    } else {
        name = v;
    }
    std::string out;
    if (d) out += drive;
    if (p) out += folder;
    if (n) out += name;
    if (x) out += ext;
    return out;
}

std::string cmd_substitute_for(std::string_view text, char variable, std::string_view value,
                               std::string_view full) {
    if (full.empty()) full = value;
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%' || i + 1 >= text.size()) {
            out.push_back(text[i]);
            continue;
        }
        if (text[i + 1] == variable) {
            out += value;
            ++i;
            continue;
        }
        if (text[i + 1] == '~') {
            // The modifiers are letters; the last letter may be the variable itself ("%~nf").
            size_t j = i + 2;
            while (j < text.size() && is_alpha(text[j])) ++j;
            for (size_t end = j; end > i + 2; --end) {
                if (text[end - 1] != variable) continue;
                const std::string_view mods = text.substr(i + 2, end - 1 - (i + 2));
                if (mods.find_first_not_of("fdpnxsatzFDPNXSATZ") != std::string_view::npos)
                    continue;
                const bool whole = mods.find_first_of("dpfDPF") != std::string_view::npos;
                out += cmd_path_modifiers(mods, whole ? full : value);
                i = end - 1;
                goto next;
            }
        }
        out.push_back(text[i]);
    next:;
    }
    return out;
}

CmdAttribArgs cmd_parse_attrib(const std::vector<std::string>& words) {
    CmdAttribArgs result;
    for (const std::string& word : words) {
        if (word.size() == 2 && (word[0] == '+' || word[0] == '-')) {
            uint32_t bit = 0;
            switch (lower(word[1])) {
            case 'r': bit = DOS_ATTRIB_READONLY; break;
            case 'h': bit = DOS_ATTRIB_HIDDEN; break;
            case 's': bit = DOS_ATTRIB_SYSTEM; break;
            case 'a': bit = DOS_ATTRIB_ARCHIVE; break;
            default: result.error = "Invalid switch - " + word; return result;
            }
            (word[0] == '+' ? result.set : result.clear) |= bit;
            continue;
        }
        if (word.size() >= 2 && word[0] == '/') {
            if (cmd_iequals(word, "/s"))
                result.recurse = true;
            else if (cmd_iequals(word, "/d"))
                result.directories = true;
            else {
                result.error = "Invalid switch - " + word;
                return result;
            }
            continue;
        }
        const std::string path = cmd_unquote(word);
        if (path.empty()) continue;
        result.paths.push_back(path);
    }
    if ((result.set & result.clear) != 0) {
        result.error = "The same attribute cannot be set and cleared at once";
        return result;
    }
    return result;
}

bool cmd_has_wildcard(std::string_view text) {
    return text.find_first_of("*?") != std::string_view::npos;
}

bool cmd_wildcard_match(std::string_view pattern, std::string_view name) {
    if (pattern.size() >= 2 && pattern.substr(pattern.size() - 2) == ".*" &&
        name.find('.') == std::string_view::npos &&
        cmd_wildcard_match(pattern.substr(0, pattern.size() - 2), name))
        return true;
    return platform_wildcard_match(pattern, name,
                                   [](char a, char b) { return lower(a) == lower(b); });
}
