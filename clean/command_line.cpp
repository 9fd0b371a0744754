// Splits command lines the way the programs that receive them do. The rules, with where they are
// documented:
//   - CreateProcess takes the program from the start of the line: a quoted name up to the next
//     quote, else the text up to the first blank (CreateProcess, lpCommandLine).
//   - A C program's arguments, as CommandLineToArgvW and the C run-time split them ("Parsing C
//     command-line arguments"): blanks separate arguments outside quotes; 2n backslashes before
//     a quote give n backslashes and the quote opens or closes a quoted part; 2n+1 give n and a
//     literal quote; other backslashes are literal; inside a quoted part a doubled quote gives
//     one literal quote and ends the part (the documentation's example a"b"" c d gives ab", c, d).
//   - cmd (cmd /?): /C, /K and /R take the rest of the line as the command; other switches
//     (/D /Q /S /A /U /T:fg /E:ON /F:OFF /V:ON ...) may come before; a switch may follow another
//     without a blank (/Q/C), and the command may follow its switch directly (/Ccmd). The quote
//     rule of /C and /K: the quotes are kept when there is no /S, exactly two quotes, no special
//     character (&<>()@^|) between them, a blank between them, and the text between them names
//     an executable file; otherwise a leading quote and the last quote of the line are removed.
//   - cmd's command line: & && || | separate commands outside quotes; ^ makes the next character
//     plain; "(" and ")" group commands; < 0< read a file; > >> 1> 2> write one; n>&m joins
//     handles; a leading @ only turns echo off.
#include "clean/command_line.h"

#include <array>

#include "clean/text.h"

namespace {

bool is_blank(char c) {
    return c == ' ' || c == '\t';
}

std::string_view skip_blanks(std::string_view text) {
    while (!text.empty() && is_blank(text.front())) text.remove_prefix(1);
    return text;
}

char lower(char c) {
    return c >= 'A' && c <= 'Z' ? char(c + 0x20) : c;
}

// cmd's internal commands (cmd /? and help): a quoted text that starts with one of them names
// no program file.
constexpr std::array<std::string_view, 44> CMD_BUILTINS = {
    "assoc", "break", "call",  "cd",       "chdir",  "cls",    "color", "copy",     "date",
    "del",   "dir",   "echo",  "endlocal", "erase",  "exit",   "for",   "ftype",    "goto",
    "if",    "md",    "mkdir", "mklink",   "move",   "path",   "pause", "popd",     "prompt",
    "pushd", "rd",    "rem",   "ren",      "rename", "rmdir",  "set",   "setlocal", "shift",
    "start", "time",  "title", "type",     "ver",    "verify", "vol",   "dpath"};

// Whether cmd's first quote rule could keep the quotes of `quoted`: the rule asks whether the
// text names an executable file, which a reader that touches no file can only judge by the
// name's shape: it does not start with an internal command and it ends in an extension.
bool looks_like_program_file(std::string_view quoted) {
    const size_t first_blank = quoted.find_first_of(" \t");
    const std::string first = text_ascii_lower(quoted.substr(0, first_blank));
    for (const std::string_view builtin : CMD_BUILTINS)
        if (first == builtin) return false;
    const size_t dot = quoted.rfind('.');
    const size_t backslash = quoted.rfind('\\');
    if (dot == quoted.npos || dot + 1 == quoted.size()) return false;
    if (backslash != quoted.npos && backslash > dot) return false;
    const std::string_view extension = quoted.substr(dot + 1);
    if (extension.size() > 4) return false;
    for (const char c : extension)
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')))
            return false;
    return dot > 0;
}

std::string apply_quote_rule(std::string_view text, bool strip_switch) {
    const size_t first = text.find('"');
    const size_t last = text.rfind('"');
    if (!strip_switch && first != text.npos && first != last && text.find('"', first + 1) == last) {
        const std::string_view inside = text.substr(first + 1, last - first - 1);
        if (inside.find_first_of("&<>()@^|") == inside.npos &&
            inside.find_first_of(" \t") != inside.npos && looks_like_program_file(inside))
            return std::string(text);
    }
    if (text.empty() || text.front() != '"') return std::string(text);
    std::string out(text.substr(1));
    const size_t last_quote = out.rfind('"');
    if (last_quote != std::string::npos) out.erase(last_quote, 1);
    return out;
}

// The lexer of one cmd line: words, redirections and the separators between commands.
class CmdLexer {
  public:
    explicit CmdLexer(std::string_view text) : text_(text) {}

    std::vector<CmdCommand> run() {
        while (i_ < text_.size()) step();
        end_command();
        return commands_;
    }

  private:
    void step() {
        const char c = text_[i_];
        if (quoted_) {
            word_.push_back(c);
            quoted_ = c != '"';
            ++i_;
            return;
        }
        switch (c) {
        case '"':
            quoted_ = true;
            word_.push_back(c);
            ++i_;
            return;
        case '^':
            // The next character loses any meaning; a caret at the end of the line escapes the
            // line end, which in a single line is nothing.
            if (i_ + 1 < text_.size()) word_.push_back(text_[i_ + 1]);
            i_ += 2;
            return;
        case ' ':
        case '\t':
            end_word();
            ++i_;
            return;
        case '\r':
        case '\n':
        case '&':
        case '|':
            end_command();
            i_ += (i_ + 1 < text_.size() && text_[i_ + 1] == c) ? 2 : 1;
            return;
        case '(':
            if (!word_.empty()) break;
            end_command();
            ++depth_;
            ++i_;
            return;
        case ')':
            if (depth_ == 0) break;
            end_command();
            --depth_;
            ++i_;
            return;
        case '@':
            if (!word_.empty() || !command_.words.empty()) break;
            ++i_;
            return;
        case '<':
        case '>': redirection(c); return;
        default: break;
        }
        word_.push_back(c);
        ++i_;
    }

