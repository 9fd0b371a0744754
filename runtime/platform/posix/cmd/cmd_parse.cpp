#include "runtime/platform/posix/cmd/cmd_parse.h"

#include "runtime/platform/posix/dos_attrib.h"

#include <cctype>

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

// Finishes a segment: pulls ">" or ">>" and its target out of the text.
void finish_segment(std::string_view raw, CmdJoin join, std::vector<CmdSegment>& out) {
    CmdSegment segment;
    segment.join = join;
    bool quoted = false;
    for (size_t i = 0; i < raw.size(); ++i) {
        const char c = raw[i];
        if (c == '"') quoted = !quoted;
        if (c != '>' || quoted) {
            segment.text.push_back(c);
            continue;
        }
        // "1>" names standard output explicitly; drop the digit so it is not an argument.
        if (!segment.text.empty() && segment.text.back() == '1' &&
            (segment.text.size() == 1 || is_space(segment.text[segment.text.size() - 2])))
            segment.text.pop_back();
        segment.append = i + 1 < raw.size() && raw[i + 1] == '>';
        std::string_view after = raw.substr(i + (segment.append ? 2 : 1));
        segment.redirect = cmd_unquote(take_word(after));
        // Whatever follows the target still belongs to the command ("echo a >f b" echoes "a b").
        segment.text.append(after);
        break;
    }
    const std::string_view text = trim(segment.text);
    if (text.empty()) return;
    segment.text = std::string(text);
    out.push_back(std::move(segment));
}

} // namespace

bool cmd_iequals(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (lower(a[i]) != lower(b[i])) return false;
    return true;
}

