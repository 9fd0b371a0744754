#include "runtime/os/fs.h"

#include <gtest/gtest.h>

#include <cctype>
#include <string>
#include <vector>

#include "os_fixture.h"
#include "runtime/base/error.h"
#include "runtime/os/drive.h"
#include "runtime/platform/platform.h"

using namespace os_test;

namespace {

class FsQuery : public OsFolderTest {
  protected:
    void SetUp() override {
        OsFolderTest::SetUp();
        make_file("afile.txt");
        make_dir("adir");
        make_file("adir/inner.txt");
    }
};

struct QueryCase {
    const char* path;
    int32_t file;
    int32_t dir;
};

TEST_F(FsQuery, answers_for_files_directories_and_what_is_neither) {
    const QueryCase cases[] = {
        {"", 0, 0},
        {"afile.txt", -1, 0},
        {"AFILE.TXT", -1, 0}, // no case on Windows; found by name on POSIX only when it matches
        {"adir", 0, -1},
        {"adir\\", 0, -1},
        {"adir/", 0, -1},
        {"adir\\inner.txt", -1, 0},
        {"adir/inner.txt", -1, 0},
        {".\\adir", 0, -1},
        {"a*.txt", 0, 0}, // wildcards are not expanded
        {"adir\\*", 0, 0},
        {"missing", 0, 0},
        {"missing\\inner.txt", 0, 0},
        {"afile.txt\\", 0, 0},
        {"C:\\", 0, -1},
        {"c:/", 0, -1},
        {"Q:\\", 0, 0}, // no such drive
    };
    for (const QueryCase& c : cases) {
        SCOPED_TRACE(c.path);
        if (std::string(c.path) == "AFILE.TXT" && !exists("AFILE.TXT")) continue;
        EXPECT_EQ(file_exists(text(c.path)), c.file);
        EXPECT_EQ(dir_exists(text(c.path)), c.dir);
        EXPECT_EQ(error(), 0u);
    }
}

TEST_F(FsQuery, a_pending_error_makes_both_answer_zero) {
    error_raise(ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(file_exists(text("afile.txt")), 0);
    EXPECT_EQ(dir_exists(text("adir")), 0);
}

TEST_F(FsQuery, the_path_is_copied_with_a_zero_byte_and_the_argument_kept) {
    BasicString* path = text("adir/inner.txt");
    EXPECT_EQ(file_exists(path), -1);
    EXPECT_EQ(contents(path), "adir/inner.txt");
    ASSERT_NE(fs_state.exists_work, nullptr);
    EXPECT_EQ(contents(fs_state.exists_work), std::string("adir\\inner.txt") + '\0');
}

TEST_F(FsQuery, a_temporary_path_is_consumed) {
    int32_t mark = str_temp_mark();
    BasicString* path = str_new(9, true);
    std::memcpy(path->chars, "afile.txt", 9);
    EXPECT_EQ(file_exists(path), -1);
    EXPECT_EQ(str_temp_mark(), mark);
}

TEST(path_fixup, turns_every_forward_slash_into_a_backslash_in_place) {
    run_state_reset();
    conv_memory_init();
    str_engine_reset();
    BasicString* s = text(std::string("a/b\\c//d") + '\0');
    path_fixup(s);
    EXPECT_EQ(contents(s), std::string("a\\b\\c\\\\d") + '\0');
    EXPECT_EQ(run_state.error_code.load(), 0u);
}

using FsDelete = OsFolderTest;

TEST_F(FsDelete, a_pattern_deletes_only_the_matching_files) {
    make_file("one.tmp");
    make_file("two.TMP");
    make_file("keep.txt");
    make_dir("dir.tmp");
    file_delete(text("*.tmp"));
    EXPECT_EQ(error(), 0u);
    EXPECT_FALSE(exists("one.tmp"));
    EXPECT_FALSE(exists("two.TMP"));
    EXPECT_TRUE(exists("keep.txt"));
    EXPECT_TRUE(exists("dir.tmp")); // directories are skipped
}

TEST_F(FsDelete, a_pattern_in_a_subdirectory_with_forward_slashes) {
    make_dir("sub");
    make_file("sub/a.txt");
    make_file("sub/b.txt");
    make_file("sub/c.dat");
    file_delete(text("sub/?.txt"));
    EXPECT_EQ(error(), 0u);
    EXPECT_FALSE(exists("sub/a.txt"));
    EXPECT_FALSE(exists("sub/b.txt"));
    EXPECT_TRUE(exists("sub/c.dat"));
}

TEST_F(FsDelete, failures_raise_53_or_55) {
    struct Case {
        const char* pattern;
        uint32_t code;
    };
    make_dir("only_dirs1");
    make_dir("only_dirs2");
    make_file("locked.txt");
    make_read_only("locked.txt");
    const Case cases[] = {
        {"nothing.*", ERROR_FILE_NOT_FOUND},
        {"only_dirs*", ERROR_FILE_NOT_FOUND}, // matched directories only
        {"missing\\*.txt", ERROR_FILE_NOT_FOUND},
        {"locked.txt", ERROR_FILE_ALREADY_OPEN},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pattern);
        run_state_reset();
        file_delete(text(c.pattern));
        EXPECT_EQ(error(), c.code);
    }
    EXPECT_TRUE(exists("locked.txt"));
}

TEST_F(FsDelete, nothing_happens_while_an_error_is_pending) {
    make_file("a.txt");
    error_raise(ERROR_PATH_NOT_FOUND);
    file_delete(text("a.txt"));
    EXPECT_TRUE(exists("a.txt"));
    EXPECT_EQ(error(), uint32_t(ERROR_PATH_NOT_FOUND));
}

using FsRename = OsFolderTest;

TEST_F(FsRename, renames_and_maps_its_failures) {
    make_file("old.txt", "data");
    make_file("taken.txt");
    file_rename(text("old.txt"), text("new.txt"));
    EXPECT_EQ(error(), 0u);
    EXPECT_FALSE(exists("old.txt"));
    EXPECT_TRUE(exists("new.txt"));

    file_rename(text("old.txt"), text("other.txt"));
    EXPECT_EQ(error(), uint32_t(ERROR_FILE_NOT_FOUND));
    run_state_reset();
    // An existing target is never replaced.
    file_rename(text("new.txt"), text("taken.txt"));
    EXPECT_EQ(error(), uint32_t(ERROR_PATH_FILE_ACCESS));
    EXPECT_TRUE(exists("new.txt"));
}

// A name Windows refuses is refused on every system, and the file keeps its old name.
TEST_F(FsRename, names_windows_refuses_are_bad_file_names) {
    make_file("old.txt");
    for (const char* name : {"a*.txt", "a?.txt", "a<.txt", "a>.txt", "a|.txt", "a\"b.txt"}) {
        run_state_reset();
        file_rename(text("old.txt"), text(name));
        EXPECT_EQ(error(), uint32_t(ERROR_BAD_FILE_NAME)) << name;
        EXPECT_TRUE(exists("old.txt")) << name;
    }
}

using FsDir = OsFolderTest;

TEST_F(FsDir, make_change_and_remove_with_their_error_codes) {
    dir_make(text("made"));
    EXPECT_EQ(error(), 0u);
    EXPECT_TRUE(stdfs::is_directory("made"));

    struct Case {
        void (*statement)(BasicString*);
        const char* path;
        uint32_t code;
    };
    make_dir("full");
    make_file("full/f.txt");
    const Case cases[] = {
        {dir_make, "made", ERROR_PATH_FILE_ACCESS},
        {dir_make, "missing/child", ERROR_PATH_NOT_FOUND},
        {dir_remove, "full", ERROR_PATH_FILE_ACCESS},
        {dir_remove, "missing", ERROR_PATH_NOT_FOUND},
        {dir_change, "missing", ERROR_PATH_NOT_FOUND},
        {dir_change, "", ERROR_PATH_NOT_FOUND},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        run_state_reset();
        c.statement(text(c.path));
        EXPECT_EQ(error(), c.code);
    }
    run_state_reset();
    dir_change(text("full/"));
    EXPECT_EQ(error(), 0u);
    EXPECT_TRUE(exists("f.txt"));
    dir_change(text(".."));
    dir_remove(text("made"));
    EXPECT_EQ(error(), 0u);
    EXPECT_FALSE(exists("made"));
}

TEST_F(FsDir, hosted_mode_refuses_make_and_list) {
    os_hosted_mode = 1;
    dir_make(text("made"));
    EXPECT_EQ(error(), uint32_t(ERROR_UNAVAILABLE_HOSTED));
    EXPECT_FALSE(exists("made"));
    run_state_reset();
    dir_list(nullptr, 0);
    EXPECT_EQ(error(), uint32_t(ERROR_UNAVAILABLE_HOSTED));
}

// A screen of 80 columns as dir_list sees it: the fit check moves to a new line when a text
// would not fit on the rest of the current one.
struct FakeScreen {
    std::vector<std::string> lines{""};
    static FakeScreen* current;
    static void print(BasicString* s, int32_t end_line) {
        current->lines.back() += contents(s);
        if (end_line != 0) current->lines.emplace_back();
    }
    static void fit(BasicString* s) {
        if (!current->lines.back().empty() && current->lines.back().size() + size_t(s->length) > 80)
            current->lines.emplace_back();
    }
    static void newline() { current->lines.emplace_back(); }
    static int32_t column() { return int32_t(current->lines.back().size()) + 1; }
};
FakeScreen* FakeScreen::current = nullptr;

class FsList : public OsFolderTest {
  protected:
    void SetUp() override {
        OsFolderTest::SetUp();
        FakeScreen::current = &screen_;
        dir_list_set_printer(DirListPrinter{FakeScreen::print, FakeScreen::fit, FakeScreen::newline,
                                            FakeScreen::column});
    }
    void TearDown() override {
        dir_list_set_printer(DirListPrinter{});
        FakeScreen::current = nullptr;
        OsFolderTest::TearDown();
    }
    FakeScreen screen_;
};

TEST_F(FsList, cells_of_18_columns_four_to_a_line_then_the_free_bytes) {
    make_dir("list");
    for (const char* name : {"a.txt", "readme", "b.c", "data.json"})
        make_file(std::string("list/") + name);
    make_dir("list/sub");
    make_file("list/a long file name.text");
    dir_list(text("list/*.*"), 1);
    ASSERT_EQ(error(), 0u);
    const std::vector<std::string>& lines = screen_.lines;
    ASSERT_GE(lines.size(), 4u);
    std::string current;
    ASSERT_TRUE(platform_fs_current_dir(current));
    EXPECT_NE(lines[0].find(':'), std::string::npos) << lines[0];
    for (char c : lines[0]) EXPECT_FALSE(c >= 'a' && c <= 'z') << lines[0];

    std::string cells;
    for (size_t i = 1; i + 2 < lines.size(); ++i) {
        EXPECT_LE(lines[i].size(), 80u);
        EXPECT_EQ(lines[i].size() % 18, 0u) << lines[i];
        cells += lines[i];
    }
    for (const char* cell :
         {"A       .TXT      ", "README            ", "B       .C        ", "SUB         <DIR> "}) {
        EXPECT_NE(cells.find(cell), std::string::npos) << cell << " in\n" << cells;
    }
    // Names that do not fit 8.3 appear by their short names, with a "~" and the extension cut
    // to three characters (how the rest is made up is the file system's business).
    for (const char* extension : {".TEX      ", ".JSO      "}) {
        size_t at = cells.find(extension);
        ASSERT_NE(at, std::string::npos) << cells;
        ASSERT_GE(at, 8u);
        EXPECT_NE(cells.substr(at - 8, 8).find('~'), std::string::npos) << cells;
    }
    EXPECT_EQ(lines[lines.size() - 1], "");
    const std::string& free_line = lines[lines.size() - 2];
    ASSERT_GT(free_line.size(), 12u);
    EXPECT_EQ(free_line[0], ' ');
    EXPECT_EQ(free_line.substr(free_line.size() - 11), " Bytes free");
    for (size_t i = 1; i < free_line.size() - 11; ++i) EXPECT_TRUE(std::isdigit(free_line[i]));
}

TEST_F(FsList, a_directory_name_with_a_closing_separator_lists_its_contents) {
    make_dir("inside");
    make_file("inside/only.bin");
    for (const char* pattern : {"inside\\", "inside/"}) {
        SCOPED_TRACE(pattern);
        screen_.lines = {""};
        dir_list(text(pattern), 1);
        ASSERT_EQ(error(), 0u);
        std::string all;
        for (const std::string& line : screen_.lines) all += line + "\n";
        EXPECT_NE(all.find("ONLY    .BIN      "), std::string::npos) << all;
    }
}

TEST_F(FsList, without_a_specification_the_working_directory_is_listed) {
    make_file("here.txt");
    dir_list(nullptr, 0);
    ASSERT_EQ(error(), 0u);
    std::string all;
    for (const std::string& line : screen_.lines) all += line + "\n";
    EXPECT_NE(all.find("HERE    .TXT      "), std::string::npos) << all;
}

TEST_F(FsList, no_match_raises_53_after_the_directory_line) {
    dir_list(text("*.none"), 1);
    EXPECT_EQ(error(), uint32_t(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(screen_.lines.size(), 2u); // the current directory, then nothing
}

TEST(drive_is_system, the_drive_of_the_system_and_nothing_else) {
    run_state_reset();
    conv_memory_init();
    str_engine_reset();
    struct Case {
        const char* path;
        int32_t expected;
    };
    const Case cases[] = {
        {"C:\\", -1}, {"c:\\", -1}, {"C:", -1}, {"Q:\\", 0}, {"", 0}, {"C", 0}, {"1:\\", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(drive_is_system(text(c.path)), c.expected);
    }
    error_raise(ERROR_PATH_NOT_FOUND);
    EXPECT_EQ(drive_is_system(text("C:\\")), 0);
}

} // namespace

namespace {

TEST(os_directory_part, what_the_names_of_a_search_are_appended_to) {
    struct Case {
        const char* pattern;
        const char* directory;
    };
    const Case cases[] = {
        {"*.txt", ""},        {"a\\b\\*.txt", "a\\b\\"}, {"a/b", "a/"},
        {"E:\\*.*", "E:\\"},  {"E:\\", "E:\\"},          {"\\x", "\\"},
        {"E:foo*.txt", "E:"}, // on drive E:, not in the working directory
        {"1:x", ""},
    };
    for (const Case& c : cases) EXPECT_EQ(os_directory_part(c.pattern), c.directory) << c.pattern;
}

} // namespace
