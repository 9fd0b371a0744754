#pragma once
// What the modes share: their lines to the user, and the two records in the quarantine folder
// (README-UNVEILO.txt for people, the manifest for --undo).
#include <string>
#include <string_view>

#include "runtime/platform/volume.h"

constexpr std::string_view README_NAME = "README-UNVEILO.txt";

// One line to the user (a line break is added).
void say(std::string_view line);
// A path as the lines show it: the names, shown safely, joined by backslashes.
std::string shown_path(const VolumePath& path);
// Local date and time, "2026-12-08 21:40".
std::string records_now();

// Appends to a record in the quarantine folder, creating it with `header` first when it does not
// exist. False when it cannot be written.
bool records_append(std::string_view name, std::string_view header, std::string_view text);
// The text README-UNVEILO.txt starts with; `drive` names the drive in the undo command.
std::string records_readme_header(std::string_view drive);
