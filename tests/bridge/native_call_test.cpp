#include "bridge/call_arguments.h"
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
    Probe() : NativeCall(nullptr) {
        addFunctions({{"ready", 0}, {"readString", 1}, {"fail", 2}, {"ready", 3}});
    }
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
    EXPECT_EQ(splitCallName("$$app_ready"),
              std::make_pair(std::string("$$app"), std::string("ready")));
    EXPECT_EQ(splitCallName("$$a_b_c"), std::make_pair(std::string("$$a"), std::string("b_c")));
    EXPECT_EQ(splitCallName("noscore"),
              std::make_pair(std::string("noscore"), std::string("noscore")));
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
    EXPECT_EQ(dispatchCall(table, "$$probe_fail", {"native"}),
              std::string("e") + std::strerror(ENOENT));
    EXPECT_EQ(dispatchCall(table, "$$probe_fail", {"json"}), "esystem exception");
    EXPECT_EQ(dispatchCall(table, "$$probe_fail", {"stoi"}), "esystem exception");
    EXPECT_EQ(dispatchCall(table, "$$probe_fail", {"other"}), "esystem exception");
    // Missing argument: at() throws, which is still contained.
    EXPECT_EQ(dispatchCall(table, "$$probe_fail", {}), "esystem exception");
}

// A module that reads its arguments with the shared helpers.
class Reader final : public NativeCall {
  public:
    enum Function : int32_t { Both, Flag, Number };
    Reader() : NativeCall(nullptr) {
        addFunctions({{"both", Both}, {"flag", Flag}, {"number", Number}});
    }
    std::string name() const override { return "reader"; }

  protected:
    void invoke(int32_t id, const Args& args, CallResult& result) override {
        if (id == Both) result.setString(required(args, 0) + "|" + optional(args, 1, "none"));
        if (id == Flag) result.setBool(given(args, 0) != nullptr);
        if (id == Number) {
            const auto n = givenInt(args, 0);
            result.setInt(n ? *n : -1);
        }
    }
};

// Its table with an id out of place.
class Misnumbered final : public NativeCall {
  public:
    Misnumbered() : NativeCall(nullptr) { addFunctions({{"a", 0}, {"c", 2}}); }
    std::string name() const override { return "misnumbered"; }

  protected:
    void invoke(int32_t, const Args&, CallResult&) override {}
};

TEST(Arguments, RequiredOptionalAndGivenHaveOneAnswerEach) {
    Reader reader;
    ModuleTable table;
    reader.registerIn(table);
    EXPECT_EQ(dispatchCall(table, "$$reader_both", {"a", "b"}), "sa|b");
    EXPECT_EQ(dispatchCall(table, "$$reader_both", {"a"}), "sa|none");
    EXPECT_EQ(dispatchCall(table, "$$reader_both", {}), std::string("e") + std::strerror(EINVAL));
    // An empty text is an argument the page gave.
    EXPECT_EQ(dispatchCall(table, "$$reader_both", {"", ""}), "s|");
    EXPECT_EQ(dispatchCall(table, "$$reader_flag", {}), "b");
    EXPECT_EQ(dispatchCall(table, "$$reader_flag", {""}), "b1");
    EXPECT_EQ(dispatchCall(table, "$$reader_number", {}), "d-1");
    EXPECT_EQ(dispatchCall(table, "$$reader_number", {"12"}), "d12");
    EXPECT_EQ(dispatchCall(table, "$$reader_number", {"twelve"}), "esystem exception");
}

TEST(Arguments, FunctionTablesListNamesInIdOrderAndRefuseGaps) {
    EXPECT_EQ(Reader().functionNames(), (std::vector<std::string>{"both", "flag", "number"}));
    EXPECT_THROW(Misnumbered(), std::logic_error);
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
