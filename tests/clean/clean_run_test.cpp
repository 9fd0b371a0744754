// The clean-up and its undo on a real folder: a dry run changes nothing, a run moves what the
// plan says and records it, and undo puts the folder back exactly as it was, never over a name
// that is taken again. POSIX only: there a drive may be a folder (Windows needs a letter, which
// the Wine runs of the stick corpus cover).
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>

#include "clean/clean.h"
#include "clean/lnk_writer.h"
#include "clean/manifest.h"
#include "runtime/platform/utf16.h"

namespace fs = std::filesystem;

namespace {

std::string output;

void catch_line(std::string_view line) {
    output += line;
    output += '\n';
}

using Snapshot = std::map<std::string, std::string>;

Snapshot snapshot(const fs::path& root) {
    Snapshot files;
    for (const auto& item : fs::recursive_directory_iterator(root)) {
        const std::string name = fs::relative(item.path(), root).string();
        if (item.is_directory()) {
            files[name] = "<folder>";
            continue;
        }
        std::ifstream in(item.path(), std::ios::binary);
        files[name] = std::string(std::istreambuf_iterator<char>(in), {});
    }
    return files;
}

void write(const fs::path& path, const std::string& contents) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << contents;
}

std::string runner_shortcut(const std::string& arguments) {
    lnk_writer::Layout layout;
    layout.link_info = lnk_writer::local_target("C:\\Windows\\System32\\cmd.exe", 3);
    layout.arguments = utf8_to_utf16(arguments);
    const lnk_writer::Bytes bytes = lnk_writer::write(layout).bytes;
    return std::string(bytes.begin(), bytes.end());
}

class CleanRun : public ::testing::Test {
  protected:
    void SetUp() override {
        stick = fs::temp_directory_path() /
                ("unveilo-clean-test-" +
                 std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(stick);
        fs::create_directories(stick);
        std::string shown;
        if (volume_open(stick.string(), shown) != VolumeOpen::ok)
            GTEST_SKIP() << "a folder is no drive on this system";
        clean_set_output(catch_line);
        output.clear();
        write(stick / "Photos" / "a.jpg", "jpeg");
        write(stick / "Photos.lnk", runner_shortcut("/c start x.vbs&start explorer Photos&exit"));
        write(stick / "x.vbs", "WScript.Echo 1");
        write(stick / "\u00a0" / "Holiday" / "beach.jpg", "beach");
        write(stick / "\u00a0" / "notes.txt", "kept inside: the root has one");
        write(stick / "notes.txt", "mine");
        write(stick / "temp.bat", "@echo the batch");
        write(stick / "autorun.inf", "[autorun]\r\nopen=x.vbs\r\n");
        before = snapshot(stick);
    }
    void TearDown() override {
        clean_set_output(nullptr);
        fs::remove_all(stick);
    }
    int run(bool dry) {
        CleanOptions options;
        options.dry_run = dry;
        options.batch = "temp.bat";
        output.clear();
        return clean_run(options, "E:");
    }
    int undo() {
        output.clear();
        return clean_undo("E:");
    }

    fs::path stick;
    Snapshot before;
};

TEST_F(CleanRun, dry_run_then_run_then_undo) {
    EXPECT_EQ(run(true), CLEAN_EXIT_OK);
    EXPECT_EQ(snapshot(stick), before) << output;
    EXPECT_NE(output.find("Would move \"x.vbs\""), std::string::npos) << output;

    EXPECT_EQ(run(false), CLEAN_EXIT_OK) << output;
    const fs::path q = stick / "UNVEILO-QUARANTINE";
    for (const char* name : {"Photos.lnk", "x.vbs", "autorun.inf"})
        EXPECT_TRUE(fs::exists(q / (std::string(name) + ".quarantined"))) << name << output;
    EXPECT_TRUE(fs::exists(stick / "Holiday" / "beach.jpg"));
    EXPECT_TRUE(fs::exists(stick / "\u00a0" / "notes.txt"));
    EXPECT_TRUE(fs::exists(stick / "temp.bat"));
    std::ifstream readme(q / "README-UNVEILO.txt", std::ios::binary);
    const std::string note(std::istreambuf_iterator<char>(readme), {});
    EXPECT_EQ(note.rfind("\xEF\xBB\xBF", 0), 0u);
    EXPECT_NE(note.find("unveilo-clean --undo E:"), std::string::npos);
    EXPECT_NE(note.find("\"x.vbs\""), std::string::npos);
    EXPECT_NE(output.find("Unveilo clean-up finished."), std::string::npos);

    // A second run finds nothing new and keeps the first run's records.
    EXPECT_EQ(run(false), CLEAN_EXIT_OK);
    EXPECT_NE(output.find("Nothing suspicious"), std::string::npos) << output;

    EXPECT_EQ(undo(), CLEAN_EXIT_OK) << output;
    Snapshot after = snapshot(stick);
    for (const char* record : {"UNVEILO-QUARANTINE", "UNVEILO-QUARANTINE/README-UNVEILO.txt",
                               "UNVEILO-QUARANTINE/unveilo-manifest.txt"})
        EXPECT_EQ(after.erase(record), 1u) << record;
    EXPECT_EQ(after, before) << output;
    EXPECT_EQ(undo(), CLEAN_EXIT_OK);
    EXPECT_NE(output.find("Nothing left to put back"), std::string::npos) << output;
}

TEST_F(CleanRun, undo_never_overwrites) {
    ASSERT_EQ(run(false), CLEAN_EXIT_OK) << output;
    write(stick / "x.vbs", "a new file of the user's");
    EXPECT_EQ(undo(), CLEAN_EXIT_INCOMPLETE);
    EXPECT_NE(output.find("Cannot put back \"x.vbs\""), std::string::npos) << output;
    EXPECT_TRUE(fs::exists(stick / "UNVEILO-QUARANTINE" / "x.vbs.quarantined"));
    std::ifstream kept(stick / "x.vbs");
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(kept), {}), "a new file of the user's");
    EXPECT_TRUE(fs::exists(stick / "Photos.lnk")) << "the rest went back";
}

TEST_F(CleanRun, a_stick_pulled_out_midway_leaves_a_record_undo_follows) {
    // The record says a move was made whose end was never marked: undo looks where the entry is.
    fs::create_directories(stick / "UNVEILO-QUARANTINE");
    fs::rename(stick / "x.vbs", stick / "UNVEILO-QUARANTINE" / "x.vbs.quarantined");
    write(stick / "UNVEILO-QUARANTINE" / "unveilo-manifest.txt",
          manifest_header() +
              manifest_move_line(1, {"x.vbs"}, {"UNVEILO-QUARANTINE", "x.vbs.quarantined"}) +
              manifest_move_line(2, {"Photos.lnk"}, {"UNVEILO-QUARANTINE", "Photos.lnk.q"}));
    EXPECT_EQ(undo(), CLEAN_EXIT_OK) << output;
    EXPECT_TRUE(fs::exists(stick / "x.vbs"));
    EXPECT_TRUE(fs::exists(stick / "Photos.lnk"));
}

} // namespace