std::vector<CmdSegment> cmd_split_segments(std::string_view line) {
    line = trim(line);
    if (!line.empty() && line.front() == '@') line.remove_prefix(1);
    std::vector<CmdSegment> out;
    CmdJoin join = CmdJoin::always;
    size_t start = 0;
    bool quoted = false;
    for (size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (c == '"') quoted = !quoted;
        if (quoted || (c != '&' && c != '|')) continue;
        finish_segment(line.substr(start, i - start), join, out);
        const bool doubled = i + 1 < line.size() && line[i + 1] == c;
        // A single "|" would be a pipe, which this interpreter does not offer; it is treated as
        // "&" rather than dropping the command after it.
        join = c == '&' ? (doubled ? CmdJoin::on_success : CmdJoin::always)
                        : (doubled ? CmdJoin::on_failure : CmdJoin::always);
        if (doubled) ++i;
        start = i + 1;
    }
    finish_segment(line.substr(start), join, out);
    return out;
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

std::string cmd_expand(std::string_view line, const std::vector<std::string>& args,
                       const CmdVariables& variable) {
    std::string out;
    for (size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (c != '%') {
            out.push_back(c);
            continue;
        }
        if (i + 1 >= line.size()) break; // a lone "%" at the end disappears
        const char next = line[i + 1];
        if (next == '%') {
            out.push_back('%');
            ++i;
            continue;
        }
        if (next >= '0' && next <= '9') {
            const size_t n = size_t(next - '0');
            if (n < args.size()) out += args[n];
            ++i;
            continue;
        }
        if (next == '~') {
            size_t j = i + 2;
            while (j < line.size() && is_alpha(line[j])) ++j;
            // The letters end with the argument digit: "%~dp0" is modifiers "dp" of %0.
            const std::string_view mods = line.substr(i + 2, j - (i + 2));
            // Only the interpreter's modifier letters; anything else is ordinary text.
            const bool known = mods.find_first_not_of("dpnxfastzDPNXFASTZ") == mods.npos;
            if (known && j < line.size() && line[j] >= '0' && line[j] <= '9') {
                const size_t n = size_t(line[j] - '0');
                out += cmd_path_modifiers(mods, n < args.size() ? args[n] : std::string());
                i = j;
                continue;
            }
            out.push_back(c);
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
        const size_t close = line.find('%', i + 1);
        if (close == std::string_view::npos) {
            // No closing "%": the rest of the line cannot name a variable and is dropped, as the
            // interpreter drops it.
            break;
        }
        const std::string name(line.substr(i + 1, close - i - 1));
        if (!name.empty() && name.find(' ') == std::string::npos && variable) {
            if (const std::optional<std::string> value = variable(name)) out += *value;
        } else if (!name.empty()) {
            // "50% of 100%" style text: keep it as written.
            out += std::string(line.substr(i, close - i + 1));
        }
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

std::string cmd_substitute_for(std::string_view text, char variable, std::string_view value) {
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
                out += cmd_path_modifiers(text.substr(i + 2, end - 1 - (i + 2)), value);
                i = end - 1;
                goto next;
            }
        }
        out.push_back(text[i]);
    next:;
    }
    return out;
}

std::optional<CmdIf> cmd_parse_if(std::string_view rest) {
    CmdIf result;
    std::string word = take_word(rest);
    if (cmd_iequals(word, "/i")) {
        result.ignore_case = true;
        word = take_word(rest);
    }
    if (cmd_iequals(word, "not")) {
        result.negate = true;
        word = take_word(rest);
    }
    if (word.empty()) return std::nullopt;
    if (cmd_iequals(word, "exist") || cmd_iequals(word, "errorlevel")) {
        result.kind = cmd_iequals(word, "exist") ? CmdIf::exist : CmdIf::errorlevel;
        const std::string operand = take_word(rest);
        if (operand.empty()) return std::nullopt;
        result.left = result.kind == CmdIf::exist ? cmd_unquote(operand) : operand;
        if (result.kind == CmdIf::errorlevel) {
            for (const char c : operand)
                if (c < '0' || c > '9') return std::nullopt;
            if (operand.size() > 9) return std::nullopt;
        }
    } else {
        // "A==B": the two strings may stand apart from the "==" or touch it.
        std::string joined = word;
        size_t eq = joined.find("==");
        while (eq == std::string::npos) {
            std::string more = take_word(rest);
            if (more.empty()) return std::nullopt;
            joined += more;
            eq = joined.find("==");
        }
        result.kind = CmdIf::compare;
        result.left = joined.substr(0, eq);
        result.right = joined.substr(eq + 2);
        if (result.right.empty()) result.right = take_word(rest);
        if (result.left.empty() || result.right.empty()) return std::nullopt;
    }
    const std::string_view command = trim(rest);
    if (command.empty()) return std::nullopt;
    result.command = std::string(command);
    return result;
}

std::optional<CmdFor> cmd_parse_for(std::string_view rest) {
    CmdFor result;
    const std::string variable = take_word(rest);
    if (variable.size() != 2 || variable[0] != '%' || !is_alpha(variable[1])) return std::nullopt;
    result.variable = variable[1];
    if (!cmd_iequals(take_word(rest), "in")) return std::nullopt;
    rest = trim(rest);
    if (rest.empty() || rest.front() != '(') return std::nullopt;
    rest.remove_prefix(1);
    size_t close = std::string_view::npos;
    bool quoted = false;
    for (size_t i = 0; i < rest.size(); ++i) {
        if (rest[i] == '"') quoted = !quoted;
        if (!quoted && rest[i] == ')') {
            close = i;
            break;
        }
    }
    if (close == std::string_view::npos) return std::nullopt;
    result.set = cmd_split_words(rest.substr(0, close));
    rest.remove_prefix(close + 1);
    if (!cmd_iequals(take_word(rest), "do")) return std::nullopt;
    const std::string_view command = trim(rest);
    if (command.empty()) return std::nullopt;
    result.command = std::string(command);
    return result;
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
    // Greedy match with one back-tracking point: linear in practice, quadratic at worst.
    size_t p = 0, n = 0, star = std::string_view::npos, resume = 0;
    while (n < name.size()) {
        // The star is tested first: a name may itself hold a "*" that must not pair with it.
        if (p < pattern.size() && pattern[p] == '*') {
            star = p++;
            resume = n;
        } else if (p < pattern.size() &&
                   (pattern[p] == '?' || lower(pattern[p]) == lower(name[n]))) {
            ++p;
            ++n;
        } else if (star != std::string_view::npos) {
            p = star + 1;
            n = ++resume;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*') ++p;
    return p == pattern.size();
}
