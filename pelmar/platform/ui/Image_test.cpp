#include "pelmar/platform/ui/Image.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "pelmar/platform/foundation/testing/TempSandbox.h"
#include "pelmar/platform/image/PictureCodec.h"
#include "pelmar/platform/image/testing/ImageFixtures.h"
#include "pelmar/platform/media/PixelBuffer.h"
#include "pelmar/platform/ui/Resources.h"

namespace pelmar::ui {
namespace {

TEST(ImageTest, FilesDecodeToABitmapWithSizeInPointsAndScaleFromTheName) {
    test::TempSandbox sandbox;
    const auto source = image::Bitmap::create(40, 20);
    const auto jpeg = image::PictureCodec::encodeJPEG(*source, 0.8).first.value();

    struct Case {
        const char* name;
        const char* file;
        std::string bytes;
        bool loads;
        double width;
        double scale;
    };

    const Case cases[] = {
            {"jpeg", "picture.jpg", jpeg, true, 40, 1},
            {"double scale", "picture@2x.jpg", jpeg, true, 20, 2},
            {"triple scale", "picture@3x.jpg", jpeg, true, 40.0 / 3, 3},
            {"signature only", "fake.png", std::string("\x89PNG\r\n\x1a\n rest", 13), false, 0, 0},
            {"text", "notes.png", "hello world", false, 0, 0},
            {"empty", "empty.jpg", "", false, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto path = sandbox.root() / c.file;
        std::ofstream(path, std::ios::binary | std::ios::trunc) << c.bytes;
        const auto image = Image::fromFile(path);
        ASSERT_EQ(image != nullptr, c.loads);
        if (image) {
            EXPECT_EQ(image->path(), path);
            EXPECT_DOUBLE_EQ(image->width(), c.width);
            EXPECT_DOUBLE_EQ(image->scale(), c.scale);
            EXPECT_EQ(image->bitmap()->width(), 40);
        }
    }
    EXPECT_EQ(Image::fromFile(sandbox.root() / "missing.png"), nullptr);
    EXPECT_EQ(Image::fromFile(sandbox.root()), nullptr);  // a folder
    EXPECT_EQ(Image::named(""), nullptr);
    EXPECT_EQ(Image::named("sun-red")->name(), "sun-red");
}

TEST(ImageTest, FilesComeOutUprightWhateverTheirExifOrientation) {
    test::TempSandbox sandbox;
    for (const auto& c : image::test::kStoredOrientations) {
        const auto stored = image::test::storedQuadrants(c, 64, 48);

        const struct {
            const char* file;
            std::string bytes;
        } files[] = {{"picture.jpg",
                      image::test::withExifOrientation(image::test::jpeg(*stored), c.exif)},
                     {"picture.png",
                      image::test::pngWithExifOrientation(image::test::png(*stored), c.exif)}};

        for (const auto& file : files) {
            SCOPED_TRACE(std::string(c.name) + " " + file.file);
            const auto path = sandbox.root() / file.file;
            std::ofstream(path, std::ios::binary | std::ios::trunc) << file.bytes;
            const auto image = Image::fromFile(path);
            ASSERT_TRUE(image);
            EXPECT_DOUBLE_EQ(image->width(), 64);
            EXPECT_DOUBLE_EQ(image->height(), 48);
            EXPECT_EQ(
                    image::test::quadrantMismatch(*image->bitmap(), image::test::kUprightQuadrants),
                    "");
        }
    }
}

TEST(ImageTest, NamedImagesDecodeFromTheResourceFolder) {
    test::TempSandbox sandbox;
    const auto jpeg = image::PictureCodec::encodeJPEG(*image::Bitmap::create(40, 20), 0.8).first;
    ASSERT_TRUE(jpeg);
    std::ofstream(sandbox.root() / "star.jpg", std::ios::binary) << *jpeg;
    const Resources resources(sandbox.root());

    const auto star = Image::named("star", resources);
    ASSERT_TRUE(star && star->bitmap());
    EXPECT_EQ(star->name(), "star");
    EXPECT_EQ(star->path(), sandbox.root() / "star.jpg");
    EXPECT_DOUBLE_EQ(star->width(), 40);

    // A name the folder lacks still names the image, without pixels.
    const auto missing = Image::named("moon", resources);
    ASSERT_TRUE(missing);
    EXPECT_EQ(missing->bitmap(), nullptr);
}

TEST(ImageTest, CameraFramesShowAsOpaqueBGRABitmapsOverTheSamePixels) {
    auto buffer = media::PixelBuffer::create(6, 4, media::PixelFormat::BGRA32);
    buffer->data()[0] = 0x7F;
    const auto image = Image::fromBitmap(image::Bitmap::wrap(buffer));
    ASSERT_TRUE(image);
    EXPECT_EQ(image->bitmap()->format(), image::PixelFormat::BGRA8);
    EXPECT_TRUE(image->bitmap()->opaque());
    EXPECT_EQ(image->bitmap()->data(), buffer->data());
    EXPECT_EQ(image->width(), 6);
    EXPECT_EQ(image->height(), 4);
    buffer.reset();
    EXPECT_EQ(image->bitmap()->pixel(0, 0)[0], 0x7F) << "the image keeps the frame alive";

    EXPECT_FALSE(Image::fromBitmap(
            image::Bitmap::wrap(media::PixelBuffer::create(2, 2, media::PixelFormat::ARGB32))));
}

}  // namespace
}  // namespace pelmar::ui