    void redirection(char c) {
        // A single digit written against the operator is the handle it redirects.
        if (word_.size() == 1 && word_[0] >= '0' && word_[0] <= '9') {
            word_.clear();
        } else {
            end_word();
        }
        ++i_;
        if (c == '>' && i_ < text_.size() && text_[i_] == '>') ++i_;
        if (i_ < text_.size() && text_[i_] == '&') {
            ++i_; // n>&m and n<&m join handles: no file
            if (i_ < text_.size() && text_[i_] >= '0' && text_[i_] <= '9') ++i_;
            return;
        }
        while (i_ < text_.size() && is_blank(text_[i_])) ++i_;
        std::string target;
        bool quoted = false;
        while (i_ < text_.size()) {
            const char t = text_[i_];
            if (!quoted) {
                if (is_blank(t) || t == '&' || t == '|' || t == '<' || t == '>' || t == '\r' ||
                    t == '\n' || (t == ')' && depth_ > 0))
                    break;
                if (t == '^') {
                    if (i_ + 1 < text_.size()) target.push_back(text_[i_ + 1]);
                    i_ += 2;
                    continue;
                }
            }
            if (t == '"') quoted = !quoted;
            target.push_back(t);
            ++i_;
        }
        std::string file = cmd_unquote(target);
        if (file.empty()) return;
        (c == '<' ? command_.inputs : command_.outputs).push_back(std::move(file));
    }

    void end_word() {
        if (!word_.empty()) command_.words.push_back(std::move(word_));
        word_.clear();
    }

    void end_command() {
        end_word();
        if (!command_.words.empty() || !command_.inputs.empty() || !command_.outputs.empty())
            commands_.push_back(std::move(command_));
        command_ = CmdCommand();
    }

    std::string_view text_;
    size_t i_ = 0;
    bool quoted_ = false;
    int depth_ = 0;
    std::string word_;
    CmdCommand command_;
    std::vector<CmdCommand> commands_;
};

} // namespace

std::string command_program(std::string_view line, std::string* rest) {
    line = skip_blanks(line);
    std::string program;
    std::string_view after;
    if (!line.empty() && line.front() == '"') {
        const size_t close = line.find('"', 1);
        program = std::string(line.substr(1, close == line.npos ? line.npos : close - 1));
        after = close == line.npos ? std::string_view() : line.substr(close + 1);
    } else {
        const size_t blank = line.find_first_of(" \t");
        program = std::string(line.substr(0, blank));
        after = blank == line.npos ? std::string_view() : line.substr(blank);
    }
    if (rest) *rest = std::string(skip_blanks(after));
    return program;
}

std::vector<std::string> command_arguments(std::string_view rest) {
    std::vector<std::string> arguments;
    size_t i = 0;
    while (true) {
        while (i < rest.size() && is_blank(rest[i])) ++i;
        if (i == rest.size()) break;
        std::string argument;
        bool quoted = false;
        while (i < rest.size() && (quoted || !is_blank(rest[i]))) {
            if (rest[i] == '\\') {
                size_t backslashes = 0;
                while (i < rest.size() && rest[i] == '\\') ++backslashes, ++i;
                if (i < rest.size() && rest[i] == '"') {
                    argument.append(backslashes / 2, '\\');
                    if (backslashes % 2 == 1) {
                        argument.push_back('"');
                        ++i;
                    }
                } else {
                    argument.append(backslashes, '\\');
                }
            } else if (rest[i] == '"') {
                if (quoted && i + 1 < rest.size() && rest[i + 1] == '"') {
                    argument.push_back('"');
                    quoted = false;
                    i += 2;
                } else {
                    quoted = !quoted;
                    ++i;
                }
            } else {
                argument.push_back(rest[i++]);
            }
        }
        arguments.push_back(std::move(argument));
    }
    return arguments;
}

std::string cmd_command_text(std::string_view arguments, bool* found) {
    bool strip_switch = false;
    size_t i = 0;
    while (i < arguments.size()) {
        if (is_blank(arguments[i])) {
            ++i;
            continue;
        }
        if (arguments[i] != '/' || i + 1 == arguments.size()) {
            // Not a switch: cmd reads on to the switches that follow.
            while (i < arguments.size() && !is_blank(arguments[i])) ++i;
            continue;
        }
        const char letter = lower(arguments[i + 1]);
        i += 2;
        if (letter == 'c' || letter == 'k' || letter == 'r') {
            if (found) *found = true;
            return apply_quote_rule(skip_blanks(arguments.substr(i)), strip_switch);
        }
        if (letter == 's') strip_switch = true;
        // /T:fg, /E:ON, /F:OFF, /V:ON: the value runs to a blank or the next switch.
        if (i < arguments.size() && arguments[i] == ':')
            while (i < arguments.size() && !is_blank(arguments[i]) && arguments[i] != '/') ++i;
    }
    if (found) *found = false;
    return {};
}

std::string cmd_unquote(std::string_view word) {
    std::string out;
    out.reserve(word.size());
    for (const char c : word)
        if (c != '"') out.push_back(c);
    return out;
}

std::vector<CmdCommand> cmd_commands(std::string_view text) {
    return CmdLexer(text).run();
}
