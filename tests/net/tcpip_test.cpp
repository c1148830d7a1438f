// "tcpip" against a TCP echo server on 127.0.0.1 and a pseudo-terminal.
#include "net/native_call_tcpip.h"
#include "net/serial_port.h"
#include "tests/net/support/net_test_host.h"
#include "tests/support/forked_child.h"
#include "tests/support/loopback.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <list>
#include <mutex>
#include <thread>

using namespace kx5;

namespace {

// Echoes every byte back; can drop all its connections.
class EchoServer {
  public:
    EchoServer() {
        listener_ = test::listenOnLoopback(8, port);
        thread_ = std::thread([this] { run(); });
    }
    ~EchoServer() {
        stop_ = true;
        thread_.join();
        dropAll();
        ::close(listener_);
    }
    void dropAll() {
        std::lock_guard lock(mutex_);
        for (int fd : clients_)
            ::close(fd);
        clients_.clear();
    }
    uint16_t port = 0;

  private:
    void run() {
        while (!stop_) {
            std::vector<pollfd> fds{{listener_, POLLIN, 0}};
            {
                std::lock_guard lock(mutex_);
                for (int fd : clients_)
                    fds.push_back({fd, POLLIN, 0});
            }
            if (::poll(fds.data(), fds.size(), 10) <= 0) continue;
            std::lock_guard lock(mutex_);
            if (fds[0].revents)
                clients_.push_back(::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC));
            for (size_t i = 1; i < fds.size(); ++i) {
                if (!fds[i].revents) continue;
                char buf[4096];
                const ssize_t n = ::recv(fds[i].fd, buf, sizeof buf, MSG_DONTWAIT);
                if (n > 0) ::send(fds[i].fd, buf, static_cast<size_t>(n), MSG_NOSIGNAL);
            }
        }
    }
    int listener_;
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::list<int> clients_;
    std::thread thread_;
};

// Closed again: connections are refused.
uint16_t unusedPort() {
    return static_cast<uint16_t>(test::freeLocalPort());
}

struct Tcpip : ::testing::Test {
    EchoServer server;
    test::NetTestHost host;
    NativeCall_tcpip tcpip{&host.objects};

    std::string connect(const std::string& port) {
        return tcpip.call("connect", {"127.0.0.1", port});
    }
    // Collects "read" data of fd until it holds want hex digits.
    std::string readHex(int fd, size_t want) {
        std::string hex;
        while (hex.size() < want) {
            const auto e = host.js.waitFor("tcpip\fread\f" + std::to_string(fd) + "\f");
            if (!e) break;
            hex += (*e)[3];
        }
        return hex;
    }
};

} // namespace

TEST_F(Tcpip, WrittenBytesComeBackFromTheEchoServer) {
    ASSERT_EQ(connect(std::to_string(server.port)), "d0");
    EXPECT_EQ(tcpip.call("write", {"0", "48656c6c6f"}), "v");
    EXPECT_EQ(readHex(0, 10), "48656C6C6F");
    // An odd final digit is dropped; a character that is no digit counts as 0.
    tcpip.call("write", {"0", "414"});
    tcpip.call("write", {"0", "4G"});
    EXPECT_EQ(readHex(0, 4), "4140");
    const std::string big(2 * 200000, 'A');
    tcpip.call("write", {"0", big});
    EXPECT_EQ(readHex(0, big.size()), big);
}

TEST_F(Tcpip, TheLowestFreeHandleIsReusedAfterClosed) {
    const std::string port = std::to_string(server.port);
    ASSERT_EQ(connect(port), "d0");
    ASSERT_EQ(connect(port), "d1");
    tcpip.call("close", {"0"});
    ASSERT_TRUE(host.js.waitFor("tcpip\fclosed\f0"));
    EXPECT_EQ(connect(port), "d0");
    EXPECT_EQ(connect(port), "d2");
    EXPECT_EQ(host.js.all("tcpip\fclosed").size(), 1u);
}

TEST_F(Tcpip, PeerCloseIsReportedOnce) {
    ASSERT_EQ(connect(std::to_string(server.port)), "d0");
    tcpip.call("write", {"0", "01"});
    ASSERT_EQ(readHex(0, 2), "01");
    server.dropAll();
    ASSERT_TRUE(host.js.waitFor("tcpip\fclosed\f0"));
    // Writing and closing a handle that has ended is harmless.
    EXPECT_EQ(tcpip.call("write", {"0", "02"}), "v");
    EXPECT_EQ(tcpip.call("close", {"0"}), "v");
    EXPECT_EQ(host.js.all("tcpip\fclosed").size(), 1u);
}

TEST_F(Tcpip, FailedConnectsAnswerMinusOneAndTakeNoHandle) {
    EXPECT_EQ(connect(std::to_string(unusedPort())), "d-1");
    EXPECT_EQ(tcpip.call("connect", {"localhost", std::to_string(server.port)}), "d-1");
    EXPECT_EQ(tcpip.call("connect", {"127.0.0.1"}), "d-1");
    EXPECT_EQ(connect("70000"), "d-1");
    EXPECT_EQ(connect("port"), "d-1");
    EXPECT_EQ(tcpip.call("write", {"7", "00"}), "v");
    EXPECT_EQ(tcpip.call("close", {"-3"}), "v");
    EXPECT_EQ(connect(std::to_string(server.port)), "d0");
}

