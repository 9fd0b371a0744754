// libFuzzer entry over unveilo-cmd's grammar: the bytes are a batch line (and, after a NUL, a
// file name for the wildcard matcher). Nothing may fault, and the rules that hold for every
// input are checked; a broken one aborts with its description.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "cmd/cmd_parse.h"
#include "cmd/cmd_tree.h"
#include "runtime/platform/posix/dos_attrib.h"

namespace {

[[noreturn]] void fail(const char* rule, const std::string& input) {
    std::fprintf(stderr, "cmd grammar rule broken: %s\ninput: %s\n", rule, input.c_str());
    std::abort();
}

std::string without_unquoted_blanks(const std::string& text) {
    std::string out;
    bool quoted = false;
    for (const char c : text) {
        if (c == '"') quoted = !quoted;
        if (!quoted && (c == ' ' || c == '\t')) continue;
        out.push_back(c);
    }
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    const size_t nul = input.find('\0');
    const std::string line = input.substr(0, nul);
    const std::string name = nul == std::string::npos ? std::string() : input.substr(nul + 1);

    const std::vector<std::string> words = cmd_split_words(line);
    std::string joined;
    for (const std::string& word : words) {
        if (word.empty()) fail("a word is never empty", line);
        joined += word;
    }
    if (joined != without_unquoted_blanks(line)) fail("words keep every byte but blanks", line);

    // The command tree: a value put into it stays text, so the tree keeps its shape.
    CmdParse parsed = cmd_parse_line(line);
    if (parsed.error.empty() && !parsed.incomplete) {
        const size_t before = parsed.commands.size();
        cmd_substitute_tree(parsed.commands, 'f', "a & b | (c) ^ % \"", "E:\\x");
        if (parsed.commands.size() != before) fail("a FOR value never changes the tree", line);
    }
    cmd_split_name(line);

    const std::vector<std::string> args{"E:\\temp.bat", "\"E:\\a b.lnk\"", "x"};
    const CmdVariables variables = [](const std::string& var) -> std::optional<std::string> {
        if (var.size() == 1) return var + var;
        return std::nullopt;
    };
    bool fatal = false;
    const std::string expanded = cmd_expand(line, args, variables, &fatal);
    if (line.find('%') == std::string::npos && expanded != line)
        fail("a line without percent signs expands to itself", line);

    cmd_path_modifiers(line.substr(0, 6), name);

    const CmdAttribArgs attrib = cmd_parse_attrib(words);
    if (attrib.error.empty()) {
        if ((attrib.set & attrib.clear) != 0) fail("ATTRIB never sets and clears a bit", line);
        if (((attrib.set | attrib.clear) & ~DOS_ATTRIB_CHANGEABLE) != 0)
            fail("ATTRIB only touches R, H, S and A", line);
        for (const std::string& path : attrib.paths)
            if (path.empty() || path.find('"') != std::string::npos)
                fail("ATTRIB paths are unquoted and not empty", line);
    }

    // Bounded so that a long pattern cannot make a slow input out of the quadratic worst case.
    if (line.size() <= 256 && name.size() <= 256) {
        const bool plain = name.find_first_of("*?") == std::string::npos;
        if (plain && !cmd_wildcard_match(name, name)) fail("a plain name matches itself", name);
        if (!cmd_wildcard_match("*", name)) fail("* matches every name", name);
        cmd_wildcard_match(line, name);
    }
    return 0;
}
