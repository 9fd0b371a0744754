#include "clean/records.h"

#include <ctime>

#include "clean/clean.h"
#include "clean/names.h"
#include "runtime/platform/cli.h"

namespace {

// Set once by main or a test before a mode runs; the program is single-threaded.
CleanOutput output = nullptr;

} // namespace

void clean_set_output(CleanOutput hook) {
    output = hook;
}

void say(std::string_view line) {
    if (output != nullptr) {
        output(line);
        return;
    }
    std::string text(line);
    text += '\n';
    cli_write(text);
}

std::string shown_path(const VolumePath& path) {
    std::string shown;
    for (size_t i = 0; i < path.size(); ++i) {
        if (i > 0) shown += '\\';
        shown += name_shown(path[i]);
    }
    return shown;
}

std::string records_now() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    const std::tm* parts = std::localtime(&now);
    if (parts != nullptr) local = *parts;
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M", &local);
    return text;
}

bool records_append(std::string_view name, std::string_view header, std::string_view text) {
    const VolumePath path{std::string(QUARANTINE_FOLDER), std::string(name)};
    VolumeEntry entry;
    const VolumeStatus found = volume_stat(path, entry);
    if (found == VolumeStatus::not_found) {
        std::string whole(header);
        whole += text;
        return volume_create_file(path, whole) == VolumeStatus::ok;
    }
    if (found != VolumeStatus::ok || entry.is_dir || entry.is_link) return false;
    return volume_append(path, text) == VolumeStatus::ok;
}

std::string records_readme_header(std::string_view drive) {
    std::string text = "\xEF\xBB\xBF"; // UTF-8 byte-order mark: Notepad then shows every name
    text +=
        "Unveilo moved the files listed below on this drive.\r\n"
        "A shortcut virus leaves files like these behind: autorun.inf, shortcuts and programs\r\n"
        "that stand in for your folders or start a script, and the scripts, programs and\r\n"
        "libraries they start. Nothing was deleted. Each file got \".quarantined\" added to\r\n"
        "its name, so that a double-click cannot start it.\r\n"
        "\r\n"
        "To put everything back, run this in a command window in Unveilo's folder:\r\n"
        "    unveilo-clean --undo ";
    text += drive;
    text +=
        "\r\n"
        "or move a file back by hand and take \".quarantined\" (and the number before it, if\r\n"
        "there is one) off the end of its name.\r\n"
        "Files the virus had hidden in a folder whose name shows as nothing are listed as\r\n"
        "moved back to the root.\r\n";
    return text;
}
