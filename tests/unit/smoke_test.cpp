#include <gtest/gtest.h>
#include "fake/fake_desktop.h"
TEST(Smoke, Starts) {
    selvatro::fake::FakeDesktop d;
    d.start();
    EXPECT_EQ(d.window.caption(), "Selvatro desabled");
}
