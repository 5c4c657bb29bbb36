// Every picture the screens ask for by name ships in the resource folder of the build, and the
// pictures that one control shows in its different states look different.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "pelmar/platform/ui/Image.h"
#include "pelmar/platform/ui/Resources.h"
#include "pelmar/platform/ui/testing/Pixels.h"

namespace pelmar {
namespace {

// Every image name the SDK's code asks for, grouped by the control (or view) that shows them:
// the names of one group are its states and must look different from each other.
const std::vector<std::vector<std::string>> kPictureGroups = {
        // Camera recorder: record and stop, pause and resume, camera switch, close.
        {"recorder-record", "recorder-stop"},
        {"recorder-pause", "recorder-resume"},
        {"recorder-camera-switch"},
        {"recorder-close"},
        // Light meter levels.
        {"sun-red", "sun-yellow", "sun-white"},
        // Custom recorder and its preview player.
        {"ic_play", "ic_stop", "ic_pause"},
        // Recorded-video preview.
        {"play-white", "pause-whte"},
        // Player screen, light and dark looks.
        {"play-white", "pause-white"},
        {"play-black", "pause-black"},
        {"sound-on", "sound-off"},
        {"sound-on-black", "sound-off-black"},
        {"close"},
        // Audio recorder: the record control's states, the pause control's, and the others.
        {"audio-record-start-black", "audio-record-stop-black", "play-black", "pause-black"},
        {"audio-record-pause-black", "audio-record-resume-black"},
        {"audio-rerecord-black"},
        {"audio-upload-black"},
        // Audio player controls and the now-playing artwork.
        {"audio-previous-black", "audio-rewind-black", "audio-forward-black", "audio-next-black"},
        {"icon"},
        // Picker's upload bar: the close control's states, and retake.
        {"delete-white", "upload-white", "trash-white"},
        // Picker's live-photo preview: the mark over the picture.
        {"live-photo-badge"},
        // Bar items: the system play and pause.
        {"system-play", "system-pause"},
        // Image viewer's close control.
        {"xmark"},
};

std::set<std::string> listedNames() {
    std::set<std::string> names;
    for (const auto& group : kPictureGroups) {
        names.insert(group.begin(), group.end());
    }
    return names;
}

// The literal image names in the product sources: arguments of the calls that load a named
// picture, constants named k...Image, icon name defaults, and the names a view picks among.
std::map<std::string, std::string> namesInSources() {
    const std::vector<std::regex> patterns = {
            std::regex(
                    R"re((?:Image::named|imagePath|getImageFromResource|iconView)\(\s*"([^"]+)")re"),
            std::regex(R"re(\bsetImage\(\s*[A-Za-z_]+,\s*"([^"]+)")re"),
            std::regex(R"re(const char\*\s+k\w*Image\s*=\s*"([^"]+)")re"),
            std::regex(R"re(\w+ButtonIcon\s*=\s*"([^"]+)")re"),
            std::regex(R"re(const char\*\s+name\s*=\s*[^;]*?"([^"]+)")re"),
    };
    const std::regex literal(R"re("([^"]+)")re");
    std::map<std::string, std::string> found;
    const std::filesystem::path root = std::filesystem::path(PELMAR_SOURCE_DIR) / "pelmar";
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
        const auto& path = entry.path();
        const std::string file = path.string();
        if (!entry.is_regular_file() || (path.extension() != ".cpp" && path.extension() != ".h")
            || file.find("_test") != std::string::npos
            || file.find("/testing/") != std::string::npos) {
            continue;
        }
        std::ifstream in(path);
        std::stringstream text;
        text << in.rdbuf();
        const std::string source = text.str();
        for (const auto& pattern : patterns) {
            for (std::sregex_iterator it(source.begin(), source.end(), pattern), end; it != end;
                 ++it) {
                // A name chosen among several ("a" : "b") gives each of them.
                const std::string whole = (*it)[0];
                for (std::sregex_iterator lit(whole.begin(), whole.end(), literal), none;
                     lit != none; ++lit) {
                    found.emplace((*lit)[1], std::filesystem::relative(path, root).string());
                }
            }
        }
    }
    return found;
}

const ui::Resources& buildResources() {
    static const ui::Resources resources{PELMAR_BUILD_RESOURCE_DIR};
    return resources;
}

// How different two pictures look: the mean colour distance over a 24 x 24 grid of points
// spread over each, on a grey backdrop (so that white and black marks both count).
double difference(const image::Bitmap& a, const image::Bitmap& b) {
    constexpr int kGrid = 24;
    const auto over = [](ui::Color c) {
        const double grey = 0.5 * (1 - c.alpha);
        return ui::Color{c.red * c.alpha + grey, c.green * c.alpha + grey, c.blue * c.alpha + grey,
                         1};
    };
    double total = 0;
    for (int gy = 0; gy < kGrid; ++gy) {
        for (int gx = 0; gx < kGrid; ++gx) {
            const double u = (gx + 0.5) / kGrid;
            const double v = (gy + 0.5) / kGrid;
            const auto ca = over(ui::test::colorAt(a, u * a.pointWidth(), v * a.pointHeight()));
            const auto cb = over(ui::test::colorAt(b, u * b.pointWidth(), v * b.pointHeight()));
            total += std::abs(ca.red - cb.red) + std::abs(ca.green - cb.green)
                     + std::abs(ca.blue - cb.blue);
        }
    }
    return total / (kGrid * kGrid);
}

TEST(ScreenPicturesTest, EveryNameTheCodeAsksForIsListed) {
    const auto listed = listedNames();
    const auto found = namesInSources();
    EXPECT_GT(found.size(), 30u) << "the scan finds the screens' names";
    for (const auto& [name, file] : found) {
        EXPECT_TRUE(listed.count(name)) << "\"" << name << "\" (" << file << ") is not listed";
    }
}

TEST(ScreenPicturesTest, EveryListedNameHasAVisiblePicture) {
    for (const auto& name : listedNames()) {
        SCOPED_TRACE(name);
        const auto path = buildResources().imagePath(name);
        ASSERT_TRUE(path) << "no picture in " << buildResources().folder();
        const auto image = ui::Image::fromFile(*path);
        ASSERT_TRUE(image && image->bitmap()) << *path << " does not decode";
        const auto& bitmap = *image->bitmap();
        EXPECT_GT(ui::test::inkCount(bitmap, {0, 0, bitmap.pointWidth(), bitmap.pointHeight()},
                                     ui::Color::clear()),
                  bitmap.width() * bitmap.height() / 50)
                << "the picture is (nearly) empty";
    }
}

TEST(ScreenPicturesTest, TheStatesOfOneControlLookDifferent) {
    for (const auto& group : kPictureGroups) {
        for (std::size_t i = 0; i < group.size(); ++i) {
            for (std::size_t j = i + 1; j < group.size(); ++j) {
                SCOPED_TRACE(group[i] + " and " + group[j]);
                const auto a = buildResources().imagePath(group[i]);
                const auto b = buildResources().imagePath(group[j]);
                const auto first = a ? ui::Image::fromFile(*a) : nullptr;
                const auto second = b ? ui::Image::fromFile(*b) : nullptr;
                if (!first || !second || !first->bitmap() || !second->bitmap()) {
                    ADD_FAILURE() << "a picture is missing";
                    continue;
                }
                // Identical pictures differ by 0; a circle and a square of one size by about 0.05.
                EXPECT_GT(difference(*first->bitmap(), *second->bitmap()), 0.02);
            }
        }
    }
}

}  // namespace
}  // namespace pelmar
