#pragma once
// DOS drive letters on a POSIX host. The tool and its companion command interpreter speak in
// `X:\...` paths; this map says which host directory stands behind each letter:
//   1. an environment variable UNVEILO_DRIVE_X (X the letter, upper case) always wins;
//   2. C: is the root directory "/";
//   3. removable media (block devices) mounted under /media, /run/media or /mnt take the letters
//      from E: upward, in the order they were mounted, skipping letters set by the environment;
//   4. every other letter has no drive.
#include <string>
#include <string_view>
#include <vector>

// Translates a DOS path to a host path. `X:\a\b` and `X:/a` become the letter's directory
// followed by the rest with forward slashes; a path without a letter only has its backslashes
// turned into slashes. False (and `host` left empty) when the path names a letter with no drive.
bool dos_to_host_path(const char* dos, std::string& host);

// The other way: the drive whose directory holds `host` (an absolute host path) and the path
// below it, as `X:\a\b`. The longest matching directory wins, so a stick mounted under / belongs
// to its own letter rather than to C:. False (and `dos` left as it was) when no drive holds it.
bool host_to_dos_path(const std::string& host, std::string& dos);

// The host directory of a drive letter (either case), without a trailing slash except for "/";
// "" when the letter has no drive.
std::string drive_root(char letter);

// True when the letter's directory is the host's root "/": the drive that holds the operating
// system, which the tool must never sweep.
bool drive_root_is_system(char letter);

// The pieces of the map, kept apart so that tests can feed their own mount table.

// Mount points of removable media (block devices mounted under /media, /run/media or /mnt), in
// mount order, without repeats, from the text of /proc/self/mountinfo or of /proc/mounts (either
// layout).
std::vector<std::string> drive_removable_mounts(std::string_view mount_table);

// The directory of a letter given the removable mounts, reading the environment for overrides.
std::string drive_root_with(char letter, const std::vector<std::string>& removable);
