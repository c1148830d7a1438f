// The protocol between web process and window process, and which documents
// may use the bridge.
#include "host/gtk/bridge_wire.h"
#include "host/gtk/document_policy.h"

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using namespace kx5;
using wire::FrameReader;
using wire::Message;
using wire::MessageType;

namespace {

std::string u32(uint32_t v) {
    std::string s;
    for (int i = 0; i < 4; ++i)
        s += static_cast<char>((v >> (8 * i)) & 0xFF);
    return s;
}

} // namespace

TEST(Wire, MessagesSurviveAnySplitOfTheByteStream) {
    const std::string binary("a\0b\xff\n", 5);
    const std::string stream = wire::encode(MessageType::Call, {"$$util_bytes", "", binary}) +
                               wire::encode(MessageType::Arguments, {}) +
                               wire::encode(MessageType::Result, {std::string(70000, 'x')});
    for (size_t chunk : {size_t{1}, size_t{3}, size_t{4096}, stream.size()}) {
        FrameReader reader;
        std::vector<Message> got;
        for (size_t i = 0; i < stream.size(); i += chunk) {
            reader.feed(stream.data() + i, std::min(chunk, stream.size() - i));
            while (auto m = reader.next())
                got.push_back(*m);
        }
        ASSERT_EQ(got.size(), 3u) << "chunk " << chunk;
        EXPECT_EQ(got[0].type, MessageType::Call);
        EXPECT_EQ(got[0].fields, (std::vector<std::string>{"$$util_bytes", "", binary}));
        EXPECT_EQ(got[1].type, MessageType::Arguments);
        EXPECT_TRUE(got[1].fields.empty());
        EXPECT_EQ(got[2].fields.at(0).size(), 70000u);
        EXPECT_TRUE(reader.idle());
        EXPECT_FALSE(reader.failed());
    }
}

TEST(Wire, MalformedFramesStopTheReader) {
    const std::vector<std::string> bad = {
        u32(0),                          // empty payload
        u32(wire::kMaxFrameSize + 1),    // larger than anything legitimate
        u32(1) + std::string(1, '\x09'), // unknown type
        u32(5) + "\x02" + u32(100),      // field longer than the frame
        u32(3) + "\x02" + "ab",          // truncated field header
    };
    for (const auto& b : bad) {
        FrameReader reader;
        reader.feed(b.data(), b.size());
        const std::string good = wire::encode(MessageType::Hello, {"t", "1"});
        reader.feed(good.data(), good.size());
        EXPECT_FALSE(reader.next().has_value());
        EXPECT_TRUE(reader.failed());
        EXPECT_FALSE(reader.next().has_value());
    }
}

TEST(Wire, BlockingHelpersCarryLargeMessagesOverASocket) {
    int fds[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
    const std::string big(3 * 1024 * 1024, 'Z');
    std::thread writer(
        [&] { EXPECT_TRUE(wire::writeAll(fds[0], wire::encode(MessageType::Result, {big}))); });
    Message m;
    EXPECT_TRUE(wire::readMessage(fds[1], m));
    writer.join();
    EXPECT_EQ(m.type, MessageType::Result);
    EXPECT_EQ(m.fields.at(0), big);
    close(fds[0]);
    EXPECT_FALSE(wire::readMessage(fds[1], m)); // end of stream
    close(fds[1]);
}

TEST(Wire, TokensAreRandomHexAndComparedExactly) {
    const std::string a = wire::randomToken(), b = wire::randomToken();
    EXPECT_EQ(a.size(), 64u);
    EXPECT_EQ(a.find_first_not_of("0123456789abcdef"), std::string::npos);
    EXPECT_NE(a, b);
    EXPECT_TRUE(wire::tokensEqual(a, a));
    EXPECT_FALSE(wire::tokensEqual(a, b));
    EXPECT_FALSE(wire::tokensEqual(a, a.substr(0, 63)));
    EXPECT_FALSE(wire::tokensEqual("", a));
}

TEST(DocumentPolicy, OnlyFilesBelowTheBundleFolderQualify) {
    const std::string folder = "/home/u/.local/share/velmar/kx5/html/";
    const std::string base = "file:///home/u/.local/share/velmar/kx5/html/";
    EXPECT_TRUE(isDocumentInFolder(base + "index.html", folder));
    EXPECT_TRUE(isDocumentInFolder(base + "sub/page.html?x=1#top", folder));
    EXPECT_TRUE(
        isDocumentInFolder("file://localhost/home/u/.local/share/velmar/kx5/html/a.html", folder));
    EXPECT_TRUE(isDocumentInFolder(base + "My%20Page.html", folder));

    EXPECT_FALSE(
        isDocumentInFolder("file:///home/u/.local/share/velmar/kx5/html-evil/index.html", folder));
    EXPECT_FALSE(isDocumentInFolder("file:///home/u/.local/share/velmar/kx5/index.html", folder));
    EXPECT_FALSE(isDocumentInFolder(base + "%2e%2e/secret.html", folder));
    EXPECT_FALSE(isDocumentInFolder(base + "..%2fsecret.html", folder));
    EXPECT_FALSE(isDocumentInFolder(base + "a%00.html", folder));
    EXPECT_FALSE(isDocumentInFolder(
        "file://evil.example/home/u/.local/share/velmar/kx5/html/a.html", folder));
    EXPECT_FALSE(isDocumentInFolder(
        "https://example.com/home/u/.local/share/velmar/kx5/html/a.html", folder));
    EXPECT_FALSE(isDocumentInFolder("about:blank", folder));
    EXPECT_FALSE(isDocumentInFolder(base + "index.html", ""));
    EXPECT_FALSE(isDocumentInFolder(base + "index.html", "relative/html/"));
}

TEST(DocumentPolicy, StartPageFolderAndLocalPaths) {
    EXPECT_EQ(bundleFolderOf("file:///data/velmar/kx5/html/index.html"), "/data/velmar/kx5/html/");
    EXPECT_EQ(bundleFolderOf("file:///data/My%20Folder/html/index.html"), "/data/My Folder/html/");
    EXPECT_EQ(bundleFolderOf("about:blank"), "");
    EXPECT_EQ(bundleFolderOf("file:///index.html"), "");
    // "+" is a literal plus in a file address, not a space.
    EXPECT_EQ(localPathOfFileUri("file:///C:/Data/My%20IR+1.wav"), "/C:/Data/My IR+1.wav");
    EXPECT_EQ(localPathOfFileUri("file:///tmp/%C3%A9t%C3%A9.wav"), "/tmp/\xC3\xA9t\xC3\xA9.wav");
    EXPECT_EQ(localPathOfFileUri("http://x/a.wav"), "");
    EXPECT_EQ(localPathOfFileUri("file:///a/%2e%2e/b"), "");
}
