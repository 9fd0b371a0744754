#include "clean/rules.h"

#include <array>

#include "clean/command_line.h"
#include "clean/names.h"
#include "clean/text.h"

namespace {

// Nested interpreters ("cmd /c start cmd /c wscript x.vbs") are followed this deep; a line that
// nests deeper is still a launcher, only its innermost files are not looked for.
constexpr int MAX_DEPTH = 8;

// Programs that run code handed to them on their command line: command interpreters, script
// hosts, and the system programs that attackers use to start a payload under a trusted name.
constexpr std::array<std::string_view, 30> INTERPRETERS = {
    "cmd.exe",       "command.com",        "powershell.exe",
    "pwsh.exe",      "powershell_ise.exe", "wscript.exe",
    "cscript.exe",   "mshta.exe",          "rundll32.exe",
    "rundll.exe",    "regsvr32.exe",       "msiexec.exe",
    "conhost.exe",   "forfiles.exe",       "pcalua.exe",
    "hh.exe",        "certutil.exe",       "bitsadmin.exe",
    "wmic.exe",      "schtasks.exe",       "installutil.exe",
    "regasm.exe",    "regsvcs.exe",        "msbuild.exe",
    "cmstp.exe",     "odbcconf.exe",       "control.exe",
    "mavinject.exe", "scriptrunner.exe",   "syncappvpublishingserver.exe",
};

// The last name of a path, quotes removed.
std::string_view base_name(std::string_view path) {
    while (!path.empty() && (path.back() == '"' || path.back() == ' ')) path.remove_suffix(1);
    while (!path.empty() && path.front() == '"') path.remove_prefix(1);
    const size_t slash = path.find_last_of("\\/");
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

bool is_switch(std::string_view word) {
    return !word.empty() && (word[0] == '/' || word[0] == '-');
}

struct Collector {
    std::vector<FileRef> files;

    void add(std::string text, bool any_extension, bool pattern = false) {
        while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.pop_back();
        if (text.empty()) return;
        // One reference a text: the strongest reading of it wins.
        for (FileRef& known : files) {
            if (known.text != text || known.pattern != pattern) continue;
            known.any_extension = known.any_extension || any_extension;
            return;
        }
        files.push_back(FileRef{std::move(text), any_extension, pattern});
    }

    // Any word that names a file of a runnable kind; the resolver later drops what is not on
    // the stick.
    void words(const std::vector<std::string>& words, size_t from) {
        for (size_t i = from; i < words.size(); ++i) {
            const std::string word = cmd_unquote(words[i]);
            if (!is_switch(word) && name_is_runnable(word)) add(word, false);
        }
    }

    void program(std::string_view path, std::string_view arguments, bool any_extension, int depth);
    void cmd_line(std::string_view text, int depth);
    void cmd_command(const CmdCommand& command, int depth);
};

// What the interpreter named `name` is handed in `arguments`.
void Collector::program(std::string_view path, std::string_view arguments, bool any_extension,
                        int depth) {
    if (depth > MAX_DEPTH) return;
    const std::string name = rules_interpreter(path);
    if (name.empty()) {
        // Not an interpreter: the program itself runs, and a runnable file among its
        // arguments may be handed on to run.
        add(std::string(path), any_extension);
        words(command_arguments(arguments), 0);
        return;
    }
    const std::vector<std::string> argv = command_arguments(arguments);
    if (name == "cmd.exe" || name == "command.com") {
        bool found = false;
        const std::string text = cmd_command_text(arguments, &found);
        if (found) cmd_line(text, depth + 1);
        return;
    }
    if (name == "wscript.exe" || name == "cscript.exe") {
        // Host options start with //; the first other word is the script, whatever its name
        // (//E:vbscript runs a file of any extension). No script path starts with a slash.
        for (const std::string& word : argv) {
            if (word.rfind('/', 0) == 0) continue;
            add(word, true);
            break;
        }
    } else if (name == "rundll32.exe" || name == "rundll.exe") {
        // rundll32 library,entry arguments
        if (!argv.empty()) add(argv[0].substr(0, argv[0].find(',')), true);
    } else if (name == "regsvr32.exe") {
        for (const std::string& word : argv)
            if (!is_switch(word)) add(word, true);
    } else if (name == "mshta.exe") {
        // A URL or an inline "vbscript:" text is no file on the stick.
        if (!argv.empty() && argv[0].find("://") == std::string::npos &&
            text_ascii_lower(argv[0]).rfind("vbscript:", 0) != 0 &&
            text_ascii_lower(argv[0]).rfind("javascript:", 0) != 0)
            add(argv[0], true);
    } else if (name == "powershell.exe" || name == "pwsh.exe" || name == "powershell_ise.exe") {
        for (size_t i = 0; i + 1 < argv.size(); ++i) {
            const std::string option = text_ascii_lower(argv[i]);
            if (option == "-file" || option == "-f" || option == "/file") add(argv[i + 1], true);
        }
    } else if (name == "msiexec.exe") {
        for (size_t i = 0; i + 1 < argv.size(); ++i) {
            const std::string option = text_ascii_lower(argv[i]);
            if (option == "/i" || option == "-i" || option == "/package" || option == "/a" ||
                option == "/j" || option == "/p" || option == "/update")
                add(argv[i + 1], true);
        }
    } else if (name == "conhost.exe" || name == "pcalua.exe") {
        // conhost [--headless ...] command line;  pcalua -a program -c arguments
        size_t i = 0;
        while (i < argv.size() && is_switch(argv[i])) {
            const std::string option = text_ascii_lower(argv[i]);
            ++i;
            if (option == "--width" || option == "--height" || option == "--signal" ||
                option == "--server") {
                ++i;
            } else if (option == "-a" && i < argv.size()) {
                std::string rest;
                for (size_t k = i + 1; k < argv.size(); ++k)
                    if (text_ascii_lower(argv[k]) != "-c")
                        rest += (rest.empty() ? "" : " ") + argv[k];
                program(argv[i], rest, false, depth + 1);
                return;
            }
        }
        if (i < argv.size()) {
            std::string rest;
            for (size_t k = i + 1; k < argv.size(); ++k)
                rest += (rest.empty() ? "" : " ") + argv[k];
            program(argv[i], rest, false, depth + 1);
        }
        return;
    } else if (name == "forfiles.exe") {
        for (size_t i = 0; i + 1 < argv.size(); ++i) {
            if (text_ascii_lower(argv[i]) != "/c") continue;
            std::string rest;
            const std::string inner = command_program(argv[i + 1], &rest);
            program(inner, rest, false, depth + 1);
        }
        return;
    }
    words(argv, 0);
}

void Collector::cmd_line(std::string_view text, int depth) {
    if (depth > MAX_DEPTH) return;
    for (const CmdCommand& command : cmd_commands(text)) cmd_command(command, depth);
}

void Collector::cmd_command(const CmdCommand& command, int depth) {
    // cmd reads its commands, or a program its input, from a file: whatever it is called.
    for (const std::string& input : command.inputs) add(input, true);
    if (command.words.empty()) return;
    const std::vector<std::string>& w = command.words;
    const std::string verb = text_ascii_lower(cmd_unquote(w[0]));
    auto rest_from = [&](size_t from) {
        std::string rest;
        for (size_t k = from; k < w.size(); ++k) rest += (k > from ? " " : "") + w[k];
        return rest;
    };
    if (verb == "start") {
        size_t i = 1;
        bool title_taken = false;
        while (i < w.size()) {
            const std::string option = text_ascii_lower(w[i]);
            if (!title_taken && !w[i].empty() && w[i][0] == '"') {
                // start takes its first quoted word as the window's title.
                title_taken = true;
                ++i;
            } else if (option == "/d" || option == "/node" || option == "/affinity") {
                i += 2;
            } else if (is_switch(option)) {
                ++i;
            } else {
                break;
            }
        }
        if (i >= w.size()) return;
        const std::string target = cmd_unquote(w[i]);
        // start opens a folder or a document for the user: only a runnable target runs.
        if (rules_interpreter(target).empty() && !name_is_runnable(target)) {
            words(w, i + 1);
            return;
        }
        program(target, rest_from(i + 1), false, depth + 1);
        return;
    }
    if (verb == "call") {
        if (w.size() > 1 && !w[1].empty() && w[1][0] != ':')
            program(cmd_unquote(w[1]), rest_from(2), false, depth + 1);
        return;
    }
    if (verb == "ren" || verb == "rename") {
        // Renaming files to a runnable name readies them to run ("ren x\*.vbss *.vbs").
        if (w.size() >= 3 && name_is_runnable(cmd_unquote(w[2])))
            add(cmd_unquote(w[1]), true, true);
        return;
    }
    static constexpr std::array<std::string_view, 16> BUILT_INS = {
        "echo",     "exit", "cd",  "chdir", "pushd", "popd", "set", "setlocal",
        "endlocal", "if",   "for", "title", "color", "cls",  "rem", "pause"};
    for (std::string_view built_in : BUILT_INS) {
        if (verb == built_in) {
            words(w, 1);
            return;
        }
    }
    if (verb == "copy" || verb == "xcopy" || verb == "move" || verb == "type" || verb == "del" ||
        verb == "erase" || verb == "attrib" || verb == "md" || verb == "mkdir" || verb == "dir") {
        words(w, 1);
        return;
    }
    program(cmd_unquote(w[0]), rest_from(1), false, depth + 1);
}

} // namespace

std::string rules_interpreter(std::string_view program) {
    std::string name = text_ascii_lower(base_name(program));
    if (name.empty()) return {};
    for (std::string_view known : INTERPRETERS) {
        if (name == known) return name;
        // Windows finds "cmd" as cmd.exe (PATHEXT); "command" is command.com.
        const std::string_view stem = known.substr(0, known.rfind('.'));
        if (name == stem) return std::string(known);
    }
    return {};
}

std::vector<FileRef> rules_command_files(std::string_view program, std::string_view arguments,
                                         bool program_any_extension) {
    Collector collector;
    collector.program(program, arguments, program_any_extension, 0);
    return std::move(collector.files);
}
