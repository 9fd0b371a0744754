#include "runtime/platform/posix/drives.h"
#include "support/posix_fixture.h"

using posix_test::CleanDriveEnv;
using posix_test::ScopedEnv;
using posix_test::ScratchDir;

namespace {

// A mount table as /proc/self/mountinfo shows it: the root, a home partition, two sticks (one
// with a space in its label, written by the kernel as \040), a mount under /mnt, a second
// mount on the same point, a look-alike path that is not under /media, and a tmpfs under /mnt
// (not a medium).
constexpr const char* MOUNTINFO =
    "22 1 8:1 / / rw,relatime shared:1 - ext4 /dev/sda1 rw\n"
    "30 22 8:2 / /home rw,relatime shared:2 - ext4 /dev/sda2 rw\n"
    "41 22 8:17 / /media/ann/KINGSTON rw,nosuid shared:30 - vfat /dev/sdb1 rw,uid=1000\n"
    "42 22 8:33 / /run/media/ann/MY\\040STICK rw shared:31 - vfat /dev/sdc1 rw\n"
    "43 22 8:49 / /mnt/usb rw shared:32 - exfat /dev/sdd1 rw\n"
    "44 22 8:49 / /mnt/usb rw shared:33 - exfat /dev/sdd1 rw\n"
    "45 22 0:50 / /mediastore rw shared:34 - ext4 /dev/sde1 rw\n"
    "46 22 0:51 / /mnt/tools ro shared:35 - tmpfs tools ro\n";

constexpr const char* PROC_MOUNTS = "/dev/sda1 / ext4 rw 0 0\n"
                                    "/dev/sdb1 /media/bob/CARD vfat rw 0 0\n"
                                    "tmpfs /run tmpfs rw 0 0\n"
                                    "server:/export /mnt/nfs nfs rw 0 0\n";

TEST(drive_removable_mounts, mountinfo_in_mount_order_without_repeats) {
    const std::vector<std::string> expected{"/media/ann/KINGSTON", "/run/media/ann/MY STICK",
                                            "/mnt/usb"};
    EXPECT_EQ(drive_removable_mounts(MOUNTINFO), expected);
}

TEST(drive_removable_mounts, proc_mounts_layout) {
    EXPECT_EQ(drive_removable_mounts(PROC_MOUNTS), std::vector<std::string>{"/media/bob/CARD"});
}

TEST(drive_removable_mounts, garbage_gives_nothing) {
    for (const char* text : {"", "\n\n", "x", "1 2 3 4", "- - - - - -", "/media"})
        EXPECT_TRUE(drive_removable_mounts(text).empty()) << text;
}

TEST(drive_root_with, letters_from_e_upward_and_c_is_root) {
    CleanDriveEnv clean;
    const std::vector<std::string> mounts = drive_removable_mounts(MOUNTINFO);
    const struct {
        char letter;
        const char* root;
    } cases[] = {
        {'C', "/"},
        {'c', "/"},
        {'E', "/media/ann/KINGSTON"},
        {'f', "/run/media/ann/MY STICK"},
        {'G', "/mnt/usb"},
        {'H', ""},
        {'A', ""},
        {'B', ""},
        {'D', ""},
        {'Z', ""},
        {'1', ""},
        {':', ""},
    };
    for (const auto& c : cases) EXPECT_EQ(drive_root_with(c.letter, mounts), c.root) << c.letter;
}

TEST(drive_root_with, environment_wins_and_its_letters_are_skipped) {
    CleanDriveEnv clean;
    ScopedEnv e("UNVEILO_DRIVE_E", "/srv/stick/");
    ScopedEnv c("UNVEILO_DRIVE_C", "/srv/c");
    ScopedEnv q("UNVEILO_DRIVE_Q", "/srv/q");
    const std::vector<std::string> mounts = drive_removable_mounts(MOUNTINFO);
    EXPECT_EQ(drive_root_with('E', mounts), "/srv/stick"); // trailing slash dropped
    EXPECT_EQ(drive_root_with('C', mounts), "/srv/c");
    EXPECT_EQ(drive_root_with('Q', mounts), "/srv/q");
    // The first medium moves on to F rather than hiding behind E.
    EXPECT_EQ(drive_root_with('F', mounts), "/media/ann/KINGSTON");
    EXPECT_EQ(drive_root_with('H', mounts), "/mnt/usb");
    EXPECT_EQ(drive_root_with('I', mounts), "");
}

TEST(dos_to_host_path, drive_forms_and_relative_paths) {
    CleanDriveEnv clean;
    ScopedEnv e("UNVEILO_DRIVE_E", "/srv/stick");
    const struct {
        const char* dos;
        const char* host;
    } cases[] = {
        {"E:\\", "/srv/stick/"},
        {"e:", "/srv/stick/"},
        {"E:\\temp.bat", "/srv/stick/temp.bat"},
        {"E:/a/b", "/srv/stick/a/b"},
        {"E:\\My Files\\x.txt", "/srv/stick/My Files/x.txt"},
        {"E:name", "/srv/stick/name"},
        {"C:\\Windows", "/Windows"},
        {"C:\\", "/"},
        {"datafile.dat", "datafile.dat"},
        {"sub\\dir\\f", "sub/dir/f"},
        {"\\abs\\f", "/abs/f"},
        {"", ""},
    };
    for (const auto& c : cases) {
        std::string host = "stale";
        EXPECT_TRUE(dos_to_host_path(c.dos, host)) << c.dos;
        EXPECT_EQ(host, c.host) << c.dos;
    }
}

TEST(dos_to_host_path, letter_without_drive_is_refused) {
    CleanDriveEnv clean;
    for (const char* dos : {"A:\\", "B:\\x", "D:"}) {
        std::string host = "stale";
        EXPECT_FALSE(dos_to_host_path(dos, host)) << dos;
        EXPECT_TRUE(host.empty());
    }
}

TEST(drive_root_is_system, root_by_any_name_is_the_system_drive) {
    CleanDriveEnv clean;
    ScratchDir scratch;
    ASSERT_FALSE(scratch.path().empty());
    ScopedEnv e("UNVEILO_DRIVE_E", scratch.path().c_str());
    ScopedEnv f("UNVEILO_DRIVE_F", "/.");
    ScopedEnv g("UNVEILO_DRIVE_G", "//");
    EXPECT_TRUE(drive_root_is_system('C'));
    EXPECT_TRUE(drive_root_is_system('f'));
    EXPECT_TRUE(drive_root_is_system('G'));
    EXPECT_FALSE(drive_root_is_system('E'));
    EXPECT_FALSE(drive_root_is_system('B')); // no drive at all is not the system drive
}

TEST(host_to_dos_path, the_deepest_drive_holding_the_path_names_it) {
    CleanDriveEnv clean;
    ScopedEnv e("UNVEILO_DRIVE_E", "/srv/stick");
    ScopedEnv f("UNVEILO_DRIVE_F", "/srv/stick/inner");
    const struct {
        const char* host;
        const char* dos;
    } cases[] = {
        {"/srv/stick", "E:\\"},
        {"/srv/stick/", "E:\\"},
        {"/srv/stick/a/b.txt", "E:\\a\\b.txt"},
        {"/srv/stick/inner/x", "F:\\x"},
        {"/srv/sticky/x", "C:\\srv\\sticky\\x"}, // a look-alike name is not inside E:
        {"/", "C:\\"},
    };
    for (const auto& c : cases) {
        std::string dos = "stale";
        EXPECT_TRUE(host_to_dos_path(c.host, dos)) << c.host;
        EXPECT_EQ(dos, c.dos) << c.host;
    }
    ScopedEnv c("UNVEILO_DRIVE_C", "/srv/other");
    std::string dos = "kept";
    EXPECT_FALSE(host_to_dos_path("/usr/bin", dos));
    EXPECT_EQ(dos, "kept");
}

TEST(drive_root, environment_reaches_the_live_map) {
    CleanDriveEnv clean;
    ScopedEnv k("UNVEILO_DRIVE_K", "/srv/k");
    EXPECT_EQ(drive_root('k'), "/srv/k");
    EXPECT_EQ(drive_root('C'), "/");
    EXPECT_EQ(drive_root('A'), "");
}

} // namespace
