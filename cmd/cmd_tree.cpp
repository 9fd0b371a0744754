// The command interpreter's second parsing phase: special characters, blocks, IF and FOR.
// The rules followed, with their sources, are in docs/linux-shell.md.
#include "cmd/cmd_tree.h"

#include "cmd/cmd_parse.h"

namespace {

// Token delimiters where a command or an IF/FOR word is expected.
bool is_delimiter(char c) {
    return c == ' ' || c == '\t' || c == ',' || c == ';' || c == '=' || c == '\v' || c == '\f';
}

bool is_blank(char c) {
    return c == ' ' || c == '\t';
}

constexpr const char* SYNTAX = "The syntax of the command is incorrect.";
constexpr const char* TOO_DEEP = "The commands are nested too deeply.";

struct Parser {
    std::string_view text;
    size_t at = 0;
    int depth = 0;   // open blocks around the position
    int nesting = 0; // lists being parsed around the position: the line's and the bodies'
    bool incomplete = false;
    std::string error;

    bool done() const { return at >= text.size(); }
    char peek(size_t ahead = 0) const { return at + ahead < text.size() ? text[at + ahead] : '\0'; }
    void skip_blanks() {
        while (!done() && is_blank(peek())) ++at;
    }
    void skip_delimiters() {
        while (!done() && (is_delimiter(peek()) || peek() == '@')) ++at;
    }
    void fail(const char* message) {
        if (error.empty()) error = message;
    }

    // A word at the current position equal to `word` (ASCII case ignored) and ended by a
    // delimiter, a block's start or the end.
    bool at_word(std::string_view word) const {
        if (!cmd_iequals(text.substr(at, word.size()), word)) return false;
        const char after = at + word.size() < text.size() ? text[at + word.size()] : '\0';
        return after == '\0' || is_delimiter(after) || after == '(' || after == '\n';
    }

    // A word at the position: quotes group, carets escape; it ends at a blank (with
    // `delimiters`, at any delimiter, "=" among them), or at a special character outside quotes.
    std::string word(bool delimiters) {
        std::string out;
        bool quoted = false;
        while (!done()) {
            const char c = peek();
            if (c == '\n') break;
            if (c == '"') quoted = !quoted;
            if (!quoted) {
                if (delimiters ? is_delimiter(c) : is_blank(c)) break;
                if (c == '&' || c == '|' || c == '<' || c == '>') break;
                if (c == ')' && depth > 0) break;
                if (c == '^' && at + 1 < text.size()) {
                    out.push_back(text[at + 1]);
                    at += 2;
                    continue;
                }
            }
            out.push_back(c);
            ++at;
        }
        return out;
    }

    // One token of an IF or FOR, after the delimiters before it.
    std::string token() {
        while (!done() && is_delimiter(peek())) ++at;
        return word(true);
    }

    // A redirection starting at "<" or ">"; `fd` is the handle digit taken from the text before.
    void redirection(CmdCommand& command, int fd) {
        CmdRedirect redirect;
        if (peek() == '<') {
            redirect.fd = fd < 0 ? 0 : fd;
            ++at;
        } else {
            redirect.fd = fd < 0 ? 1 : fd;
            ++at;
            if (peek() == '>') {
                redirect.append = true;
                ++at;
            }
        }
        if (peek() == '&' && peek(1) >= '0' && peek(1) <= '9') {
            redirect.duplicate = peek(1) - '0';
            at += 2;
            command.redirects.push_back(redirect);
            return;
        }
        skip_blanks();
        redirect.target = word(false);
        if (redirect.target.empty()) fail(SYNTAX);
        command.redirects.push_back(redirect);
    }

    // Redirections that follow a block's closing parenthesis.
    void trailing_redirections(CmdCommand& command) {
        for (;;) {
            skip_blanks();
            int fd = -1;
            if (peek() >= '0' && peek() <= '9' && (peek(1) == '>' || peek(1) == '<')) {
                fd = peek() - '0';
                ++at;
            }
            if (peek() != '<' && peek() != '>') return;
            redirection(command, fd);
        }
    }

