#include "pelmar/core/QRCodeReaderConfig.h"

#include <gtest/gtest.h>

namespace pelmar {
namespace {

TEST(QRCodeReaderConfigTest, MapAndEncodingUseDifferentKeys) {
    const QRCodeReaderConfig config;
    EXPECT_EQ(config.getMap().dump(), R"({"closeAfterSuccessfulScan":true})");
    EXPECT_EQ(config.encode().dump(), R"({"shouldCloseAfterSuccessfulScan":true})");
    EXPECT_EQ(QRCodeReaderConfig(false).encode().dump(),
              R"({"shouldCloseAfterSuccessfulScan":false})");
}

}  // namespace
}  // namespace pelmar
