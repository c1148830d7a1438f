#include "modules/fs/volumes.h"

#include <gtest/gtest.h>

using namespace kx5;

TEST(FsVolumes, MountInfoLinesAreParsedAndFiltered) {
    const auto mounts = parseMountInfo(
        "26 1 254:0 / / rw,relatime - ext4 /dev/vda rw\n"
        "21 26 0:20 / /proc rw,relatime - proc proc rw\n"
        "30 26 8:17 / /media/anna/MY\\040STICK rw,nosuid shared:5 master:1 - vfat /dev/sdb1 rw\n"
        "31 26 8:2 / /home rw - ext4 /dev/sda2 rw\n"
        "32 26 8:33 / /run/media/bob/Disk rw - exfat /dev/sdc1 rw\n"
        "33 26 0:40 / /mnt/scratch rw - tmpfs tmpfs rw\n"
        "broken line\n");
    ASSERT_EQ(mounts.size(), 6u);
    EXPECT_EQ(mounts[2].mountPoint, "/media/anna/MY STICK");
    EXPECT_EQ(mounts[2].type, "vfat");
    EXPECT_EQ(mounts[2].source, "/dev/sdb1");
    EXPECT_EQ(mounts[2].major, 8u);
    EXPECT_EQ(mounts[2].minor, 17u);
    std::vector<std::string> shown;
    for (const auto& m : mounts)
        if (isUserVolume(m)) shown.push_back(m.mountPoint);
    EXPECT_EQ(shown, (std::vector<std::string>{"/", "/media/anna/MY STICK", "/home",
                                               "/run/media/bob/Disk"}));
}
