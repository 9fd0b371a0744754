// FINDSTR: searches files (or the standard input) line by line for literal texts or for its own
// small regular expressions: "." any byte but a line end, "*" repeats what stands before it,
// "^" and "$" anchor at the line's start and end, "[abc]" "[^a-z]" classes, "\x" the byte x,
// "\<" and "\>" a word's start and end. Lines end at LF; a CR before it is not part of the line.
// Bytes are bytes: a UTF-16 text is searched with "." between its letters, as on Windows.
#include "cmd/cmd_detail.h"

#include "cmd/cmd_parse.h"
#include "cmd/cmd_run.h"

#include <array>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <unistd.h>

namespace {

unsigned char fold(unsigned char c, bool ignore_case) {
    return ignore_case ? static_cast<unsigned char>(std::tolower(c)) : c;
}

bool is_word(unsigned char c) {
    return std::isalnum(c) != 0 || c == '_' || c >= 0x80;
}

struct Atom {
    enum Kind { bytes, line_start, line_end, word_start, word_end } kind = bytes;
    std::array<bool, 256> accepts{}; // for `bytes`
    bool repeated = false;           // followed by "*"
};

std::vector<Atom> compile(std::string_view pattern, bool regex, bool ignore_case) {
    std::vector<Atom> atoms;
    for (size_t i = 0; i < pattern.size(); ++i) {
        Atom atom;
        const unsigned char c = static_cast<unsigned char>(pattern[i]);
        auto literal = [&](unsigned char byte) {
            atom.accepts[fold(byte, ignore_case)] = true;
            atom.accepts[static_cast<unsigned char>(std::toupper(byte))] |= ignore_case;
        };
        if (!regex) {
            literal(c);
        } else if (c == '.') {
            atom.accepts.fill(true);
            atom.accepts['\n'] = false;
        } else if (c == '^' && i == 0) {
            atom.kind = Atom::line_start;
        } else if (c == '$' && i + 1 == pattern.size()) {
            atom.kind = Atom::line_end;
        } else if (c == '\\' && i + 1 < pattern.size()) {
            const char next = pattern[++i];
            if (next == '<' || next == '>')
                atom.kind = next == '<' ? Atom::word_start : Atom::word_end;
            else
                literal(static_cast<unsigned char>(next));
        } else if (c == '[') {
            size_t j = i + 1;
            const bool negate = j < pattern.size() && pattern[j] == '^';
            if (negate) ++j;
            std::array<bool, 256> set{};
            for (; j < pattern.size() && (pattern[j] != ']' || j == i + 1 + negate); ++j) {
                unsigned char from = static_cast<unsigned char>(pattern[j]);
                unsigned char to = from;
                if (j + 2 < pattern.size() && pattern[j + 1] == '-' && pattern[j + 2] != ']') {
                    to = static_cast<unsigned char>(pattern[j + 2]);
                    j += 2;
                }
                for (unsigned v = from; v <= to; ++v) {
                    set[v] = true;
                    if (ignore_case) {
                        set[static_cast<unsigned char>(std::tolower(int(v)))] = true;
                        set[static_cast<unsigned char>(std::toupper(int(v)))] = true;
                    }
                }
            }
            i = j < pattern.size() ? j : pattern.size();
            for (size_t v = 0; v < 256; ++v) atom.accepts[v] = set[v] != negate;
            if (negate) atom.accepts['\n'] = false;
        } else if (c == '*' && !atoms.empty() && atoms.back().kind == Atom::bytes &&
                   !atoms.back().repeated) {
            atoms.back().repeated = true;
            continue;
        } else {
            literal(c);
        }
        atoms.push_back(atom);
    }
    return atoms;
}

bool match_here(const std::vector<Atom>& atoms, size_t a, std::string_view line, size_t at) {
    for (; a < atoms.size(); ++a) {
        const Atom& atom = atoms[a];
        switch (atom.kind) {
        case Atom::line_start:
            if (at != 0) return false;
            continue;
        case Atom::line_end:
            if (at != line.size()) return false;
            continue;
        case Atom::word_start:
            if ((at > 0 && is_word(static_cast<unsigned char>(line[at - 1]))) ||
                at >= line.size() || !is_word(static_cast<unsigned char>(line[at])))
                return false;
            continue;
        case Atom::word_end:
            if (at == 0 || !is_word(static_cast<unsigned char>(line[at - 1])) ||
                (at < line.size() && is_word(static_cast<unsigned char>(line[at]))))
                return false;
            continue;
        case Atom::bytes: break;
        }
        if (atom.repeated) {
            size_t end = at;
            while (end < line.size() && atom.accepts[static_cast<unsigned char>(line[end])]) ++end;
            for (size_t n = end + 1; n-- > at;)
                if (match_here(atoms, a + 1, line, n)) return true;
            return false;
        }
        if (at >= line.size() || !atom.accepts[static_cast<unsigned char>(line[at])]) return false;
        ++at;
    }
    return true;
}

bool matches(const std::vector<Atom>& atoms, std::string_view line) {
    for (size_t start = 0; start <= line.size(); ++start)
        if (match_here(atoms, 0, line, start)) return true;
    return false;
}

} // namespace

