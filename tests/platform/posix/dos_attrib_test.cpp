#include "runtime/platform/posix/dos_attrib.h"
#include "support/posix_fixture.h"

#include <cerrno>
#include <fcntl.h>
#include <linux/msdos_fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

using posix_test::get_xattr;
using posix_test::samba_record;
using posix_test::ScratchDir;
using posix_test::set_xattr_text;
using posix_test::write_file;

namespace {

TEST(dos_attrib_parse_xattr, text_forms) {
    const struct {
        std::string value;
        bool ok;
        uint32_t attrib;
    } cases[] = {
        {"0x22", true, 0x22},
        {std::string("0x6\0", 4), true, 0x6},
        {"0X2", true, 0x2},
        {"0xfFfF", true, 0xFFFF},
        {"0x0", true, 0},
        {"22", false, 0},
        {"0x", false, 0},
        {"0xZZ", false, 0},
        {"0x123456789", false, 0},
        {std::string("0x2\0x", 5), false, 0},
        {"", false, 0},
    };
    for (const auto& c : cases) {
        uint32_t attrib = 0xDEAD;
        EXPECT_EQ(dos_attrib_parse_xattr(c.value.data(), c.value.size(), attrib), c.ok) << c.value;
        if (c.ok)
            EXPECT_EQ(attrib, c.attrib) << c.value;
        else
            EXPECT_EQ(attrib, 0xDEADu) << "a refused value leaves the result alone";
    }
}

TEST(dos_attrib_parse_xattr, samba_binary_versions) {
    const struct {
        std::string value;
        uint32_t attrib;
    } cases[] = {
        {samba_record("", 4, 0x1, 0x26), 0x26},     // v4: empty text, valid attrib
        {samba_record("", 5, 0x1, 0x22), 0x22},     // v5
        {samba_record("0x20", 3, 0x1, 0x27), 0x27}, // v3: text kept beside the record
        {samba_record("0x20", 3, 0x0, 0x27), 0x20}, // attrib not valid: the text decides
        {samba_record("0x2", 1, 0x12, 0x99), 0x12}, // v1: attrib first
        {samba_record("", 2, 0x99, 0x4), 0x4},      // v2: flags, then attrib
    };
    for (const auto& c : cases) {
        uint32_t attrib = 0;
        EXPECT_TRUE(dos_attrib_parse_xattr(c.value.data(), c.value.size(), attrib));
        EXPECT_EQ(attrib, c.attrib);
    }
    // A record cut short is not trusted.
    const std::string cut = samba_record("", 4, 0x1, 0x26).substr(0, 10);
    uint32_t attrib = 7;
    EXPECT_FALSE(dos_attrib_parse_xattr(cut.data(), cut.size(), attrib));
}

TEST(dos_attrib_format_xattr, text_form) {
    EXPECT_EQ(dos_attrib_format_xattr(0x22), "0x22");
    EXPECT_EQ(dos_attrib_format_xattr(0), "0x0");
}

class DosAttribFile : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(scratch.path().empty());
        file = scratch / "f.txt";
        write_file(file, "data");
        if (!set_xattr_text(file, "0x0")) GTEST_SKIP() << "no user xattrs on " << scratch.path();
    }
    void TearDown() override { dos_attrib_set_ioctl(nullptr); }
    ScratchDir scratch;
    std::string file;
};

TEST_F(DosAttribFile, reads_text_and_binary_forms_and_the_write_permission) {
    uint32_t attrib = 0;
    ASSERT_TRUE(set_xattr_text(file, "0x6"));
    ASSERT_TRUE(dos_attrib_get(file.c_str(), attrib));
    EXPECT_EQ(attrib, 0x6u);
    const std::string record = samba_record("", 4, 0x1, 0x22);
    ASSERT_EQ(setxattr(file.c_str(), "user.DOSATTRIB", record.data(), record.size(), 0), 0);
    chmod(file.c_str(), 0444);
    ASSERT_TRUE(dos_attrib_get(file.c_str(), attrib));
    EXPECT_EQ(attrib, 0x23u) << "read-only comes from the missing write permission";
    ASSERT_TRUE(dos_attrib_get(scratch.path().c_str(), attrib));
    EXPECT_EQ(attrib & DOS_ATTRIB_DIRECTORY, DOS_ATTRIB_DIRECTORY);
    EXPECT_FALSE(dos_attrib_get((scratch / "missing").c_str(), attrib));
    EXPECT_EQ(errno, ENOENT);
}

