// The window process's socket end of the page bridge, driven by a client that
// speaks like the web process extension.
#include "host/gtk/bridge_server.h"
#include "host/gtk/bridge_wire.h"
#include "tests/support/temp_dir.h"

#include <glib.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

using namespace kx5;
using wire::Message;
using wire::MessageType;

namespace {

struct RecordingHandler final : BridgeServer::Handler {
    std::string call(const std::string& name, const Args& args) override {
        calls.push_back(name + "|" + std::to_string(args.size()) +
                        (args.empty() ? "" : "|" + args.back()));
        if (name == "big") return "s" + std::string(2 * 1024 * 1024, 'q');
        return "s" + name;
    }
    void documentStarted(const std::string& uri) override { documents.push_back(uri); }
    void frameMessage(const std::string& name, const std::string& text) override {
        frames.push_back(name + "=" + text);
    }
    std::vector<std::string> calls, documents, frames;
};

int connectTo(const std::string& path) {
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, path.c_str(), sizeof addr.sun_path - 1);
    if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

struct BridgeServerTest : ::testing::Test {
    test::TempDir dir;
    GMainContext* context = g_main_context_new();
    RecordingHandler handler;
    std::unique_ptr<BridgeServer> server;
    std::atomic<bool> clientDone{false};

    void SetUp() override { server = std::make_unique<BridgeServer>(handler, dir.path(), context); }
    void TearDown() override {
        server.reset();
        g_main_context_unref(context);
    }
    // Runs the server's loop while the client works on another thread.
    void serveWhile(const std::function<void()>& client) {
        clientDone = false;
        std::thread t([&] {
            client();
            clientDone = true;
            g_main_context_wakeup(context);
        });
        while (!clientDone)
            g_main_context_iteration(context, TRUE);
        t.join();
        while (g_main_context_iteration(context, FALSE)) {
        }
    }
    Message roundTrip(int fd, const std::vector<std::string_view>& fields) {
        EXPECT_TRUE(wire::writeAll(fd, wire::encode(MessageType::Call, fields)));
        Message reply;
        EXPECT_TRUE(wire::readMessage(fd, reply));
        return reply;
    }
};

} // namespace

TEST_F(BridgeServerTest, SocketLivesInAPrivateFolderThatGoesAwayWithTheServer) {
    ASSERT_TRUE(server->listening());
    const std::string path = server->socketPath();
    const std::string folder = path.substr(0, path.rfind('/'));
    EXPECT_EQ(folder.rfind(dir.path(), 0), 0u);
    struct stat st {};
    ASSERT_EQ(stat(folder.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    server.reset();
    EXPECT_NE(stat(path.c_str(), &st), 0);
    EXPECT_NE(stat(folder.c_str(), &st), 0);
}

TEST_F(BridgeServerTest, GreetedClientCallsRunInOrderAndGetTheirResults) {
    std::vector<Message> replies;
    serveWhile([&] {
        const int fd = connectTo(server->socketPath());
        ASSERT_GE(fd, 0);
        wire::writeAll(fd, wire::encode(MessageType::Hello, {server->token(), "7"}));
        wire::writeAll(fd, wire::encode(MessageType::Document, {"file:///x/index.html"}));
        replies.push_back(roundTrip(fd, {"$$app_ready"}));
        replies.push_back(roundTrip(fd, {"$$util_bytes", "A\xC3\xA9"}));
        replies.push_back(roundTrip(fd, {"two", "a", "b"}));
        wire::writeAll(fd, wire::encode(MessageType::FrameMessage, {"child", "hello"}));
        replies.push_back(roundTrip(fd, {"big"}));
        close(fd);
    });
    ASSERT_EQ(replies.size(), 4u);
    EXPECT_EQ(replies[0].type, MessageType::Result);
    EXPECT_EQ(replies[0].fields.at(0), "s$$app_ready");
    EXPECT_EQ(replies[3].fields.at(0).size(), 2u * 1024 * 1024 + 1);
    EXPECT_EQ(handler.calls, (std::vector<std::string>{"$$app_ready|0", "$$util_bytes|1|A\xC3\xA9",
                                                       "two|2|b", "big|0"}));
    EXPECT_EQ(handler.documents, (std::vector<std::string>{"file:///x/index.html"}));
    EXPECT_EQ(handler.frames, (std::vector<std::string>{"child=hello"}));
    EXPECT_EQ(server->connectionCount(), 0u); // closed by the client, cleaned up
}

TEST_F(BridgeServerTest, WrongTokenOrMissingGreetingIsCutOffWithoutRunningAnything) {
    serveWhile([&] {
        for (const std::string& first :
             {wire::encode(MessageType::Hello, {"0000", "1"}),
              wire::encode(MessageType::Call, {"$$app_ready"}),
              wire::encode(MessageType::Hello, {server->token()}) /* page id missing */}) {
            const int fd = connectTo(server->socketPath());
            ASSERT_GE(fd, 0);
            wire::writeAll(fd, first);
            wire::writeAll(fd, wire::encode(MessageType::Call, {"$$app_ready"}));
            Message reply;
            EXPECT_FALSE(wire::readMessage(fd, reply));
            close(fd);
        }
    });
    EXPECT_TRUE(handler.calls.empty());
}

TEST_F(BridgeServerTest, AGarbledConnectionIsDroppedWhileOthersKeepWorking) {
    serveWhile([&] {
        const int good = connectTo(server->socketPath());
        const int bad = connectTo(server->socketPath());
        wire::writeAll(good, wire::encode(MessageType::Hello, {server->token(), "1"}));
        wire::writeAll(bad, wire::encode(MessageType::Hello, {server->token(), "2"}));
        const std::string garbage = std::string("\xff\xff\xff\x7f", 4) + "xyz";
        wire::writeAll(bad, garbage);
        Message reply;
        EXPECT_FALSE(wire::readMessage(bad, reply));
        EXPECT_EQ(roundTrip(good, {"still"}).fields.at(0), "sstill");
        // A call without a name is malformed too.
        wire::writeAll(good, wire::encode(MessageType::Call, {}));
        EXPECT_FALSE(wire::readMessage(good, reply));
        close(good);
        close(bad);
    });
    EXPECT_EQ(handler.calls, (std::vector<std::string>{"still|0"}));
}
