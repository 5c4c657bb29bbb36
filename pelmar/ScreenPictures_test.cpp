// Every picture the screens ask for by name ships in the resource folder of the build, and the
// pictures that one control shows in its different states look different.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <utility>
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
        // Image viewer's close control, and its live-photo toolbar: the badge and the share item.
        {"xmark"},
        {"livephoto"},
        {"square.and.arrow.up"},
};

std::set<std::string> listedNames() {
    std::set<std::string> names;
    for (const auto& group : kPictureGroups) {
        names.insert(group.begin(), group.end());
    }
    return names;
}

struct SourceFile {
    std::string name;  // relative to pelmar/
    std::string text;
};

std::vector<SourceFile> productSources() {
    std::vector<SourceFile> files;
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
        files.push_back({std::filesystem::relative(path, root).string(), text.str()});
    }
    return files;
}

// The text between the bracket that opens at `open` and its partner (or the end).
std::string bracketed(const std::string& source, std::size_t open) {
    int depth = 0;
    for (std::size_t i = open; i < source.size(); ++i) {
        if (source[i] == '(') {
            ++depth;
        } else if (source[i] == ')' && --depth == 0) {
            return source.substr(open + 1, i - open - 1);
        }
    }
    return source.substr(open + 1);
}

// What the scan found: each name with the file that asks for it, and the constants that a call
// names but no source defines.
struct Scan {
    std::map<std::string, std::string> names;
    std::map<std::string, std::string> unresolved;
};

// The image names in the product sources: the names a call that loads a named picture is given,
// as literals or as constants (whatever their type; resolved through their definitions, "a" :
// "b" choices giving each), constants named k...Image, icon name defaults, and the names a view
// picks among.
Scan namesInSources() {
    const auto files = productSources();
    const std::regex literal(R"re("([^"]+)")re");
    // The values of the constant `id` as `asker` sees it, from `id = "..."` or `id{"..."}`: its
    // own (or its header's) definition when it has one, else every definition of that name.
    const auto stemOf = [](const std::string& file) {
        return std::filesystem::path(file).replace_extension().string();
    };
    const auto valuesOf = [&](const std::string& id, const std::string& asker) {
        const std::regex definition(id + R"re(\s*(?:=|\{)\s*"([^"]*)")re");
        std::vector<std::string> own;
        std::vector<std::string> all;
        for (const auto& file : files) {
            const std::string& text = file.text;
            for (auto at = text.find(id); at != std::string::npos; at = text.find(id, at + 1)) {
                if (at > 0
                    && (std::isalnum(static_cast<unsigned char>(text[at - 1])) != 0
                        || text[at - 1] == '_')) {
                    continue;
                }
                const std::string from = text.substr(at, id.size() + 200);
                std::smatch match;
                if (!std::regex_search(from, match, definition,
                                       std::regex_constants::match_continuous)) {
                    continue;
                }
                all.push_back(match[1]);
                if (stemOf(file.name) == stemOf(asker)) {
                    own.push_back(match[1]);
                }
            }
        }
        return own.empty() ? all : own;
    };
    Scan scan;
    // Every literal in `text` except suffixes appended to a name (".png").
    const auto takeLiterals = [&](const std::string& text, const std::string& file) {
        for (std::sregex_iterator it(text.begin(), text.end(), literal), none; it != none; ++it) {
            const std::string name = (*it)[1];
            if (name.front() != '.') {
                scan.names.emplace(name, file);
            }
        }
    };
    // The calls that load a picture by name, whatever the argument's form.
    const std::regex call(R"re(\b(?:Image::named|imagePath|getImageFromResource|iconView)\s*\()re");
    const std::regex constant(R"re(\bk[A-Z]\w*)re");
    // Names given to a view's own image setter beside its state, constants and defaults.
    // Each with a text that a file must hold for the pattern to match (regular
    // expressions are slow; most files are skipped).
    const std::vector<std::pair<std::string, std::regex>> patterns = {
            {"setImage(", std::regex(R"re(\bsetImage\(\s*[A-Za-z_]+,\s*"([^"]+)")re")},
            {"Image", std::regex(R"re(const char\*\s+k\w*Image\s*=\s*"([^"]+)")re")},
            {"ButtonIcon", std::regex(R"re(\w+ButtonIcon\s*=\s*"([^"]+)")re")},
            {"char* name", std::regex(R"re(const char\*\s+name\s*=\s*[^;]*?"([^"]+)")re")},
    };
    const auto holdsACall = [](const std::string& source) {
        for (const char* loader : {"named", "imagePath", "getImageFromResource", "iconView"}) {
            if (source.find(loader) != std::string::npos) {
                return true;
            }
        }
        return false;
    };
    for (const auto& file : files) {
        const std::string& source = file.text;
        const auto calls = holdsACall(source)
                                   ? std::sregex_iterator(source.begin(), source.end(), call)
                                   : std::sregex_iterator();
        for (auto it = calls; it != std::sregex_iterator(); ++it) {
            const std::size_t open = it->position() + it->length() - 1;
            const std::string argument = bracketed(source, open);
            // A declaration or definition of the loader itself names a parameter, not a picture.
            if (argument.find("std::string&") != std::string::npos
                || argument.find("string_view name") != std::string::npos
                || argument.find("std::string name") != std::string::npos) {
                continue;
            }
            takeLiterals(argument, file.name);
            for (std::sregex_iterator cit(argument.begin(), argument.end(), constant), none;
                 cit != none; ++cit) {
                const std::string id = (*cit)[0];
                const auto values = valuesOf(id, file.name);
                if (values.empty()) {
                    scan.unresolved.emplace(id, file.name);
                }
                for (const auto& value : values) {
                    scan.names.emplace(value, file.name);
                }
            }
        }
        for (const auto& [needed, pattern] : patterns) {
            if (source.find(needed) == std::string::npos) {
                continue;
            }
            for (std::sregex_iterator it(source.begin(), source.end(), pattern), end; it != end;
                 ++it) {
                takeLiterals((*it)[0], file.name);
            }
        }
    }
    return scan;
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
    const auto scan = namesInSources();
    EXPECT_GT(scan.names.size(), 30u) << "the scan finds the screens' names";
    for (const auto& [name, file] : scan.names) {
        EXPECT_TRUE(listed.count(name)) << "\"" << name << "\" (" << file << ") is not listed";
    }
    for (const auto& [id, file] : scan.unresolved) {
        ADD_FAILURE() << file << " asks for the picture " << id
                      << ", a constant with no literal value in the sources";
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