int cmd_findstr(const std::string& rest) {
    bool ignore_case = false, names_only = false, literal = false, regex = false;
    std::vector<std::string> texts, files;
    bool plain_given = false, texts_given = false;
    for (const std::string& word : cmd_split_words(rest)) {
        if (word.size() >= 2 && word[0] == '/' && (word.size() <= 3 || word[2] == ':') &&
            word.find('/', 1) == std::string::npos) {
            const std::string option = cmd_upper(word);
            if (option == "/I")
                ignore_case = true;
            else if (option == "/M")
                names_only = true;
            else if (option == "/L")
                literal = true;
            else if (option == "/R")
                regex = true;
            else if (option.rfind("/C:", 0) == 0) {
                texts.push_back(cmd_unquote(word.substr(3)));
                texts_given = true;
            } else {
                std::fprintf(stderr, "FINDSTR: /%s ignored\n", word.c_str() + 1);
            }
            continue;
        }
        if (!texts_given && !plain_given) {
            // A plain search string holds several words, any of which may match; unlike the
            // /C: texts it is a regular expression unless /L says otherwise.
            plain_given = true;
            for (const std::string& part : cmd_split_words(cmd_unquote(word)))
                texts.push_back(part);
            if (!literal) regex = true;
            continue;
        }
        files.push_back(cmd_unquote(word));
    }
    if (texts.empty()) {
        std::fprintf(stderr, "FINDSTR: Bad command line\n");
        return 2;
    }
    std::vector<std::vector<Atom>> patterns;
    for (const std::string& text : texts)
        patterns.push_back(compile(text, regex && !literal, ignore_case));
    auto search = [&](const std::string& content, const std::string& shown) {
        bool found = false;
        size_t start = 0;
        while (start <= content.size()) {
            size_t end = content.find('\n', start);
            if (end == std::string::npos) end = content.size();
            std::string_view line(content.data() + start, end - start);
            if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
            bool hit = false;
            for (const auto& pattern : patterns) hit = hit || matches(pattern, line);
            if (hit) {
                found = true;
                if (names_only) break;
                if (files.size() > 1) std::printf("%s:", shown.c_str());
                std::fwrite(line.data(), 1, line.size(), stdout);
                std::printf("\n");
            }
            if (end == content.size()) break;
            start = end + 1;
        }
        if (found && names_only && !shown.empty()) std::printf("%s\n", shown.c_str());
        return found;
    };
    bool any = false, failed = false;
    if (files.empty()) {
        // Read through the handle, not a stream: a redirection may have replaced it since.
        std::string content;
        char buffer[4096];
        for (ssize_t got; (got = read(STDIN_FILENO, buffer, sizeof buffer)) != 0;) {
            if (got < 0 && errno == EINTR) continue;
            if (got < 0) break;
            content.append(buffer, size_t(got));
        }
        any = search(content, "");
    }
    for (const std::string& dos : files) {
        std::string host;
        std::ifstream in;
        if (cmd_dos_to_host(dos, host)) in.open(host, std::ios::binary);
        if (!in) {
            std::fprintf(stderr, "FINDSTR: Cannot open %s\n", dos.c_str());
            failed = true;
            continue;
        }
        const std::string content((std::istreambuf_iterator<char>(in)),
                                  std::istreambuf_iterator<char>());
        any = search(content, dos) || any;
    }
    return any ? 0 : failed ? 2 : 1;
}
