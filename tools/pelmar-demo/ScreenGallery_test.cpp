// pelmar-demo screens as a child process: every screen of the gallery is written as a picture of
// the whole phone screen, each different from the others, and the contact sheet shows them all.
#include <ZXing/ImageView.h>
#include <ZXing/ReadBarcode.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>

#include "pelmar/platform/image/PictureCodec.h"
#include "testing/RunProgram.h"
#include "testing/TempDir.h"

namespace {

namespace fs = std::filesystem;

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Width and height from a PNG's header, or 0 x 0 when it is not a PNG.
std::pair<uint32_t, uint32_t> pngSize(const std::string& bytes) {
    if (bytes.size() < 24 || bytes.compare(0, 8, "\x89PNG\r\n\x1a\n") != 0) {
        return {0, 0};
    }
    const auto big = [&](std::size_t at) {
        uint32_t v = 0;
        for (std::size_t i = 0; i < 4; ++i) {
            v = (v << 8) | static_cast<uint8_t>(bytes[at + i]);
        }
        return v;
    };
    return {big(16), big(20)};
}

TEST(ScreenGalleryIntegrationTest, WritesEveryScreenAndAContactSheet) {
    pelmar::test::TempDir dir;
    const auto result = pelmar::test::RunProgram(PELMAR_DEMO_PATH,
                                                 "screens --out '" + dir.path().string() + "'");
    ASSERT_EQ(result.status, 0) << result.output;
    const std::string sheet = readFile(dir.path() / "index.html");
    std::set<std::string> pictures;
    for (const char* name :
         {"recorder.png", "recorder-preview.png", "custom-recorder.png",
          "custom-recorder-preview.png", "video-player.png", "audio-recorder.png",
          "audio-player.png", "picker-grid.png", "picker-preview.png", "trim-editor.png",
          "cover-selector.png", "image-viewer-jpeg.png", "image-viewer-gif.png", "qr-reader.png"}) {
        SCOPED_TRACE(name);
        const std::string bytes = readFile(dir.path() / name);
        // The 390 x 844 phone screen at twice its size.
        EXPECT_EQ(pngSize(bytes), std::make_pair(780u, 1688u));
        EXPECT_NE(sheet.find(std::string("src=\"") + name + "\""), std::string::npos);
        EXPECT_TRUE(pictures.insert(bytes).second) << "the same picture as another screen";
    }
    EXPECT_NE(result.output.find("14 screens in"), std::string::npos) << result.output;

    // Two seconds into the video, the played part of the player's bar is drawn in its cyan. The
    // controls at the bottom hold no other cyan; a bar reset to the start shows none.
    const auto player =
            pelmar::image::PictureCodec::decode(readFile(dir.path() / "video-player.png"));
    ASSERT_NE(player, nullptr);
    int played = 0;
    for (int y = player->height() * 5 / 6; y < player->height(); ++y) {
        const uint8_t* row = player->row(y);
        for (int x = 0; x < player->width(); ++x) {
            const uint8_t* px = row + 4 * x;
            played += px[0] < 60 && px[1] > 200 && px[2] > 200 ? 1 : 0;
        }
    }
    EXPECT_GT(played, 1000) << "the progress bar shows no played part";

    // The QR reader is shown reading a code: the code in its camera picture reads back.
    const auto reader = pelmar::image::PictureCodec::decode(readFile(dir.path() / "qr-reader.png"));
    ASSERT_NE(reader, nullptr);
    const auto code = ZXing::ReadBarcode(
            ZXing::ImageView(reader->row(0), reader->width(), reader->height(),
                             ZXing::ImageFormat::RGBX, static_cast<int>(reader->stride())));
    EXPECT_TRUE(code.isValid()) << "no code in the QR reader's picture";
    EXPECT_EQ(code.text(), "https://pelmar.example/welcome");
    EXPECT_FALSE(fs::exists(dir.path() / ".sandbox"));

    EXPECT_EQ(pelmar::test::RunProgram(PELMAR_DEMO_PATH, "screens").status, 2);
}

}  // namespace
