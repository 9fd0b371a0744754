// The undo record: every name survives the trip through the file, and a record tampered with on
// the stick is read no further than it makes sense.
#include <gtest/gtest.h>

#include "clean/manifest.h"

namespace {

TEST(manifest_path, every_name_survives_the_file) {
    const VolumePath paths[] = {
        {"a", "b.txt"},
        {"100% & x^y (1).js"},
        {"\u00a0", "Holiday"},
        {"tab\there", "new\nline", "cr\r"},
        {"back\\slash", "%41"},
        {"\xff\xfe not utf-8", "\xed\xa0\x80 lone surrogate"},
        {"\u202egpj.exe", "照片", "🎉.vbs"},
    };
    for (const VolumePath& path : paths) {
        const std::string text = manifest_path_text(path);
        EXPECT_EQ(text.find_first_of("\t\n\r\\"), std::string::npos) << text;
        VolumePath back;
        ASSERT_TRUE(manifest_path_parse(text, back)) << text;
        EXPECT_EQ(back, path) << text;
    }
}

TEST(manifest_path, refuses_what_leaves_a_folder) {
    for (const char* text :
         {"", "a//b", "..", "a/../b", ".", "a/.", "%2F", "%00", "%4", "%G1", "a/"}) {
        VolumePath path{"unchanged"};
        EXPECT_FALSE(manifest_path_parse(text, path)) << text;
        EXPECT_EQ(path, VolumePath{"unchanged"});
    }
}

TEST(manifest_parse, marks_and_junk) {
    std::string text = manifest_header() + manifest_run_line("2026-12-08 10:00", "E:");
    text += manifest_move_line(1, {"x.vbs"}, {"UNVEILO-QUARANTINE", "x.vbs.quarantined"});
    text += manifest_mark_line("done", 1);
    text += manifest_move_line(2, {"y.vbs"}, {"UNVEILO-QUARANTINE", "y.vbs.quarantined"});
    text += manifest_mark_line("failed", 2);
    text += manifest_move_line(3, {"\u00a0", "Docs"}, {"Docs"});
    text += manifest_mark_line("undone", 3);
    text += "move\t4\t../../etc\tx\n"; // leaves the drive: skipped
    text += "move\t1\tother\tplace\n"; // an id twice: the first record stands
    text += "move\t5\ta\tb\textra\n";  // too many fields
    text += "undone\t99\n";            // no such move
    text += "move\t6\tz.js\tUNVEILO-QUARANTINE/z.js.quarantined\r\n"; // CRLF
    text += std::string("\0\xff\xfe", 3) + "garbage\n";
    const std::vector<ManifestMove> moves = manifest_parse(text);
    ASSERT_EQ(moves.size(), 4u);
    EXPECT_EQ(moves[0].id, 1);
    EXPECT_EQ(moves[0].from, VolumePath{"x.vbs"});
    EXPECT_FALSE(moves[0].failed || moves[0].undone);
    EXPECT_TRUE(moves[1].failed);
    EXPECT_TRUE(moves[2].undone);
    EXPECT_EQ(moves[2].from, (VolumePath{"\u00a0", "Docs"}));
    EXPECT_EQ(moves[3].to, (VolumePath{"UNVEILO-QUARANTINE", "z.js.quarantined"}));
}

} // namespace