TEST(SerialNames, DevicePathsAndComNumbers) {
    EXPECT_EQ(net::serialDevicePath("/dev/ttyUSB0"), "/dev/ttyUSB0");
    EXPECT_EQ(net::serialDevicePath("COM3"), "/dev/ttyS2");
    EXPECT_EQ(net::serialDevicePath("COMX"), "");
    EXPECT_EQ(net::serialDevicePath("COM0"), "");
    EXPECT_FALSE(net::serialDevicePath("10.0.0.1"));
}

namespace {

struct Pty {
    int master = -1, slave = -1;
    std::string name;
    Pty() {
        char buf[128];
        if (::openpty(&master, &slave, buf, nullptr, nullptr) == 0) name = buf;
    }
    ~Pty() {
        if (master >= 0) ::close(master);
        if (slave >= 0) ::close(slave);
    }
    speed_t speed() const {
        termios t{};
        ::tcgetattr(slave, &t);
        return ::cfgetospeed(&t);
    }
};

} // namespace

TEST(Serial, PseudoTerminalCarriesRawBytesBothWays) {
    Pty pty;
    ASSERT_FALSE(pty.name.empty());
    test::NetTestHost host;
    NativeCall_tcpip tcpip(&host.objects);
    ASSERT_EQ(tcpip.call("connect", {pty.name, "115200"}), "d0");
    EXPECT_EQ(pty.speed(), B115200);
    termios t{};
    ::tcgetattr(pty.slave, &t);
    EXPECT_FALSE(t.c_lflag & (ICANON | ECHO));

    // CR and NUL pass untranslated.
    ASSERT_EQ(::write(pty.master, "\r\n\0\x7f", 4), 4);
    std::string hex;
    while (hex.size() < 8) {
        const auto e = host.js.waitFor("tcpip\fread\f0\f");
        ASSERT_TRUE(e);
        hex += (*e)[3];
    }
    EXPECT_EQ(hex, "0D0A007F");

    tcpip.call("write", {"0", "0D0A41"});
    std::string got;
    while (got.size() < 3) {
        pollfd p{pty.master, POLLIN, 0};
        ASSERT_GT(::poll(&p, 1, 10000), 0);
        char buf[16];
        const ssize_t n = ::read(pty.master, buf, sizeof buf);
        ASSERT_GT(n, 0);
        got.append(buf, static_cast<size_t>(n));
    }
    EXPECT_EQ(got, "\r\nA");

    tcpip.call("close", {"0"});
    EXPECT_TRUE(host.js.waitFor("tcpip\fclosed\f0"));
}

TEST(Serial, RateZeroKeepsTheCurrentRateAndHangUpIsClosed) {
    auto pty = std::make_unique<Pty>();
    termios t{};
    ::tcgetattr(pty->slave, &t);
    ::cfsetspeed(&t, B9600);
    ::tcsetattr(pty->slave, TCSANOW, &t);
    test::NetTestHost host;
    NativeCall_tcpip tcpip(&host.objects);
    ASSERT_EQ(tcpip.call("connect", {pty->name, "0"}), "d0");
    EXPECT_EQ(pty->speed(), B9600);
    EXPECT_EQ(tcpip.call("connect", {pty->name + "-missing", "0"}), "d-1");
    EXPECT_EQ(tcpip.call("connect", {pty->name, "12345"}), "d-1"); // no such rate
    ::close(pty->master);
    pty->master = -1;
    EXPECT_TRUE(host.js.waitFor("tcpip\fclosed\f0"));
}

namespace {

// Whether a user without admin rights can open the port (root passes the
// exclusive mark; the port is handed to "nobody" for the try).
std::string openAsAnotherUser(const std::string& name) {
    return test::runForked([&](int&) -> std::string {
               if (::setgid(65534) != 0 || ::setuid(65534) != 0) return "no other user";
               const int fd = ::open(name.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
               if (fd < 0) return std::strerror(errno);
               ::close(fd);
               return "opened";
           })
        .text;
}

int exclusiveMark(int fd) {
    int mark = -1;
    return ::ioctl(fd, TIOCGEXCL, &mark) == 0 ? mark : -1;
}

} // namespace

TEST(Serial, ClosingOrAFailedOpenLeavesThePortOpenableByOthers) {
    Pty pty;
    ASSERT_FALSE(pty.name.empty());
    const bool root = ::geteuid() == 0;
    if (root) {
        ASSERT_EQ(::chown(pty.name.c_str(), 65534, 65534), 0);
    }
    test::NetTestHost host;
    NativeCall_tcpip tcpip(&host.objects);
    ASSERT_EQ(tcpip.call("connect", {pty.name, "115200"}), "d0");
    // Held exclusively while open...
    EXPECT_EQ(exclusiveMark(pty.slave), 1);
    if (root) {
        EXPECT_EQ(openAsAnotherUser(pty.name), std::strerror(EBUSY));
    }
    tcpip.call("close", {"0"});
    ASSERT_TRUE(host.js.waitFor("tcpip\fclosed\f0"));
    // ...and free again after the close.
    EXPECT_EQ(exclusiveMark(pty.slave), 0);
    if (root) {
        EXPECT_EQ(openAsAnotherUser(pty.name), "opened");
    }

    // An open that fails half-way (a rate the port does not have) leaves
    // no mark either.
    EXPECT_EQ(tcpip.call("connect", {pty.name, "12345"}), "d-1");
    EXPECT_EQ(exclusiveMark(pty.slave), 0);
    if (root) {
        EXPECT_EQ(openAsAnotherUser(pty.name), "opened");
    }
}
