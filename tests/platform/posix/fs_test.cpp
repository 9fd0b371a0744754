// The POSIX file-system calls answer like their Windows models: drive letters through the drive
// map, attribute bits from user.DOSATTRIB and the write permission, Windows wildcards, 8.3 names.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>
#include <vector>

#include "runtime/platform/platform.h"

namespace stdfs = std::filesystem;

namespace {

class PosixFs : public ::testing::Test {
  protected:
    void SetUp() override {
        folder_ = stdfs::temp_directory_path() /
                  ("unveilo-posixfs-" + std::to_string(getpid()) + "-" +
                   ::testing::UnitTest::GetInstance()->current_test_info()->name());
        stdfs::remove_all(folder_);
        stdfs::create_directories(folder_);
        const char* old = std::getenv("UNVEILO_DRIVE_E");
        saved_drive_ = old ? old : "";
        platform_setenv("UNVEILO_DRIVE_E", folder_.c_str());
    }
    void TearDown() override {
        platform_setenv("UNVEILO_DRIVE_E", saved_drive_.empty() ? nullptr : saved_drive_.c_str());
        stdfs::permissions(folder_, stdfs::perms::owner_all, stdfs::perm_options::add);
        stdfs::remove_all(folder_);
    }
    void file(const std::string& name) { std::ofstream(folder_ / name) << "x"; }
    bool set_dosattrib(const std::string& name, const char* value) {
        return setxattr((folder_ / name).c_str(), "user.DOSATTRIB", value, std::strlen(value), 0) ==
               0;
    }
    std::vector<FsFindEntry> find_all(const char* pattern) {
        std::vector<FsFindEntry> out;
        FsFindEntry entry;
        FsFind* find = platform_fs_find_first(pattern, entry);
        if (find == nullptr) return out;
        do out.push_back(entry);
        while (platform_fs_find_next(find, entry));
        platform_fs_find_close(find);
        std::sort(out.begin(), out.end(),
                  [](const FsFindEntry& a, const FsFindEntry& b) { return a.name < b.name; });
        return out;
    }

