// Batch files and the commands that steer them: a batch file read line by line as cmd reads it,
// percent-expanded as each line is read, and GOTO, CALL (with its second expansion), IF and FOR.
// docs/linux-shell.md lists the rules followed.
#include "cmd/cmd_detail.h"

#include "cmd/cmd_parse.h"
#include "cmd/cmd_tree.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Deep enough for any honest batch file; a CALL that recurses without end stops here.
constexpr int MAX_CALL_DEPTH = 64;

// Batch files are read in the console's code page, 437 on an English Windows; the names the
// file system gives are UTF-8 here, so the bytes above 127 of a batch line become UTF-8 too.
constexpr char16_t CP437_HIGH[128] = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7, 0x00EA, 0x00EB, 0x00E8, 0x00EF,
    0x00EE, 0x00EC, 0x00C4, 0x00C5, 0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9,
    0x00FF, 0x00D6, 0x00DC, 0x00A2, 0x00A3, 0x00A5, 0x20A7, 0x0192, 0x00E1, 0x00ED, 0x00F3, 0x00FA,
    0x00F1, 0x00D1, 0x00AA, 0x00BA, 0x00BF, 0x2310, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB,
    0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x2561, 0x2562, 0x2556, 0x2555, 0x2563, 0x2551, 0x2557,
    0x255D, 0x255C, 0x255B, 0x2510, 0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F,
    0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x2567, 0x2568, 0x2564, 0x2565, 0x2559,
    0x2558, 0x2552, 0x2553, 0x256B, 0x256A, 0x2518, 0x250C, 0x2588, 0x2584, 0x258C, 0x2590, 0x2580,
    0x03B1, 0x00DF, 0x0393, 0x03C0, 0x03A3, 0x03C3, 0x00B5, 0x03C4, 0x03A6, 0x0398, 0x03A9, 0x03B4,
    0x221E, 0x03C6, 0x03B5, 0x2229, 0x2261, 0x00B1, 0x2265, 0x2264, 0x2320, 0x2321, 0x00F7, 0x2248,
    0x00B0, 0x2219, 0x00B7, 0x221A, 0x207F, 0x00B2, 0x25A0, 0x00A0};

std::string from_cp437(const std::string& bytes) {
    std::string out;
    for (const char byte : bytes) {
        const unsigned char b = static_cast<unsigned char>(byte);
        if (b < 0x80) {
            out.push_back(byte);
            continue;
        }
        const char16_t u = CP437_HIGH[b - 0x80];
        if (u < 0x800) {
            out.push_back(char(0xC0 | (u >> 6)));
        } else {
            out.push_back(char(0xE0 | (u >> 12)));
            out.push_back(char(0x80 | ((u >> 6) & 0x3F)));
        }
        out.push_back(char(0x80 | (u & 0x3F)));
    }
    return out;
}

// Reads the next physical line of a batch file at its offset; false at its end. A file that
// cannot be found any more ends every batch file that runs, as under cmd.
bool read_physical(CmdState& state, CmdBatch& batch, std::string& line) {
    auto& cache = state.file_cache;
    struct stat info {};
    const bool found = stat(batch.host.c_str(), &info) == 0;
    const unsigned long long changed_ns =
        (unsigned long long)info.st_mtim.tv_sec * 1000000000ULL + info.st_mtim.tv_nsec;
    if (!found || cache.host != batch.host || cache.device != info.st_dev ||
        cache.inode != info.st_ino || cache.size != (unsigned long long)info.st_size ||
        cache.changed_ns != changed_ns) {
        cache.host.clear();
        const int fd = found ? open(batch.host.c_str(), O_RDONLY | O_CLOEXEC) : -1;
        if (fd < 0) {
            std::fprintf(stderr, "The batch file cannot be found.\n");
            state.batch_lost = true;
            return false;
        }
        cache.bytes.clear();
        char buffer[4096];
        for (ssize_t got; (got = read(fd, buffer, sizeof buffer)) != 0;) {
            if (got < 0 && errno == EINTR) continue;
            if (got < 0) break;
            cache.bytes.append(buffer, size_t(got));
        }
        close(fd);
        cache = {batch.host,
                 (unsigned long long)info.st_dev,
                 (unsigned long long)info.st_ino,
                 (unsigned long long)info.st_size,
                 changed_ns,
                 std::move(cache.bytes)};
    }
    const std::string& bytes = cache.bytes;
    if (batch.offset < 0 || size_t(batch.offset) >= bytes.size()) return false;
    size_t end = bytes.find('\n', size_t(batch.offset));
    const size_t stop = end == std::string::npos ? bytes.size() : end;
    line.clear();
    for (size_t i = size_t(batch.offset); i < stop; ++i)
        if (bytes[i] != '\r') line.push_back(bytes[i]);
    batch.offset = off_t(end == std::string::npos ? bytes.size() : end + 1);
    line = from_cp437(line);
    return true;
}

