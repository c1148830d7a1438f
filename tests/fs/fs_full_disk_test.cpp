// A replace or append that fails part-way (the file system fills up) must
// leave the old content. The full file system is a 64 KiB tmpfs mounted in a
// private mount namespace of a child process.
#include "tests/fs/fs_fixture.h"

#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace kx5;
using namespace kx5::fstest;

namespace {

constexpr int cannotMount = 77;

bool writeText(const char* path, const std::string& text) {
    const int fd = open(path, O_WRONLY);
    if (fd < 0) return false;
    const bool ok = write(fd, text.data(), text.size()) == ssize_t(text.size());
    close(fd);
    return ok;
}

// In the child: a mount namespace (inside a user namespace when not root)
// with a small tmpfs on the folder.
bool mountSmallTmpfs(const std::string& folder) {
    const uid_t uid = geteuid();
    const gid_t gid = getegid();
    if (uid == 0) {
        if (unshare(CLONE_NEWNS) != 0) return false;
    } else {
        if (unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0) return false;
        if (!writeText("/proc/self/setgroups", "deny") ||
            !writeText("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1") ||
            !writeText("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1"))
            return false;
    }
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) return false;
    return mount("tmpfs", folder.c_str(), "tmpfs", 0, "size=64k") == 0;
}

std::string hexOf(size_t bytes, char digit) {
    return std::string(bytes * 2, digit);
}

} // namespace

TEST_F(FsModule, FailedWritesOnAFullFileSystemKeepTheOldContent) {
    const std::string folder = root + "small";
    stdfs::create_directories(folder);
    const std::string path = folder + "/backup.bin";
    const std::string oldHex = hexOf(1000, '5');

    int report[2];
    ASSERT_EQ(pipe(report), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        close(report[0]);
        if (!mountSmallTmpfs(folder)) _exit(cannotMount);
        std::string lines;
        lines += call("writeData", {path, oldHex}) + "\n";
        lines += call("writeData", {path, hexOf(200 * 1024, '7')}) + "\n";
        lines += call("readData", {path}) + "\n";
        lines += call("appendData", {path, hexOf(200 * 1024, '7')}) + "\n";
        lines += call("readData", {path}) + "\n";
        std::vector<std::string> names;
        for (const auto& e : stdfs::directory_iterator(folder))
            names.push_back(e.path().filename());
        for (const auto& n : names)
            lines += n + " ";
        lines += "\n";
        const bool sent = ::write(report[1], lines.data(), lines.size()) == ssize_t(lines.size());
        _exit(sent ? 0 : 1);
    }
    close(report[1]);
    std::string text;
    char buffer[4096];
    for (ssize_t n; (n = read(report[0], buffer, sizeof buffer)) > 0;)
        text.append(buffer, size_t(n));
    close(report[0]);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));

    if (WEXITSTATUS(status) == cannotMount) {
        // No namespaces here: a write-protected file in a write-protected
        // folder is the failure left to show (root may write anyway).
        if (geteuid() == 0) GTEST_SKIP() << "cannot mount a private tmpfs";
        ASSERT_EQ(call("writeData", {path, oldHex}), "v");
        chmod(path.c_str(), 0444);
        chmod(folder.c_str(), 0555);
        EXPECT_EQ(call("writeData", {path, "00"}), "ePermission denied");
        EXPECT_EQ(call("readData", {path}), "s" + oldHex);
        return;
    }
    ASSERT_EQ(WEXITSTATUS(status), 0);
    std::istringstream lines(text);
    std::string line;
    std::getline(lines, line);
    EXPECT_EQ(line, "v");
    std::getline(lines, line);
    EXPECT_EQ(line, "eNo space left on device");
    std::getline(lines, line);
    EXPECT_EQ(line, "s" + oldHex);
    std::getline(lines, line);
    EXPECT_EQ(line, "eNo space left on device");
    std::getline(lines, line);
    EXPECT_EQ(line, "s" + oldHex);
    std::getline(lines, line);
    EXPECT_EQ(line, "backup.bin ") << "no temporary file may be left behind";
}
