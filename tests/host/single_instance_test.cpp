// One program per user and name: lock, hand-over of arguments, recovery from
// an instance that died.
#include "host/gtk/single_instance.h"
#include "tests/support/temp_dir.h"

#include <glib.h>
#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace kx5;

namespace {

struct SingleInstanceTest : ::testing::Test {
    test::TempDir dir;
    GMainContext* context = g_main_context_new();
    void TearDown() override { g_main_context_unref(context); }

    // Runs the first instance's loop until the later start's hand-over ended.
    bool handOverWhileServing(SingleInstance& later, const std::vector<std::string>& args) {
        std::atomic<bool> done{false};
        bool ok = false;
        std::thread t([&] {
            ok = later.handOver(args, 3000);
            done = true;
            g_main_context_wakeup(context);
        });
        while (!done)
            g_main_context_iteration(context, TRUE);
        t.join();
        while (g_main_context_iteration(context, FALSE)) {
        }
        return ok;
    }
};

} // namespace

TEST_F(SingleInstanceTest, LaterStartsHandTheirArgumentsToTheFirstInOrder) {
    SingleInstance first(dir.path());
    ASSERT_TRUE(first.acquire());
    std::vector<std::vector<std::string>> received;
    ASSERT_TRUE(first.listen([&](std::vector<std::string> a) { received.push_back(std::move(a)); },
                             context));

    SingleInstance second(dir.path());
    EXPECT_FALSE(second.acquire());
    EXPECT_FALSE(second.primary());
    EXPECT_TRUE(handOverWhileServing(second, {"/data/My IR file.wav", "/b.wav"}));
    EXPECT_TRUE(handOverWhileServing(second, {}));
    EXPECT_TRUE(handOverWhileServing(second, {"", "é"}));
    ASSERT_EQ(received.size(), 3u);
    EXPECT_EQ(received[0], (std::vector<std::string>{"/data/My IR file.wav", "/b.wav"}));
    EXPECT_TRUE(received[1].empty()); // only "come forward"
    EXPECT_EQ(received[2], (std::vector<std::string>{"", "é"}));
}

TEST_F(SingleInstanceTest, TheLockIsFreedWhenTheFirstEndsAndAStaleSocketIsReplaced) {
    {
        SingleInstance first(dir.path());
        ASSERT_TRUE(first.acquire());
    }
    // A socket file left behind by an instance that was killed.
    std::ofstream(dir.path() + "instance.sock") << "stale";
    SingleInstance next(dir.path());
    ASSERT_TRUE(next.acquire());
    int calls = 0;
    ASSERT_TRUE(next.listen([&](std::vector<std::string>) { ++calls; }, context));
    SingleInstance later(dir.path());
    EXPECT_TRUE(handOverWhileServing(later, {"x"}));
    EXPECT_EQ(calls, 1);
}

TEST_F(SingleInstanceTest, AFirstInstanceInAnotherProcessIsSeenAndAnsweringNoneFails) {
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const pid_t child = fork();
    if (child == 0) {
        // Holds the lock but never listens, then ends.
        SingleInstance holder(dir.path());
        char c = holder.acquire() ? '1' : '0';
        (void)!write(ready[1], &c, 1);
        usleep(300 * 1000);
        _exit(0);
    }
    char c = 0;
    ASSERT_EQ(read(ready[0], &c, 1), 1);
    ASSERT_EQ(c, '1');
    SingleInstance later(dir.path());
    EXPECT_FALSE(later.acquire());
    EXPECT_FALSE(later.handOver({"a"}, 100));
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(later.acquire()); // free again once the holder is gone
    close(ready[0]);
    close(ready[1]);
}

TEST_F(SingleInstanceTest, NoFolderMeansNoLock) {
    SingleInstance none("");
    EXPECT_FALSE(none.acquire());
    EXPECT_FALSE(none.handOver({"a"}, 50));
}