// GOTO and CALL look for a label from the current line to the end, then from the start. Labels
// are ASCII, so the file's bytes are searched as they are.
bool find_label(CmdState& state, CmdBatch& batch, const std::string& label) {
    std::string first;
    CmdBatch probe = batch;
    probe.offset = 0;
    if (!read_physical(state, probe, first)) return false; // brings the file up to date
    const std::string& bytes = state.file_cache.bytes;
    const size_t from = std::min(size_t(batch.offset), bytes.size());
    for (int pass = 0; pass < 2; ++pass) {
        size_t at = pass == 0 ? from : 0;
        const size_t stop = pass == 0 ? bytes.size() : from;
        while (at < stop) {
            size_t end = bytes.find('\n', at);
            if (end == std::string::npos) end = bytes.size();
            size_t i = bytes.find_first_not_of(" \t,;=@", at);
            if (i < end && bytes[i] == ':') {
                ++i;
                size_t last = bytes.find_first_of(" \t,;=+:&<>|\r\n", i);
                if (last == std::string::npos || last > end) last = end;
                if (cmd_iequals(std::string_view(bytes).substr(i, last - i), label)) {
                    batch.offset = off_t(end == bytes.size() ? end : end + 1);
                    return true;
                }
            }
            at = end + 1;
        }
    }
    return false;
}

std::string expand(CmdState& state, std::string_view line, bool* fatal) {
    static const std::vector<std::string> no_args;
    return cmd_expand(
        line, state.batch != nullptr ? state.batch->args : no_args,
        [&state](const std::string& name) { return cmd_lookup(state, name); }, fatal);
}

bool compare(const CmdCommand& test) {
    const std::string& a = test.left;
    const std::string& b = test.right;
    if (test.op == "==") return test.ignore_case ? cmd_iequals(a, b) : a == b;
    char* end_a = nullptr;
    char* end_b = nullptr;
    const long na = std::strtol(a.c_str(), &end_a, 0);
    const long nb = std::strtol(b.c_str(), &end_b, 0);
    int order = 0;
    if (!a.empty() && !b.empty() && *end_a == '\0' && *end_b == '\0') {
        order = na < nb ? -1 : na > nb ? 1 : 0;
    } else {
        const std::string ua = test.ignore_case ? cmd_upper(a) : a;
        const std::string ub = test.ignore_case ? cmd_upper(b) : b;
        order = ua.compare(ub) < 0 ? -1 : ua.compare(ub) > 0 ? 1 : 0;
    }
    if (test.op == "EQU") return order == 0;
    if (test.op == "NEQ") return order != 0;
    if (test.op == "LSS") return order < 0;
    if (test.op == "LEQ") return order <= 0;
    if (test.op == "GTR") return order > 0;
    return order >= 0;
}

// A FOR value as a full DOS path, for the d, p and f modifiers.
std::string full_dos_path(CmdState& state, const std::string& value) {
    const std::string plain = cmd_unquote(value);
    if (plain.size() >= 3 && plain[1] == ':' && (plain[2] == '\\' || plain[2] == '/')) return plain;
    std::string cd = cmd_lookup(state, "CD").value_or("");
    if (plain.size() >= 2 && plain[1] == ':') return plain; // drive-relative: left as it is
    if (!plain.empty() && (plain[0] == '\\' || plain[0] == '/')) return cd.substr(0, 2) + plain;
    if (!cd.empty() && cd.back() != '\\') cd.push_back('\\');
    return cd + plain;
}