    stdfs::path folder_;
    std::string saved_drive_;
};

TEST_F(PosixFs, attribute_bits_come_from_dosattrib_and_the_write_permission) {
    file("plain.txt");
    file("hidden.sys");
    file("locked.txt");
    stdfs::create_directory(folder_ / "dir");
    if (!set_dosattrib("hidden.sys", "0x26")) GTEST_SKIP() << "no user extended attributes here";
    chmod((folder_ / "locked.txt").c_str(), 0444);
    EXPECT_EQ(platform_fs_attributes("E:\\plain.txt"), FS_ATTRIBUTE_NORMAL);
    EXPECT_EQ(platform_fs_attributes("E:\\hidden.sys"),
              FS_ATTRIBUTE_HIDDEN | FS_ATTRIBUTE_SYSTEM | FS_ATTRIBUTE_ARCHIVE);
    EXPECT_EQ(platform_fs_attributes("E:\\locked.txt") & FS_ATTRIBUTE_READ_ONLY,
              FS_ATTRIBUTE_READ_ONLY);
    EXPECT_EQ(platform_fs_attributes("E:\\dir"), FS_ATTRIBUTE_DIRECTORY);
    EXPECT_EQ(platform_fs_attributes("E:\\"), FS_ATTRIBUTE_DIRECTORY);
    EXPECT_EQ(platform_fs_attributes("E:"), FS_ATTRIBUTE_DIRECTORY);
    EXPECT_EQ(platform_fs_attributes("E:\\*.txt"), FS_ATTRIBUTES_INVALID);
    EXPECT_EQ(platform_fs_attributes("E:\\missing"), FS_ATTRIBUTES_INVALID);
    EXPECT_EQ(platform_fs_attributes(""), FS_ATTRIBUTES_INVALID);
    EXPECT_EQ(platform_fs_delete("E:\\locked.txt"), FsStatus::access_denied);
    EXPECT_EQ(platform_fs_delete("E:\\dir"), FsStatus::access_denied);
    EXPECT_EQ(platform_fs_delete("E:\\missing"), FsStatus::not_found);
    EXPECT_EQ(platform_fs_delete("E:\\hidden.sys"), FsStatus::ok);
}

TEST_F(PosixFs, wildcards_match_without_case_and_a_root_has_no_dot_entries) {
    for (const char* name : {"a.TXT", "b.txt", "c.dat", "noext", "long name.text"}) file(name);
    stdfs::create_directory(folder_ / "Sub");
    struct Case {
        const char* pattern;
        std::vector<std::string> names;
    };
    const Case cases[] = {
        {"E:\\*.txt", {"a.TXT", "b.txt"}},
        {"E:\\?.*", {"a.TXT", "b.txt", "c.dat"}},
        {"E:\\*.*", {"Sub", "a.TXT", "b.txt", "c.dat", "long name.text", "noext"}},
        {"E:/NOEXT", {"noext"}},
        {"E:\\sub", {"Sub"}},
        {"E:\\Sub\\*", {".", ".."}}, // below the root, as on Windows
        {"E:\\*.none", {}},
        {"E:\\", {}},
        {"Q:\\*", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pattern);
        std::vector<std::string> names;
        for (const FsFindEntry& e : find_all(c.pattern)) names.push_back(e.name);
        EXPECT_EQ(names, c.names);
    }
    for (const FsFindEntry& e : find_all("E:\\*")) {
        SCOPED_TRACE(e.name);
        if (e.name == "Sub") {
            EXPECT_EQ(e.attributes, FS_ATTRIBUTE_DIRECTORY);
        }
        if (e.name == "a.TXT") {
            EXPECT_EQ(e.short_name, "a.TXT");
        }
        if (e.name == "long name.text") {
            EXPECT_EQ(e.short_name, "LONGNA~1.TEX");
        }
    }
}

TEST_F(PosixFs, generated_short_names_stay_unique_within_a_search) {
    for (const char* name : {"long name one.txt", "long name two.txt", "long name three.txt"})
        file(name);
    std::vector<std::string> shorts;
    for (const FsFindEntry& e : find_all("E:\\*.txt")) shorts.push_back(e.short_name);
    std::sort(shorts.begin(), shorts.end());
    EXPECT_EQ(shorts, (std::vector<std::string>{"LONGNA~1.TXT", "LONGNA~2.TXT", "LONGNA~3.TXT"}));
}

TEST_F(PosixFs, rename_never_replaces_and_directories_report_their_states) {
    file("a.txt");
    file("b.txt");
    EXPECT_EQ(platform_fs_rename("E:\\a.txt", "E:\\b.txt"), FsStatus::access_denied);
    EXPECT_EQ(platform_fs_rename("E:\\a.txt", "E:\\c.txt"), FsStatus::ok);
    EXPECT_EQ(platform_fs_rename("E:\\a.txt", "E:\\d.txt"), FsStatus::not_found);
    EXPECT_EQ(platform_fs_make_dir("E:\\new"), FsStatus::ok);
    EXPECT_EQ(platform_fs_make_dir("E:\\new"), FsStatus::exists);
    file("new/inside");
    EXPECT_EQ(platform_fs_remove_dir("E:\\new"), FsStatus::not_empty);
    EXPECT_EQ(platform_fs_remove_dir("E:\\nothing"), FsStatus::not_found);
    EXPECT_EQ(platform_fs_make_dir("Q:\\x"), FsStatus::not_found);
}

TEST_F(PosixFs, the_working_directory_reads_back_as_a_dos_path) {
    stdfs::create_directories(folder_ / "long directory" / "inner");
    stdfs::path saved = stdfs::current_path();
    ASSERT_EQ(platform_fs_change_dir("E:\\long directory\\inner"), FsStatus::ok);
    std::string current, short_path;
    bool got = platform_fs_current_dir(current);
    bool got_short = platform_fs_short_path(current.c_str(), short_path);
    stdfs::current_path(saved);
    ASSERT_TRUE(got);
    EXPECT_EQ(current, "E:\\long directory\\inner");
    ASSERT_TRUE(got_short);
    EXPECT_EQ(short_path, "E:\\LONGDI~1\\inner");
    uint64_t free_bytes = 0;
    EXPECT_TRUE(platform_fs_free_bytes("E:\\", free_bytes));
    EXPECT_GT(free_bytes, 0u);
    EXPECT_FALSE(platform_fs_free_bytes("Q:\\", free_bytes));
}

TEST_F(PosixFs, the_system_drive_is_a_letter_mapped_to_the_root) {
    EXPECT_TRUE(platform_fs_is_system_drive('C'));
    EXPECT_FALSE(platform_fs_is_system_drive('E'));
    const char* old = std::getenv("UNVEILO_DRIVE_F");
    std::string saved = old ? old : "";
    platform_setenv("UNVEILO_DRIVE_F", "/");
    EXPECT_TRUE(platform_fs_is_system_drive('f'));
    platform_setenv("UNVEILO_DRIVE_F", old ? saved.c_str() : nullptr);
}

} // namespace
