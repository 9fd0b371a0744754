#pragma once
// The record of moves that the clean-up keeps in its quarantine folder, so that --undo can put
// everything back. Each move is written before it is made and marked after, so that a stick
// pulled out in between leaves a record that undo can still follow: it looks at where the entry
// actually is.
//
// The file is UTF-8 text, one record a line, fields separated by tabs:
//   run     <date and time>   <drive>
//   move    <id>              <from>   <to>
//   done    <id>
//   failed  <id>
//   undone  <id>
// A path is its names joined by "/", each name with "%", "/", "\", tabs, line breaks, other
// control bytes and bytes that are not UTF-8 written as %XX. The file lies on the stick and is
// read as hostile input: a line that is not one of these is skipped, and a path with an empty,
// "." or ".." name is refused.
#include <string>
#include <string_view>
#include <vector>

#include "runtime/platform/volume.h"

constexpr std::string_view MANIFEST_NAME = "unveilo-manifest.txt";
// Enough for hundreds of thousands of moves; a larger file is not a record of ours.
constexpr size_t MANIFEST_MAX_BYTES = 64 << 20;

struct ManifestMove {
    long id = 0;
    VolumePath from;
    VolumePath to;
    bool failed = false;
    bool undone = false;
};

std::string manifest_header();
std::string manifest_run_line(std::string_view when, std::string_view drive);
std::string manifest_move_line(long id, const VolumePath& from, const VolumePath& to);
// mark: "done", "failed" or "undone".
std::string manifest_mark_line(std::string_view mark, long id);

// The moves of every run, in the order they were recorded, with their marks applied.
std::vector<ManifestMove> manifest_parse(std::string_view text);

std::string manifest_path_text(const VolumePath& path);
bool manifest_path_parse(std::string_view text, VolumePath& path);