    CmdCommand simple() {
        CmdCommand command;
        bool quoted = false;
        while (!done()) {
            const char c = peek();
            if (c == '\n') break;
            if (c == '"') quoted = !quoted;
            if (!quoted) {
                if (c == '&' || c == '|') break;
                if (c == ')' && depth > 0) break;
                if (c == '^') {
                    // A caret keeps the next character as it is; one at the very end is gone.
                    if (at + 1 < text.size() && text[at + 1] != '\n')
                        command.text.push_back(text[at + 1]);
                    at += 2;
                    continue;
                }
                if (c == '<' || c == '>') {
                    // "2>" names the handle; the digit must stand alone, or it is an argument.
                    int fd = -1;
                    const size_t n = command.text.size();
                    if (n >= 1 && command.text[n - 1] >= '0' && command.text[n - 1] <= '9' &&
                        (n == 1 || is_blank(command.text[n - 2]))) {
                        fd = command.text[n - 1] - '0';
                        command.text.pop_back();
                    }
                    redirection(command, fd);
                    continue;
                }
            }
            command.text.push_back(c);
            ++at;
        }
        // Blanks before "&" stay: "echo x & echo y" prints "x " under cmd too.
        return command;
    }

    // "(" ... ")": the commands inside, with a new line joining them as "&".
    CmdCommand block() {
        CmdCommand command;
        command.kind = CmdCommand::block;
        ++at; // "("
        ++depth;
        command.body = list(true);
        --depth;
        if (peek() != ')') {
            if (error.empty()) incomplete = true;
            return command;
        }
        ++at;
        trailing_redirections(command);
        return command;
    }

    // The body of an IF or FOR: a block, or the rest of the line.
    CmdList body_of() {
        skip_delimiters();
        if (peek() == '(') {
            CmdList one;
            one.push_back(block());
            return one;
        }
        return list(false);
    }

    CmdCommand if_test() {
        CmdCommand command;
        command.kind = CmdCommand::if_test;
        at += 2;
        std::string word = token();
        if (cmd_iequals(word, "/i")) {
            command.ignore_case = true;
            word = token();
        }
        if (cmd_iequals(word, "not")) {
            command.negate = true;
            word = token();
        }
        if (cmd_iequals(word, "exist") || cmd_iequals(word, "defined") ||
            cmd_iequals(word, "errorlevel")) {
            command.test = cmd_iequals(word, "exist")     ? CmdCommand::exist
                           : cmd_iequals(word, "defined") ? CmdCommand::defined
                                                          : CmdCommand::errorlevel;
            command.left = token();
        } else {
            command.test = CmdCommand::compare;
            command.left = word;
            skip_blanks();
            if (peek() == '=' && peek(1) == '=') {
                command.op = "==";
                at += 2;
            } else {
                const std::string op = token();
                for (const char* known : {"EQU", "NEQ", "LSS", "LEQ", "GTR", "GEQ"})
                    if (cmd_iequals(op, known)) command.op = known;
            }
            skip_blanks();
            while (peek() == '=') ++at; // "a== =b" and the like
            command.right = token();
            if (command.op.empty() || command.right.empty()) fail(SYNTAX);
        }
        if (command.left.empty()) fail(SYNTAX);
        skip_delimiters();
        if (done() || peek() == '\n' || (peek() == ')' && depth > 0)) fail(SYNTAX);
        if (!error.empty()) return command;
        const bool in_block = peek() == '(';
        command.body = body_of();
        if (in_block && !incomplete) {
            skip_blanks();
            if (at_word("else")) {
                at += 4;
                command.otherwise = body_of();
            }
        }
        return command;
    }

    CmdCommand for_loop() {
        CmdCommand command;
        command.kind = CmdCommand::for_loop;
        at += 3;
        std::string word = token();
        while (word.size() == 2 && word[0] == '/') {
            if (word[1] == 'd' || word[1] == 'D') {
                command.folders = true;
            } else {
                error = "FOR " + word + " is not offered by unveilo-cmd.";
                return command;
            }
            word = token();
        }
        if (word.size() != 2 || word[0] != '%' || word[1] == '%' || is_delimiter(word[1])) {
            fail(SYNTAX);
            return command;
        }
        command.variable = word[1];
        if (!cmd_iequals(token(), "in")) {
            fail(SYNTAX);
            return command;
        }
        skip_delimiters();
        if (peek() != '(') {
            fail(SYNTAX);
            return command;
        }
        ++at;
        bool quoted = false;
        while (!done() && (quoted || peek() != ')')) {
            const char c = peek();
            if (c == '"') quoted = !quoted;
            if (!quoted && c == '^' && at + 1 < text.size()) {
                command.set.push_back(text[at + 1]);
                at += 2;
                continue;
            }
            command.set.push_back(c == '\n' ? ' ' : c);
            ++at;
        }
        if (done()) {
            incomplete = true;
            return command;
        }
        ++at; // ")"
        if (!cmd_iequals(token(), "do")) {
            fail(SYNTAX);
            return command;
        }
        skip_delimiters();
        if (done() || peek() == '\n') {
            fail(SYNTAX);
            return command;
        }
        command.body = body_of();
        return command;
    }

