// Scripts that push events into the page, checked by running them in a real
// JavaScript engine (node) with a recording $event.dispatch.
#include "host/gtk/event_script.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>
#include <picojson.h>

#include <cstdio>
#include <fstream>
#include <memory>

using namespace kx5;

namespace {

// Runs script in node after a prelude that records each dispatched text (and
// throws for texts containing "boom"); returns the recorded texts.
std::vector<std::string> runInNode(const std::string& script) {
    test::TempDir dir;
    const std::string file = dir.path() + "events.js";
    std::ofstream(file) << "var window = {$event: {dispatch: function (t) {"
                           " if (t.indexOf('boom') >= 0) throw new Error('handler failed');"
                           " got.push(t); }}}; var got = [];\n"
                        << script << "\nprocess.stdout.write(JSON.stringify(got));\n";
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(("node " + file).c_str(), "r"), pclose);
    std::string out;
    char buf[4096];
    for (size_t n; pipe && (n = fread(buf, 1, sizeof buf, pipe.get())) > 0;)
        out.append(buf, n);
    picojson::value v;
    EXPECT_TRUE(picojson::parse(v, out).empty()) << "node printed: " << out;
    std::vector<std::string> texts;
    if (v.is<picojson::array>())
        for (const auto& e : v.get<picojson::array>())
            texts.push_back(e.to_str());
    return texts;
}

} // namespace

TEST(EventScript, EveryTextArrivesUnchangedAndInOrder) {
    const std::vector<std::string> texts = {
        "midi\fchanged",
        "app\fcommand\fopen\fC:\\a'b",
        "app\fcommand\fopen\fline1\nline2",
        "app\fcommand\fopen\fcr\rhere\r\n",
        "x\f\xE2\x80\xA8\xE2\x80\xA9 \xC3\xA9 \xF0\x9F\x8E\xB8 \\\\' \" </script>",
        "",
    };
    EventScriptBatch batch;
    for (const auto& t : texts)
        batch.add(t);
    EXPECT_EQ(batch.count(), texts.size());
    const std::string script = batch.take();
    EXPECT_TRUE(batch.empty());
    EXPECT_TRUE(batch.take().empty());
    EXPECT_EQ(runInNode(script), texts);
}

TEST(EventScript, AFailingHandlerLosesOnlyItsOwnEvent) {
    EventScriptBatch batch;
    for (const char* t : {"a\f1", "a\fboom", "a\f3"})
        batch.add(t);
    EXPECT_EQ(runInNode(batch.take()), (std::vector<std::string>{"a\f1", "a\f3"}));
}

TEST(EventScript, BrokenTextCannotBreakTheScript) {
    // Invalid UTF-8 is replaced; a NUL ends the text, as the bridge does.
    EXPECT_EQ(runInNode(eventDispatchCall(std::string("bad\xFF\xFE", 5))),
              (std::vector<std::string>{"bad\xEF\xBF\xBD\xEF\xBF\xBD"}));
    EXPECT_EQ(runInNode(eventDispatchCall(std::string("cut\0after", 9))),
              (std::vector<std::string>{"cut"}));
    EXPECT_EQ(eventDispatchCall("a\fb"), "window.$event.dispatch('a\fb')");
}

TEST(EventScript, BatchesAreHandedOutBeforeTheyGrowTooLarge) {
    EventScriptBatch batch;
    while (!batch.full())
        batch.add("e");
    EXPECT_EQ(batch.count(), EventScriptBatch::kMaxEvents);
    batch.take();
    batch.add(std::string(EventScriptBatch::kMaxBytes, 'x'));
    EXPECT_TRUE(batch.full());
    EXPECT_EQ(batch.count(), 1u);
}