// Reads one logical line (a block goes on over the next lines; a caret at the end joins the
// next line), each physical line percent-expanded as it is read.
bool read_logical(CmdState& state, CmdBatch& batch, CmdParse& parsed, std::string& shown) {
    std::string raw;
    if (!read_physical(state, batch, raw)) return false;
    bool fatal = false;
    std::string line = expand(state, raw, &fatal);
    for (;;) {
        if (fatal) {
            std::fprintf(stderr,
                         "The following usage of the path operator in batch-parameter "
                         "substitution is invalid: %s\n",
                         raw.c_str());
            batch.done = true;
            return false;
        }
        size_t carets = 0;
        while (carets < line.size() && line[line.size() - 1 - carets] == '^') ++carets;
        if (carets % 2 == 1) {
            line.pop_back();
            if (!read_physical(state, batch, raw)) break;
            line += expand(state, raw, &fatal);
            continue;
        }
        parsed = cmd_parse_line(line);
        if (!parsed.incomplete) break;
        // Only a ")" can close the block: lines without one are taken in without a new parse.
        do {
            if (!read_physical(state, batch, raw)) {
                parsed.commands.clear(); // an unclosed block at the end is dropped
                shown = line;
                return true;
            }
            line += "\n" + expand(state, raw, &fatal);
        } while (!fatal && raw.find(')') == std::string::npos);
    }
    shown = line;
    return true;
}

int run_batch(CmdState& state, CmdBatch& batch) {
    CmdBatch* outer = state.batch;
    state.batch = &batch;
    batch.locals = state.saved.size();
    CmdParse parsed;
    std::string line;
    while (!batch.done && !state.exit_requested && !state.batch_lost) {
        if (!read_logical(state, batch, parsed, line)) break;
        state.goto_taken = false;
        const size_t first = line.find_first_not_of(" \t");
        if (state.echo_on && first != std::string::npos && line[first] != '@' && line[first] != ':')
            std::printf("\n%s>%s\n", cmd_lookup(state, "CD").value_or("").c_str(),
                        line.c_str() + first);
        if (!parsed.error.empty()) {
            std::fprintf(stderr, "%s\n", parsed.error.c_str());
            state.errorlevel = 1;
            // A line cmd cannot parse ends the batch file.
            break;
        }
        cmd_run_list(state, parsed.commands);
    }
    state.goto_taken = false;
    while (state.saved.size() > batch.locals) cmd_end_local(state);
    state.batch = outer;
    return state.errorlevel;
}

} // namespace

int cmd_goto(CmdState& state, const std::string& rest) {
    std::string label = cmd_unquote(rest);
    const size_t start = label.find_first_not_of(" \t:");
    label = start == std::string::npos ? std::string() : label.substr(start);
    const size_t end = label.find_first_of(" \t,;=+&<>|");
    if (end != std::string::npos) label.resize(end);
    if (state.batch == nullptr) return 0;
    state.goto_taken = true;
    if (cmd_iequals(label, "eof")) {
        state.batch->done = true;
        return state.errorlevel;
    }
    if (find_label(state, *state.batch, label)) return state.errorlevel;
    if (!state.batch_lost)
        std::fprintf(stderr, "The system cannot find the batch label specified - %s\n",
                     label.c_str());
    state.batch->done = true;
    return 1;
}

// CALL: the text once more through carets doubled, percent expansion and the command tree,
// then a label of this batch file, another batch file that returns here, or a command.
int cmd_call(CmdState& state, const std::string& rest) {
    if (state.call_depth >= MAX_CALL_DEPTH) {
        std::fprintf(stderr, "CALL: too many nested calls\n");
        return 1;
    }
    std::string doubled;
    for (const char c : rest) {
        if (c == '^') doubled.push_back('^');
        doubled.push_back(c);
    }
    bool fatal = false;
    const std::string text = expand(state, doubled, &fatal);
    if (fatal) {
        std::fprintf(stderr,
                     "The following usage of the path operator in batch-parameter "
                     "substitution is invalid: %s\n",
                     rest.c_str());
        return 1;
    }
    const size_t first = text.find_first_not_of(" \t,;=");
    ++state.call_depth;
    int result = 0;
    if (first != std::string::npos && text[first] == ':' && state.batch != nullptr) {
        // A label of this batch file, with its own arguments.
        // Its arguments pass the special-character phase again: carets outside quotes go, so
        // that the doubling above leaves them as they were, while quoted ones stay doubled.
        std::string args;
        bool quoted = false;
        for (size_t i = first; i < text.size(); ++i) {
            if (text[i] == '"') quoted = !quoted;
            if (!quoted && text[i] == '^' && ++i >= text.size()) break;
            args.push_back(text[i]);
        }
        const std::vector<std::string> words = cmd_split_words(args);
        CmdBatch sub;
        sub.host = state.batch->host;
        sub.offset = state.batch->offset;
        sub.args.push_back(state.batch->args.empty() ? std::string() : state.batch->args[0]);
        sub.args.insert(sub.args.end(), words.begin() + 1, words.end());
        const std::string label = words[0].substr(1);
        if (find_label(state, sub, label)) {
            result = run_batch(state, sub);
        } else {
            if (!state.batch_lost)
                std::fprintf(stderr, "The system cannot find the batch label specified - %s\n",
                             label.c_str());
            result = 1;
        }
        --state.call_depth;
        return result;
    }
    const CmdParse parsed = cmd_parse_line(text);
    const CmdName head =
        parsed.commands.empty() ? CmdName{} : cmd_split_name(parsed.commands.front().text);
    if (!parsed.error.empty() || parsed.incomplete) {
        std::fprintf(stderr, "%s\n",
                     parsed.error.empty() ? "The syntax of the command is incorrect."
                                          : parsed.error.c_str());
        result = 1;
    } else if (!parsed.commands.empty() && parsed.commands.front().kind == CmdCommand::simple &&
               (cmd_ends_with_i(cmd_unquote(head.name), ".bat") ||
                cmd_ends_with_i(cmd_unquote(head.name), ".cmd"))) {
        // Another batch file, which returns here when it ends.
        result = cmd_run_batch(state, cmd_unquote(head.name), cmd_split_words(head.rest));
    } else {
        cmd_run_list(state, parsed.commands);
        result = state.errorlevel;
    }
    --state.call_depth;
    return result;
}

