// libFuzzer entry over the readers of what a stick brings: the first byte picks the reader
// (0 shortcut, 1 autorun.inf, 2 command line, 3 text conversions), the rest is its input. Nothing
// may fault or read outside the input, and the rules that hold for every input are checked; a
// broken one aborts with its description.
#include <cstdio>
#include <cstdlib>
#include <span>
#include <string>

#include "clean/autorun.h"
#include "clean/command_line.h"
#include "clean/lnk.h"
#include "clean/text.h"

namespace {

[[noreturn]] void fail(const char* rule) {
    std::fprintf(stderr, "reader rule broken: %s\n", rule);
    std::abort();
}

// Every text a reader returns is generalised UTF-8, which survives the way to UTF-16 and back.
void check_text(const std::string& text) {
    if (text_from_utf16(text_to_utf16(text)) != text) fail("a reader's text is generalised UTF-8");
}

bool has_upper_ascii(const std::string& text) {
    for (const char c : text)
        if (c >= 'A' && c <= 'Z') return true;
    return false;
}

void shortcut(std::span<const uint8_t> bytes) {
    ShellLink link;
    link.arguments = "sentinel";
    const LnkStatus status = lnk_read(bytes, link);
    if (status != LnkStatus::ok) {
        if (link.arguments != "sentinel" || link.id_list_items != 0)
            fail("a refused shortcut leaves the result alone");
        return;
    }
    for (const std::string* text :
         {&link.id_list_path, &link.link_info_path, &link.network_path, &link.volume_label,
          &link.name, &link.relative_path, &link.working_dir, &link.arguments, &link.icon_location,
          &link.environment_target, &link.icon_environment})
        check_text(*text);
    if (!link.id_list_path.empty() && link.id_list_items == 0)
        fail("a path from the ID list needs items");
    if (!(link.link_flags & LNK_HAS_ID_LIST) && link.id_list_items != 0)
        fail("items come only from an ID list");
    if (!(link.link_flags & LNK_HAS_LINK_INFO) &&
        (!link.link_info_path.empty() || !link.network_path.empty()))
        fail("LinkInfo paths come only from LinkInfo");
    if (!(link.link_flags & LNK_HAS_ARGUMENTS) && !link.arguments.empty())
        fail("arguments come only with their flag");
}

void autorun(std::span<const uint8_t> bytes) {
    Autorun result;
    if (autorun_read(bytes, result) != AutorunStatus::ok) fail("a small file is always read");
    for (const AutorunEntry& entry : result.entries) {
        if (entry.section != "autorun" && !entry.section.starts_with("autorun."))
            fail("entries come only from autorun sections");
        if (entry.key.empty() || has_upper_ascii(entry.key) || has_upper_ascii(entry.section))
            fail("keys are lower case and not empty");
        for (const std::string* text : {&entry.section, &entry.key, &entry.value}) {
            check_text(*text);
            if (text->find_first_of(std::string("\r\n\0", 3)) != std::string::npos)
                fail("no line end inside a name or value");
        }
    }
    for (const std::string& command : autorun_commands(result))
        if (command.empty()) fail("a listed command is not empty");
}

void command_line(const std::string& line) {
    std::string rest;
    const std::string program = command_program(line, &rest);
    // Only a quoted program loses its quotes: unquoted, it runs to the first blank whatever it
    // holds (no file name holds a quote, so such a line names no program that exists).
    const size_t first = line.find_first_not_of(" \t");
    const bool quoted = first != std::string::npos && line[first] == '"';
    if (quoted && program.find('"') != std::string::npos) fail("a quoted program has no quotes");
    if (!rest.empty() && (rest[0] == ' ' || rest[0] == '\t')) fail("the rest starts unblank");
    const std::vector<std::string> arguments = command_arguments(rest);
    if (line.find_first_of("\"\\") == std::string::npos) {
        for (const std::string& argument : arguments)
            if (argument.empty() || argument.find_first_of(" \t") != std::string::npos)
                fail("without quotes and backslashes, arguments are the blank-free words");
    }
    bool found = false;
    const std::string text = cmd_command_text(line, &found);
    if (!found && !text.empty()) fail("no command text without a switch");
    if (text.size() > line.size()) fail("the command text is part of the line");
    for (const std::string& source : {line, text}) {
        for (const CmdCommand& command : cmd_commands(source)) {
            if (command.words.empty() && command.inputs.empty() && command.outputs.empty())
                fail("a command is not empty");
            for (const std::string& word : command.words)
                if (word.empty()) fail("a word is not empty");
            for (const auto* files : {&command.inputs, &command.outputs})
                for (const std::string& file : *files)
                    if (file.empty() || file.find('"') != std::string::npos)
                        fail("redirected files are unquoted and not empty");
        }
    }
}

void text(std::span<const uint8_t> bytes) {
    const std::string from_utf16 = text_from_utf16le(bytes);
    check_text(from_utf16);
    check_text(text_from_cp1252(bytes));
    const std::string raw(bytes.begin(), bytes.end());
    if (!text_equal_fold(raw, raw)) fail("a name equals itself");
    if (!text_equal_fold(raw, text_ascii_lower(raw))) fail("ASCII case does not count");
    if (!text_equal_fold(from_utf16, text_ascii_lower(from_utf16)))
        fail("ASCII case does not count in converted names");
    if (text_equal_fold(raw, raw + "x")) fail("a longer name differs");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const std::span<const uint8_t> input(data + 1, size - 1);
    switch (data[0] % 4) {
    case 0: shortcut(input); break;
    case 1: autorun(input); break;
    case 2: command_line(std::string(input.begin(), input.end())); break;
    case 3: text(input); break;
    }
    return 0;
}
