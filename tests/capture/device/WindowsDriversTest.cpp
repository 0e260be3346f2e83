// The Windows build's drivers on a machine without a video input (Wine
// lists none): the test pattern alone, as on a Linux machine without one.

#include "capture/device/SystemDrivers.h"

#include <gtest/gtest.h>

using namespace tarvelo;

TEST(WindowsDrivers, WithoutVideoInputsTheTestPatternIsTheOnlyDriver)
{
    auto drivers = SystemCaptureDrivers(10);
    ASSERT_EQ(drivers.size(), 1u);
    EXPECT_EQ(drivers[0]->description(), "Tarvelo test pattern");
    EXPECT_TRUE(SystemCaptureDrivers(0).empty());
}