    // One command at a command position, or nothing for a label, a comment or an empty place.
    std::optional<CmdCommand> command() {
        skip_delimiters();
        if (done() || peek() == '\n' || peek() == '&' || peek() == '|') return std::nullopt;
        if (peek() == ')' && depth > 0) return std::nullopt;
        if (peek() == '(') return block();
        if (peek() == ':' || at_word("rem")) {
            // A label or a remark: the rest of the physical line is not parsed.
            while (!done() && peek() != '\n') ++at;
            return std::nullopt;
        }
        if (at_word("if")) return if_test();
        if (at_word("for")) return for_loop();
        CmdCommand plain = simple();
        if (plain.text.empty() && plain.redirects.empty()) return std::nullopt;
        return plain;
    }

    // Commands joined by "&", "&&", "||" (and, in a block, new lines) up to the end of the line,
    // or to the ")" that closes the block when `in_block`.
    CmdList list(bool in_block) {
        CmdList out;
        // Each body is parsed, copied, run and freed by recursion: without a bound, a line of
        // nothing but "(" runs the stack out long before its end.
        if (nesting > CMD_MAX_NESTING) {
            fail(TOO_DEEP);
            return out;
        }
        ++nesting;
        CmdJoin join = CmdJoin::always;
        while (error.empty() && !incomplete) {
            std::optional<CmdCommand> next = command();
            if (next) {
                next->join = join;
                out.push_back(std::move(*next));
            }
            if (!error.empty() || incomplete) break;
            skip_blanks();
            if (done()) {
                if (in_block) incomplete = true;
                break;
            }
            const char c = peek();
            if (c == ')' && depth > 0) break;
            if (c == '\n') {
                if (!in_block) break;
                ++at;
                join = CmdJoin::always;
                continue;
            }
            if (c == '&') {
                const bool doubled = peek(1) == '&';
                at += doubled ? 2 : 1;
                join = doubled ? CmdJoin::on_success : CmdJoin::always;
                continue;
            }
            if (c == '|') {
                if (peek(1) != '|') {
                    error = "Pipes are not offered by unveilo-cmd.";
                    break;
                }
                at += 2;
                join = CmdJoin::on_failure;
                continue;
            }
            ++at; // a stray ")" outside any block: cmd ignores it
        }
        --nesting;
        return out;
    }
};

void substitute(std::string& text, char variable, const std::string& value,
                const std::string& full) {
    if (text.find('%') != std::string::npos) text = cmd_substitute_for(text, variable, value, full);
}

} // namespace

CmdParse cmd_parse_line(std::string_view line) {
    Parser parser;
    parser.text = line;
    CmdParse result;
    // A physical line at the outer level ends the commands; later lines belong to a block only.
    while (!parser.done()) {
        CmdList part = parser.list(false);
        for (CmdCommand& command : part) result.commands.push_back(std::move(command));
        if (!parser.error.empty() || parser.incomplete) break;
        if (parser.peek() == '\n' || parser.peek() == ')') ++parser.at;
    }
    result.incomplete = parser.incomplete;
    result.error = parser.error;
    return result;
}

void cmd_substitute_tree(CmdList& list, char variable, const std::string& value,
                         const std::string& full) {
    for (CmdCommand& command : list) {
        substitute(command.text, variable, value, full);
        for (CmdRedirect& redirect : command.redirects)
            substitute(redirect.target, variable, value, full);
        substitute(command.left, variable, value, full);
        substitute(command.right, variable, value, full);
        substitute(command.set, variable, value, full);
        // An inner loop over the same letter hides the outer one.
        if (command.kind != CmdCommand::for_loop || command.variable != variable)
            cmd_substitute_tree(command.body, variable, value, full);
        cmd_substitute_tree(command.otherwise, variable, value, full);
    }
}
