// "http" against a local HTTP server on 127.0.0.1.
#include "net/http_connection.h"
#include "net/native_call_http.h"
#include "tests/net/support/net_test_host.h"
#include "tests/support/files.h"
#include "tests/support/local_http_server.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

using namespace kx5;
namespace fs = std::filesystem;

namespace {

using kx5::test::readFile;
using kx5::test::writeFile;

std::string pattern(size_t size) {
    std::string s(size, '\0');
    for (size_t i = 0; i < size; ++i)
        s[i] = static_cast<char>((i * 31 + i / 251) & 0xFF);
    return s;
}

std::vector<std::string> filesIn(const std::string& folder) {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(folder, ec))
        names.push_back(e.path().filename());
    return names;
}

struct Http : ::testing::Test {
    test::NetTestHost host;
    HTTPConnectionEvents events{host.js};
    test::LocalHttpServer server;
    std::unique_ptr<NativeCall_http> http;
    std::string received; // body of the last PUT

    void SetUp() override {
        for (const char* v :
             {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"})
            ::unsetenv(v);
        host.objects.httpConnection = std::make_shared<HTTPConnection>(host.paths.tempFolder);
        host.objects.httpConnection->setDelegate(&events);
        http = std::make_unique<NativeCall_http>(&host.objects);
        server.route("GET", "/dir/ir.wav",
                     [](test::HttpExchange& x) { x.respond(200, pattern(200000)); });
        server.route("GET", "/nolength",
                     [](test::HttpExchange& x) { x.respond(200, pattern(70000), false); });
        server.route("GET", "/slow", [](test::HttpExchange& x) {
            x.send("HTTP/1.1 200 OK\r\nContent-Length: 1000000\r\n\r\n" + pattern(65536));
            x.waitForClose();
        });
        server.route("PUT", "/upload", [this](test::HttpExchange& x) {
            received = x.readBody();
            x.respond(201, "");
        });
        server.route("PUT", "/reject", [](test::HttpExchange& x) {
            x.readBody();
            x.respond(500, "no");
        });
        server.route("PUT", "/stall", [](test::HttpExchange& x) { x.waitForClose(); });
    }
    void TearDown() override {
        http.reset();
        host.objects.httpConnection.reset();
    }
    uint32_t start(const char* fn, const Args& args) {
        const std::string r = http->call(fn, args);
        EXPECT_EQ(r[0], 'd') << r;
        return static_cast<uint32_t>(std::stoul(r.substr(1)));
    }
    void waitUntilIdle() {
        for (int i = 0; i < 2000 && host.objects.httpConnection->runningTransfers() > 0; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        ASSERT_EQ(host.objects.httpConnection->runningTransfers(), 0u);
    }
    std::vector<std::vector<std::string>> eventsOf(const std::string& type, uint32_t id) {
        return host.js.all("http\f" + type + "\f" + std::to_string(id) + "\f");
    }
};

} // namespace

TEST_F(Http, DownloadWithoutDestinationGoesToATemporaryNameWithProgress) {
    const uint32_t id = start("download", {server.url("/dir/ir.wav?take=2")});
    const auto done = host.js.waitFor("http\fcompleted\f" + std::to_string(id) + "\f");
    ASSERT_TRUE(done);
    char name[64];
    std::snprintf(name, sizeof name, "lttc_%x_%x.wav", static_cast<unsigned>(::getpid()), id);
    EXPECT_EQ((*done)[3], host.paths.tempFolder + name);
    EXPECT_EQ(readFile((*done)[3]), pattern(200000));
    EXPECT_EQ(filesIn(host.paths.tempFolder), std::vector<std::string>{name});

    const auto progress = eventsOf("progress", id);
    ASSERT_FALSE(progress.empty());
    long last = 0;
    for (const auto& p : progress) {
        EXPECT_EQ(p[3], "200000");
        EXPECT_GT(std::stol(p[4]), last);
        last = std::stol(p[4]);
    }
    EXPECT_EQ(last, 200000);
}

TEST_F(Http, DownloadWithoutAUsableTemporaryFolderFailsAndWritesNowhereElse) {
    const std::string cwd = host.dir.file("cwd/");
    const std::string elsewhere = host.dir.file("elsewhere/");
    fs::create_directories(cwd);
    fs::create_directories(elsewhere);
    writeFile(host.dir.file("a-file"), "x");
    fs::create_directory_symlink(elsewhere, host.dir.file("link"));
    const auto previous = fs::current_path();
    fs::current_path(cwd);
    // None, one that cannot be made, and a link in the folder's place.
    for (const std::string& folder :
         {std::string(), host.dir.file("a-file/temp/"), host.dir.file("link/")}) {
        SCOPED_TRACE(folder);
        host.objects.httpConnection = std::make_shared<HTTPConnection>(folder);
        host.objects.httpConnection->setDelegate(&events);
        const std::string url = server.url("/dir/ir.wav");
        const uint32_t id = start("download", {url});
        const auto failed = host.js.waitFor("http\ferror\f" + std::to_string(id) + "\f");
        ASSERT_TRUE(failed);
        EXPECT_EQ(failed->at(3), url);
        waitUntilIdle();
        EXPECT_TRUE(eventsOf("completed", id).empty());
    }
    fs::current_path(previous);
    EXPECT_TRUE(filesIn(cwd).empty());
    EXPECT_TRUE(filesIn(elsewhere).empty());
}

TEST_F(Http, WithoutContentLengthTheTotalIsZero) {
    const std::string dest = host.dir.file("nolength.bin");
    const uint32_t id = start("download", {server.url("/nolength"), dest});
    ASSERT_TRUE(host.js.waitFor("http\fcompleted\f" + std::to_string(id) + "\f" + dest));
    EXPECT_EQ(readFile(dest), pattern(70000));
    for (const auto& p : eventsOf("progress", id))
        EXPECT_EQ(p[3], "0");
}

TEST_F(Http, NotFoundIsAnErrorThatLeavesNoFileAndKeepsAnOldOne) {
    const std::string url = server.url("/missing.wav");
    const uint32_t id = start("download", {url});
    EXPECT_EQ(host.js.waitFor("http\ferror\f")->at(3), url);
    EXPECT_TRUE(filesIn(host.paths.tempFolder).empty());

    const std::string dest = host.dir.file("keep.wav");
    writeFile(dest, "previous content");
    const uint32_t second = start("download", {url, dest});
    ASSERT_TRUE(host.js.waitFor("http\ferror\f" + std::to_string(second) + "\f"));
    EXPECT_EQ(readFile(dest), "previous content");
    for (const auto& name : filesIn(host.dir.path()))
        EXPECT_TRUE(name == "temp" || name == "keep.wav") << name;
    EXPECT_TRUE(eventsOf("completed", id).empty());
}

TEST_F(Http, CancelledDownloadSaysNothingMoreAndLeavesNoPartialFile) {
    const std::string dest = host.dir.file("slow.bin");
    const uint32_t id = start("download", {server.url("/slow"), dest});
    ASSERT_TRUE(host.js.waitFor("http\fprogress\f" + std::to_string(id) + "\f"));
    EXPECT_EQ(http->call("cancel", {std::to_string(id)}), "v");
    waitUntilIdle();
    EXPECT_TRUE(eventsOf("completed", id).empty());
    EXPECT_TRUE(eventsOf("error", id).empty());
    EXPECT_FALSE(fs::exists(dest));
    for (const auto& name : filesIn(host.dir.path()))
        EXPECT_EQ(name.find("slow"), std::string::npos);
    EXPECT_EQ(http->call("cancel", {std::to_string(id)}), "v"); // no longer known: nothing
}

TEST_F(Http, UploadPutsTheFileAndReportsItsPath) {
    const std::string file = host.dir.file("up.bin");
    writeFile(file, pattern(300000));
    const uint32_t id = start("upload", {server.url("/upload"), file});
    const auto done = host.js.waitFor("http\fcompleted\f" + std::to_string(id) + "\f");
    ASSERT_TRUE(done);
    EXPECT_EQ((*done)[3], file);
    EXPECT_EQ(received, pattern(300000));
    const auto progress = eventsOf("progress", id);
    ASSERT_FALSE(progress.empty());
    EXPECT_EQ(progress.back()[3], "300000");
    EXPECT_EQ(progress.back()[4], "300000");
}

TEST_F(Http, UploadFailuresAreErrorsWithTheUrl) {
    const std::string file = host.dir.file("up.bin");
    writeFile(file, "abc");
    for (const std::string& url :
         {server.url("/reject"), std::string("ftp://127.0.0.1/x"), std::string("not a url")}) {
        const uint32_t id = start("upload", {url, file});
        const auto e = host.js.waitFor("http\ferror\f" + std::to_string(id) + "\f");
        ASSERT_TRUE(e) << url;
        EXPECT_EQ((*e)[3], url);
    }
    const uint32_t id = start("upload", {server.url("/upload"), host.dir.file("missing")});
    EXPECT_TRUE(host.js.waitFor("http\ferror\f" + std::to_string(id) + "\f"));
    EXPECT_EQ(readFile(file), "abc");
}

TEST_F(Http, CancelledUploadSaysNothingMoreAndKeepsTheFile) {
    const std::string file = host.dir.file("big.bin");
    writeFile(file, pattern(8 << 20));
    const uint32_t id = start("upload", {server.url("/stall"), file});
    ASSERT_TRUE(host.js.waitFor("http\fprogress\f" + std::to_string(id) + "\f"));
    http->call("cancel", {std::to_string(id)});
    waitUntilIdle();
    EXPECT_TRUE(eventsOf("completed", id).empty());
    EXPECT_TRUE(eventsOf("error", id).empty());
    EXPECT_EQ(fs::file_size(file), 8u << 20);
}

TEST_F(Http, MissingArgumentsStartNothingAndIdsAreUnique) {
    EXPECT_EQ(http->call("download", {}), "d-1");
    EXPECT_EQ(http->call("download", {""}), "d-1");
    EXPECT_EQ(http->call("upload", {server.url("/upload")}), "d-1");
    std::vector<uint32_t> ids;
    for (int i = 0; i < 4; ++i)
        ids.push_back(
            start("download", {server.url("/dir/ir.wav"), host.dir.file("f" + std::to_string(i))}));
    for (size_t i = 1; i < ids.size(); ++i)
        EXPECT_GT(ids[i], ids[i - 1]);
    for (uint32_t id : ids)
        EXPECT_TRUE(host.js.waitFor("http\fcompleted\f" + std::to_string(id) + "\f"));
}