bool cmd_if_holds(CmdState& state, const CmdCommand& test) {
    switch (test.test) {
    case CmdCommand::exist: {
        const std::string path = cmd_unquote(test.left);
        std::string host;
        // A wildcard asks whether any entry matches ("folder\*" is how a batch file asks for a
        // folder).
        return cmd_has_wildcard(path) ? cmd_any_entry_matches(path)
                                      : cmd_dos_to_host(path, host) && cmd_exists(host);
    }
    case CmdCommand::defined: return cmd_lookup(state, test.left).has_value();
    case CmdCommand::errorlevel: return state.errorlevel >= std::atoi(test.left.c_str());
    case CmdCommand::compare: return compare(test);
    }
    return false;
}

void cmd_run_for(CmdState& state, const CmdCommand& loop) {
    // The set is listed in full before the first command runs: that is what cmd gives for a
    // set whose commands move the files it lists, and it keeps the order stable.
    std::vector<std::string> values;
    for (const std::string& item : cmd_split_words(loop.set)) {
        std::string word = item;
        while (!word.empty() && std::strchr(",;=", word.front()) != nullptr) word.erase(0, 1);
        while (!word.empty() && std::strchr(",;=", word.back()) != nullptr) word.pop_back();
        if (word.empty()) continue;
        if (!cmd_has_wildcard(word)) {
            values.push_back(word);
            continue;
        }
        const bool quoted = word.find('"') != std::string::npos;
        for (const auto& found : cmd_match_entries(cmd_unquote(word), loop.folders))
            values.push_back(quoted ? "\"" + found.second + "\"" : found.second);
    }
    for (const std::string& value : values) {
        CmdList body = loop.body;
        cmd_substitute_tree(body, loop.variable, value, full_dos_path(state, value));
        cmd_run_list(state, body);
        if (cmd_stopping(state)) return;
    }
}

int cmd_run_batch(CmdState& state, const std::string& path, const std::vector<std::string>& args) {
    std::string host;
    if (!cmd_host_path(path, host)) return state.errorlevel = 1;
    if (access(host.c_str(), R_OK) != 0) {
        std::fprintf(stderr, "The system cannot find the path specified.\n");
        return state.errorlevel = 1;
    }
    CmdBatch batch;
    // %0 is the full DOS path, so that %~d0 names the batch file's own drive.
    std::string full = host;
    if (!full.empty() && full.front() != '/') {
        char cwd[4096];
        if (getcwd(cwd, sizeof cwd) != nullptr) full = std::string(cwd) + "/" + full;
    }
    batch.host = full;
    batch.args.push_back(path.size() >= 2 && path[1] == ':' ? path : cmd_host_to_dos(full));
    for (const std::string& arg : args) batch.args.push_back(arg);
    const bool echo_before = state.echo_on;
    state.echo_on = true;
    const int result = run_batch(state, batch);
    state.echo_on = echo_before;
    state.batch_lost = false;
    return result;
}
