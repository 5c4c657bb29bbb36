#include "pelmar/platform/ui/Image.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "pelmar/platform/foundation/testing/TempSandbox.h"

namespace pelmar::ui {
namespace {

TEST(ImageTest, LoadsOnlyFilesWithAPictureSignature) {
    test::TempSandbox sandbox;

    struct Case {
        const char* name;
        std::string bytes;
        bool loads;
    };

    const Case cases[] = {
            {"png", std::string("\x89PNG\r\n\x1a\n rest", 13), true},
            {"jpeg", std::string("\xFF\xD8\xFF\xE0", 4), true},
            {"gif", "GIF89a....", true},
            {"text", "hello world", false},
            {"empty", "", false},
            {"short png", std::string("\x89PN", 3), false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto path = sandbox.root() / "picture";
        std::ofstream(path, std::ios::binary | std::ios::trunc) << c.bytes;
        const auto image = Image::fromFile(path);
        EXPECT_EQ(image != nullptr, c.loads);
        if (image) {
            EXPECT_EQ(image->path(), path);
        }
    }
    EXPECT_EQ(Image::fromFile(sandbox.root() / "missing.png"), nullptr);
    EXPECT_EQ(Image::fromFile(sandbox.root()), nullptr);  // a folder
    EXPECT_EQ(Image::named(""), nullptr);
    EXPECT_EQ(Image::named("sun-red")->name(), "sun-red");
}

}  // namespace
}  // namespace pelmar::ui
