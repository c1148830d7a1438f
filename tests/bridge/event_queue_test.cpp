#include "bridge/javascript_interface.h"
#include "bridge/ui_queue_glib.h"

#include <glib.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <map>
#include <thread>

using namespace kx5;

namespace {

// Records every script the push path would execute in the page.
class RecordingInterface final : public JavaScriptInterface {
  public:
    using JavaScriptInterface::JavaScriptInterface;
    void navigate(const std::string& url) override { navigated = url; }
    void requestClose() override {}
    void processEvent() override {
        ++deliveryMessages;
        std::string text;
        while (takeForDelivery(text)) {
            scripts.push_back(dispatchScript(text));
            texts.push_back(text);
        }
    }
    std::vector<std::string> scripts, texts;
    int deliveryMessages = 0;
    std::string navigated;
};

struct EventQueue : ::testing::Test {
    GMainContext* context = g_main_context_new();
    std::unique_ptr<GlibUiQueue> ui;
    std::unique_ptr<RecordingInterface> js;
    void SetUp() override {
        g_main_context_push_thread_default(context);
        ui = std::make_unique<GlibUiQueue>(context);
        js = std::make_unique<RecordingInterface>(*ui);
    }
    void TearDown() override {
        js.reset();
        ui.reset();
        g_main_context_pop_thread_default(context);
        g_main_context_unref(context);
    }
    void pump() {
        while (g_main_context_iteration(context, FALSE)) {
        }
    }
};

} // namespace

TEST_F(EventQueue, EventsPostedInPullModeAreDeliveredInOrderByOneMessage) {
    js->postEvent("midi\fchanged");
    js->postEvent("a\fb\f1");
    js->postEvent("a\fb\f2");
    pump();
    EXPECT_EQ(js->deliveryMessages, 0);
    js->setPush(true);
    pump();
    EXPECT_EQ(js->deliveryMessages, 1);
    ASSERT_EQ(js->texts.size(), 3u);
    EXPECT_EQ(js->texts[0], "midi\fchanged");
    EXPECT_EQ(js->texts[2], "a\fb\f2");
    EXPECT_FALSE(js->deliveryPending());
}

TEST_F(EventQueue, EscapingOfBackslashApostropheAndLineFeed) {
    js->setPush(true);
    js->postEvent("fs\fopenfilename\fC:\\a'b");
    js->postEvent("x\fy\fline1\nline2\r\f");
    pump();
    ASSERT_EQ(js->scripts.size(), 2u);
    EXPECT_EQ(js->scripts[0], "window.$event.dispatch('fs\fopenfilename\fC:\\\\a\\'b')");
    EXPECT_EQ(js->scripts[1], "window.$event.dispatch('x\fy\fline1\\nline2\r\f')");
    EXPECT_EQ(JavaScriptInterface::escapeForScript(std::string("ab\0cd", 5)), "ab");
}

TEST_F(EventQueue, PullTakesTheOldestAndEmptyWhenNone) {
    EXPECT_EQ(js->pullEvent(), "");
    js->postEvent("1");
    js->postEvent("2");
    EXPECT_EQ(js->pullEvent(), "1");
    EXPECT_EQ(js->pullEvent(), "2");
    EXPECT_EQ(js->pullEvent(), "");
}

TEST_F(EventQueue, OnlyOneDeliveryMessageOutstandingWhilePushing) {
    js->setPush(true);
    pump();
    const int before = js->deliveryMessages;
    for (int i = 0; i < 50; ++i)
        js->postEvent("e" + std::to_string(i));
    pump();
    EXPECT_EQ(js->deliveryMessages - before, 1);
    EXPECT_EQ(js->texts.size(), 50u);
}

TEST_F(EventQueue, NavigationHoldsEventsUntilPushIsSwitchedOnAgain) {
    js->setPush(true);
    pump();
    js->clearPush();
    js->postEvent("held1");
    js->postEvent("held2");
    pump();
    EXPECT_TRUE(js->texts.empty());
    js->setPush(false);
    pump();
    EXPECT_TRUE(js->texts.empty());
    js->setPush(true);
    pump();
    EXPECT_EQ(js->texts, (std::vector<std::string>{"held1", "held2"}));
}

TEST_F(EventQueue, EventText) {
    EXPECT_EQ(eventText({"midi", "changed"}), "midi\fchanged");
    EXPECT_EQ(eventText({"app", "command", "open", "/x y"}), "app\fcommand\fopen\f/x y");
}

// Eight producers, 100k events, push delivery on the UI thread running
// concurrently: nothing lost, each producer's order kept.
TEST_F(EventQueue, ConcurrentProducersKeepOrderAndLoseNothing) {
    constexpr int kProducers = 8, kPerProducer = 12500;
    js->setPush(true);
    std::atomic<int> finished{0};
    std::vector<std::thread> producers;
    for (int p = 0; p < kProducers; ++p)
        producers.emplace_back([&, p] {
            for (int i = 0; i < kPerProducer; ++i)
                js->postEvent(std::to_string(p) + "\f" + std::to_string(i));
            ++finished;
        });
    const size_t total = size_t(kProducers) * kPerProducer;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    while ((finished < kProducers || js->texts.size() < total) &&
           std::chrono::steady_clock::now() < deadline)
        g_main_context_iteration(context, FALSE);
    for (auto& t : producers)
        t.join();
    pump();
    ASSERT_EQ(js->texts.size(), total);
    std::map<int, int> next;
    for (const auto& t : js->texts) {
        const size_t ff = t.find('\f');
        const int p = std::stoi(t.substr(0, ff)), i = std::stoi(t.substr(ff + 1));
        ASSERT_EQ(i, next[p]) << "producer " << p;
        next[p] = i + 1;
    }
}

TEST_F(EventQueue, SendRunsInQueueOrderAndWaits) {
    std::vector<int> order;
    ui->post([&] { order.push_back(1); });
    std::atomic<bool> sent{false};
    std::thread worker([&] {
        ui->send([&] { order.push_back(2); });
        sent = true;
    });
    while (!sent)
        g_main_context_iteration(context, FALSE);
    worker.join();
    ui->post([&] { order.push_back(3); });
    pump();
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
    // On the UI thread itself send runs inline.
    ui->send([&] { order.push_back(4); });
    EXPECT_EQ(order.back(), 4);
}

TEST_F(EventQueue, ClosedQueueReleasesSenders) {
    std::atomic<bool> returned{false};
    std::thread worker([&] {
        ui->send([] {});
        returned = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ui->close();
    worker.join();
    EXPECT_TRUE(returned);
    EXPECT_FALSE(ui->post([] {}));
}