TEST_F(DosAttribFile, set_writes_the_text_form_and_the_permission) {
    ASSERT_TRUE(dos_attrib_set(file.c_str(), DOS_ATTRIB_HIDDEN | DOS_ATTRIB_READONLY));
    EXPECT_EQ(get_xattr(file), "0x3");
    struct stat info {};
    ASSERT_EQ(stat(file.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0222, 0u);
    ASSERT_TRUE(dos_attrib_set(file.c_str(), 0));
    EXPECT_EQ(get_xattr(file), "0x0");
    ASSERT_EQ(stat(file.c_str(), &info), 0);
    EXPECT_NE(info.st_mode & S_IWUSR, 0u);
}

TEST_F(DosAttribFile, change_keeps_the_bits_it_was_not_asked_about) {
    ASSERT_TRUE(set_xattr_text(file, "0x27"));
    struct stat info {};
    ASSERT_EQ(lstat(file.c_str(), &info), 0);
    uint32_t before = 0;
    ASSERT_TRUE(dos_attrib_change(file.c_str(), info, false, 0, DOS_ATTRIB_HIDDEN, &before));
    EXPECT_EQ(before, 0x27u);
    EXPECT_EQ(get_xattr(file), "0x25");
}

TEST_F(DosAttribFile, a_file_without_a_value_gets_none_when_nothing_is_set) {
    removexattr(file.c_str(), "user.DOSATTRIB");
    struct stat info {};
    ASSERT_EQ(lstat(file.c_str(), &info), 0);
    ASSERT_TRUE(dos_attrib_change(file.c_str(), info, false, 0, DOS_ATTRIB_CHANGEABLE));
    EXPECT_EQ(get_xattr(file), "<none>");
}

TEST_F(DosAttribFile, a_symbolic_link_is_never_changed) {
    const std::string target = scratch / "target";
    write_file(target, "t");
    ASSERT_TRUE(set_xattr_text(target, "0x2"));
    const std::string link = scratch / "link";
    ASSERT_EQ(symlink(target.c_str(), link.c_str()), 0);
    ASSERT_TRUE(dos_attrib_set(link.c_str(), 0));
    EXPECT_EQ(get_xattr(target), "0x2");
    uint32_t attrib = 9;
    ASSERT_TRUE(dos_attrib_get(link.c_str(), attrib));
    EXPECT_EQ(attrib, 0u);
}

// The kernel's answer on a file system that is not FAT, seen through the hook.
int ioctl_calls = 0;
int not_fat_ioctl(int, unsigned long, uint32_t*) {
    ++ioctl_calls;
    errno = ENOTTY;
    return -1;
}

TEST_F(DosAttribFile, enotty_from_the_fat_ioctl_falls_back_to_the_xattr) {
    ioctl_calls = 0;
    dos_attrib_set_ioctl(not_fat_ioctl);
    ASSERT_TRUE(set_xattr_text(file, "0x4"));
    uint32_t attrib = 0;
    ASSERT_TRUE(dos_attrib_get(file.c_str(), attrib));
    EXPECT_EQ(attrib, 0x4u);
    ASSERT_TRUE(dos_attrib_set(file.c_str(), DOS_ATTRIB_ARCHIVE));
    EXPECT_EQ(get_xattr(file), "0x20");
    EXPECT_GE(ioctl_calls, 2);
}

TEST_F(DosAttribFile, the_real_kernel_answers_enotty_here) {
    // Without a hook, the real ioctl on this (non-FAT) file system: the path must still work.
    const int fd = open(file.c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    uint32_t value = 0;
    EXPECT_EQ(ioctl(fd, FAT_IOCTL_GET_ATTRIBUTES, &value), -1);
    EXPECT_EQ(errno, ENOTTY);
    close(fd);
    EXPECT_FALSE(dos_attrib_on_fat(file.c_str()));
}

// A FAT directory entry's attribute byte, as the kernel would keep it.
uint32_t fat_register = 0;
int fake_fat_ioctl(int, unsigned long request, uint32_t* value) {
    if (request == FAT_IOCTL_GET_ATTRIBUTES)
        *value = fat_register;
    else if (request == FAT_IOCTL_SET_ATTRIBUTES)
        fat_register = *value;
    else
        return errno = EINVAL, -1;
    return 0;
}

TEST_F(DosAttribFile, on_fat_the_ioctls_carry_the_bits) {
    fat_register = DOS_ATTRIB_HIDDEN | DOS_ATTRIB_SYSTEM | DOS_ATTRIB_ARCHIVE;
    dos_attrib_set_ioctl(fake_fat_ioctl);
    ASSERT_TRUE(set_xattr_text(file, "0x0"));
    uint32_t attrib = 0;
    ASSERT_TRUE(dos_attrib_get(file.c_str(), attrib));
    EXPECT_EQ(attrib, 0x26u);
    struct stat info {};
    ASSERT_EQ(lstat(file.c_str(), &info), 0);
    ASSERT_TRUE(dos_attrib_change(file.c_str(), info, true, DOS_ATTRIB_READONLY,
                                  DOS_ATTRIB_HIDDEN | DOS_ATTRIB_SYSTEM));
    EXPECT_EQ(fat_register, DOS_ATTRIB_ARCHIVE | DOS_ATTRIB_READONLY);
    EXPECT_EQ(get_xattr(file), "0x0") << "the xattr is not touched on FAT";
}

} // namespace
