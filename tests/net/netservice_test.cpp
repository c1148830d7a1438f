// Browsing without a reachable DNS-SD daemon ends at once with "stopped" and
// an error code; the daemon-backed cases are integration tests.
#include "net/native_call_netservice.h"
#include "tests/net/support/net_test_host.h"

#include <gtest/gtest.h>

#include <cstdlib>

using namespace kx5;

TEST(NetService, WithoutTheDaemonEveryBrowseStopsWithAnError) {
    test::TempDir bus;
    ::setenv("DBUS_SYSTEM_BUS_ADDRESS", ("unix:path=" + bus.file("no-bus")).c_str(), 1);
    test::NetTestHost host;
    NativeCall_netservice netservice(&host.objects);
    EXPECT_EQ(netservice.call("stop", {}), "v"); // nothing running, nothing said
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(netservice.call("search", {"_kx5test._tcp."}), "b1");
        const auto stopped = host.js.waitFor("netservice\fstopped\f");
        ASSERT_TRUE(stopped);
        EXPECT_LT(std::stol((*stopped)[2]), 0);
    }
    EXPECT_EQ(host.js.seen().size(), 2u);
}
