// The modules without a device behind them answer fixed values and end the
// page's waiting with fixed events.
#include "net/inert_modules.h"
#include "tests/net/support/net_test_host.h"

#include <gtest/gtest.h>

using namespace kx5;
using kx5::test::NetTestHost;

TEST(InertModules, FixedAnswers) {
    NetTestHost host;
    NativeCall_notification notification(&host.objects);
    NativeCall_tgif tgif(&host.objects);
    NativeCall_store store(&host.objects);
    NativeCall_barcode barcode(&host.objects);
    NativeCall_ble ble(&host.objects);
    EXPECT_EQ(notification.call("token", {}), "s");
    EXPECT_EQ(notification.call("badge", {"5"}), "d0");
    EXPECT_EQ(tgif.call("buffer", {}), "d-1");
    EXPECT_EQ(tgif.call("buffer", {"64"}), "v");
    EXPECT_EQ(tgif.call("param", {"3"}), "d0");
    EXPECT_EQ(tgif.call("param", {"3", "1"}), "v");
    EXPECT_EQ(tgif.call("send", {"F8"}), "v");
    EXPECT_EQ(store.call("purchased", {}), "s[]");
    EXPECT_EQ(barcode.call("read", {"qr"}), "v");
    EXPECT_EQ(ble.call("properties", {"{\"id\":1}"}), "s{}");
    EXPECT_EQ(ble.call("scanstart", {}), "v");
    EXPECT_TRUE(host.js.seen().empty());
}

TEST(InertModules, WaitingCallsGetExactlyOneFixedEvent) {
    NetTestHost host;
    NativeCall_ble ble(&host.objects);
    NativeCall_recognizer recognizer(&host.objects);
    NativeCall_store store(&host.objects);
    EXPECT_EQ(ble.call("connect", {"dev-7"}), "v");
    EXPECT_EQ(recognizer.call("start", {}), "v");
    EXPECT_EQ(recognizer.call("stop", {}), "v");
    EXPECT_EQ(store.call("restore", {}), "v");
    EXPECT_EQ(host.js.seen(),
              (std::vector<std::string>{"ble\fconnectfailed\fdev-7\f",
                                        "recognizer\ferror\fSpeech Recognization is not supported.",
                                        "store\frestorefailed"}));
}
