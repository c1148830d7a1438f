#include "bridge/native_call.h"

#include <gtest/gtest.h>
#include <picojson.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

using namespace kx5;

namespace {

// Records what reached it; function 2 throws what the argument names.
class Probe final : public NativeCall {
public:
    Probe() : NativeCall(nullptr) { addFunctions({"ready", "readString", "fail", "ready"}); }
    std::string name() const override { return "probe"; }
    int lastId = -1;
    Args lastArgs;

protected:
    void invoke(int32_t id, const Args& args, CallResult& result) override {
        lastId = id;
        lastArgs = args;
        if (id == 2) {
            const std::string what = args.at(0);
            if (what == "native") throw NativeException(ENOENT);
            if (what == "json") picojson::value(1.0).get<std::string>();
            if (what == "stoi") std::stoi("abc");
            throw std::runtime_error("other");
        }
        if (id == 1) result.setString("read");
    }
};

struct Routing : ::testing::Test {
    Probe probe;
    ModuleTable table;
    void SetUp() override { probe.registerIn(table); }
};

} // namespace

TEST_F(Routing, SplitsAtFirstUnderscore) {
    EXPECT_EQ(splitCallName("$$app_ready"), std::make_pair(std::string("$$app"), std::string("ready")));
    EXPECT_EQ(splitCallName("$$a_b_c"), std::make_pair(std::string("$$a"), std::string("b_c")));
    EXPECT_EQ(splitCallName("noscore"), std::make_pair(std::string("noscore"), std::string("noscore")));
}

TEST_F(Routing, ReachesModuleWithArgumentsAndIgnoresExtras) {
    EXPECT_EQ(dispatchCall(table, "$$probe_ready", {}), "v");
    EXPECT_EQ(probe.lastId, 0);
    EXPECT_TRUE(probe.lastArgs.empty());
    dispatchCall(table, "$$probe_ready", {"a", "b", "c"});
    EXPECT_EQ(probe.lastArgs, (Args{"a", "b"}));
    EXPECT_EQ(dispatchCall(table, "$$probe_readString", {}), "sread");
}

TEST_F(Routing, UnknownNamesAnswerNoValue) {
    probe.lastId = -1;
    EXPECT_EQ(dispatchCall(table, "$$probe_readstring", {}), "v");
    EXPECT_EQ(dispatchCall(table, "probe_ready", {}), "v");
    EXPECT_EQ(dispatchCall(table, "$$other_ready", {}), "v");
    EXPECT_EQ(dispatchCall(table, "$$probe", {}), "v");
    EXPECT_EQ(probe.lastId, -1);
}

TEST_F(Routing, DuplicateNamesAndKeysKeepTheFirst) {
    EXPECT_EQ(probe.functionTable().at("ready"), 0);
    Probe second;
    second.registerIn(table);
    EXPECT_EQ(table.at("$$probe"), &probe);
}

TEST_F(Routing, GuardTurnsExceptionsIntoErrorResults) {
    EXPECT_EQ(dispatchCall(table, "$$probe_fail", {"native"}), std::string("e") + std::strerror(ENOENT));
    EXPECT_EQ(dispatchCall(table, "$$probe_fail", {"json"}), "esystem exception");
    EXPECT_EQ(dispatchCall(table, "$$probe_fail", {"stoi"}), "esystem exception");
    EXPECT_EQ(dispatchCall(table, "$$probe_fail", {"other"}), "esystem exception");
    // Missing argument: at() throws, which is still contained.
    EXPECT_EQ(dispatchCall(table, "$$probe_fail", {}), "esystem exception");
}

TEST(Results, ExactTexts) {
    std::string r = "v";
    CallResult w(r);
    w.setInt(-5);
    EXPECT_EQ(r, "d-5");
    w.setUnsigned(4294967295u);
    EXPECT_EQ(r, "d4294967295");
    w.setFloat(0.5f);
    EXPECT_EQ(r, "f0.500000");
    w.setFloat(-120.0f);
    EXPECT_EQ(r, "f-120.000000");
    w.setBool(false);
    EXPECT_EQ(r, "b");
    w.setBool(true);
    EXPECT_EQ(r, "b1");
    w.setString("");
    EXPECT_EQ(r, "s");
    w.setInt(0);
    EXPECT_EQ(r, "d0");
}
