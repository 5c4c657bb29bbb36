#include "pelmar/platform/picture/PictureCodec.h"

#include <gtest/gtest.h>

#include <string>

#include "pelmar/platform/picture/ImageGenerator.h"

namespace pelmar::picture {
namespace {

TEST(PictureCodecTest, PixelsMustMatchTheSizeTheyClaim) {
    EXPECT_TRUE(PictureCodec::makeRGBA(2, 1, std::string(8, '\0')));
    EXPECT_FALSE(PictureCodec::makeRGBA(2, 1, std::string(7, '\0')));
    EXPECT_FALSE(PictureCodec::makeRGBA(2, 1, std::string(9, '\0')));
    EXPECT_FALSE(PictureCodec::makeRGBA(0, 1, ""));
    EXPECT_FALSE(PictureCodec::makeRGBA(-1, -1, std::string(4, '\0')));
}

TEST(PictureCodecTest, EncodedJPEGDecodesToTheSameSizeAndColour) {
    constexpr int kW = 64;
    constexpr int kH = 32;
    std::string rgba;
    for (int i = 0; i < kW * kH; ++i) {
        rgba += std::string("\xC8\x20\x20\xFF", 4);  // red
    }
    const auto image = PictureCodec::makeRGBA(kW, kH, rgba);
    const auto [jpeg, error] = PictureCodec::encodeJPEG(*image, 0.9);
    ASSERT_FALSE(error) << *error;
    ASSERT_TRUE(jpeg);
    const auto decoded = PictureCodec::decode(*jpeg);
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->width(), kW);
    EXPECT_EQ(decoded->height(), kH);
    const auto [again, againError] = PictureCodec::encodeJPEG(*decoded, 0.0);
    EXPECT_TRUE(again && !againError);
}

TEST(PictureCodecTest, RefusesWhatItCannotRead) {
    for (const std::string& bytes :
         {std::string(), std::string("not a picture"), std::string("\xFF\xD8\xFF\xE0 truncated")}) {
        EXPECT_FALSE(PictureCodec::decode(bytes));
    }
    const auto foreign = ui::Image::fromPixels(2, 2, std::make_shared<int>(0));
    const auto [jpeg, error] = PictureCodec::encodeJPEG(*foreign, 1.0);
    EXPECT_FALSE(jpeg);
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code, kImageErrorEncode);
}

}  // namespace
}  // namespace pelmar::picture
