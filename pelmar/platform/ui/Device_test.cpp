#include "pelmar/platform/ui/Device.h"

#include <gtest/gtest.h>

namespace pelmar::ui {
namespace {

TEST(DeviceTest, ComparesTheSystemVersionByMajorThenMinor) {
    struct Case {
        const char* version;
        int major;
        int minor;
        bool atLeast;
    };

    const Case cases[] = {
            {"12.0", 12, 0, true},     {"11.4.1", 12, 0, false}, {"12", 12, 0, true},
            {"13.1", 12, 5, true},     {"12.4", 12, 5, false},   {"9.3", 12, 0, false},
            {"garbage", 12, 0, false}, {"", 0, 0, true},
    };
    auto& device = Device::current();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.version);
        device.setSystemVersion(c.version);
        EXPECT_EQ(device.isSystemVersionAtLeast(c.major, c.minor), c.atLeast);
    }
    device.setUserInterfaceIdiom(UserInterfaceIdiom::Pad);
    device.reset();
    EXPECT_EQ(device.systemVersion(), Device::kDefaultSystemVersion);
    EXPECT_EQ(device.userInterfaceIdiom(), UserInterfaceIdiom::Phone);
}

}  // namespace
}  // namespace pelmar::ui
