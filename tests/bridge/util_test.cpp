#include "modules/util/native_call_util.h"

#include <gtest/gtest.h>

using namespace kx5;

TEST(Util, BytesAndTextThroughUtf8) {
    NativeCall_util util(nullptr);
    ModuleTable table;
    util.registerIn(table);
    EXPECT_EQ(dispatchCall(table, "$$util_bytes", {"A\xC3\xA9"}), "s41C3A9");
    EXPECT_EQ(dispatchCall(table, "$$util_text", {"41C3A9"}), "sA\xC3\xA9");
    EXPECT_EQ(dispatchCall(table, "$$util_text", {"41c3a9"}), "sA\xC3\xA9");
    EXPECT_EQ(dispatchCall(table, "$$util_text", {"410042"}), "sA");
    EXPECT_EQ(dispatchCall(table, "$$util_text", {"414"}), "sA");
    EXPECT_EQ(dispatchCall(table, "$$util_bytes", {""}), "s");
    EXPECT_EQ(dispatchCall(table, "$$util_text", {""}), "s");
    // Invalid UTF-8 in the bytes comes back as the replacement character.
    EXPECT_EQ(dispatchCall(table, "$$util_text", {"41FF"}), "sA\xEF\xBF\xBD");
}
