// The FAT attribute ioctls on a real vfat file system: an image made with mkfs.vfat and
// loop-mounted. Machines that cannot mount one (no vfat module, no loop devices, no privilege)
// skip with the reason; the ioctl path is then covered through the hook in dos_attrib_test.
#include "cmd/cmd_run.h"
#include "runtime/platform/posix/dos_attrib.h"
#include "support/posix_fixture.h"

#include <cstdio>
#include <sys/mount.h>
#include <sys/stat.h>

using posix_test::ScopedEnv;
using posix_test::ScratchDir;
using posix_test::write_file;

namespace {

int run(const std::string& command) {
    return std::system((command + " >/dev/null 2>&1").c_str());
}

TEST(vfat, attrib_through_the_fat_ioctls_on_a_loop_mounted_image) {
    ScratchDir scratch;
    ASSERT_FALSE(scratch.path().empty());
    const std::string image = scratch / "stick.img";
    const std::string mount_point = scratch / "mnt";
    ASSERT_EQ(mkdir(mount_point.c_str(), 0755), 0);
    if (run("truncate -s 4M '" + image + "' && mkfs.vfat '" + image + "'") != 0)
        GTEST_SKIP() << "mkfs.vfat is not available to make a FAT image";
    if (run("mount -o loop -t vfat '" + image + "' '" + mount_point + "'") != 0)
        GTEST_SKIP() << "this machine cannot loop-mount a vfat image (no vfat module, no loop "
                        "device or no privilege); the FAT ioctls are tested through the hook";
    struct Unmount {
        std::string point;
        ~Unmount() { umount(point.c_str()); }
    } unmount{mount_point};

    const std::string file = mount_point + "/virus.vbs";
    write_file(file, "x");
    ASSERT_TRUE(dos_attrib_on_fat(file.c_str()));
    ASSERT_TRUE(dos_attrib_set(file.c_str(), DOS_ATTRIB_HIDDEN | DOS_ATTRIB_SYSTEM));
    uint32_t attrib = 0;
    ASSERT_TRUE(dos_attrib_get(file.c_str(), attrib));
    EXPECT_EQ(attrib & DOS_ATTRIB_CHANGEABLE, DOS_ATTRIB_HIDDEN | DOS_ATTRIB_SYSTEM);

    ScopedEnv drive("UNVEILO_DRIVE_V", mount_point.c_str());
    EXPECT_EQ(cmd_attrib({"-h", "-s", "-r", "/s", "/d", "V:\\*.*"}), 0);
    ASSERT_TRUE(dos_attrib_get(file.c_str(), attrib));
    EXPECT_EQ(attrib & (DOS_ATTRIB_HIDDEN | DOS_ATTRIB_SYSTEM), 0u);
    umount(mount_point.c_str());
    // mtools reads the directory entry itself, without the kernel.
    FILE* listing = popen(("mattrib -i '" + image + "' ::/VIRUS.VBS 2>&1").c_str(), "r");
    ASSERT_NE(listing, nullptr);
    char line[256] = {};
    const bool got = std::fgets(line, sizeof line, listing) != nullptr;
    pclose(listing);
    ASSERT_TRUE(got);
    const std::string text = line;
    const std::string flags = text.substr(0, text.find("::"));
    EXPECT_EQ(flags.find('H'), std::string::npos) << line;
    EXPECT_EQ(flags.find('S'), std::string::npos) << line;
}

} // namespace
