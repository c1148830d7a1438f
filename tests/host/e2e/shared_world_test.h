// A test fixture whose tests share one virtual display and D-Bus, started
// for the suite; its screenshots and logs go to a folder named after it.
// Test programs using it define KX5_E2E_ARTIFACTS.
#pragma once

#include "tests/host/e2e/program_under_test.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace kx5::e2e {

class SharedWorldTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_suite();
        world = std::make_unique<TestWorld>(std::string(KX5_E2E_ARTIFACTS) + "/" + info->name());
    }
    static void TearDownTestSuite() { world.reset(); }
    void SetUp() override { ASSERT_TRUE(world->ok()) << "Xvfb or dbus-daemon did not start"; }

    inline static std::unique_ptr<TestWorld> world;
};

} // namespace kx5::e2e
