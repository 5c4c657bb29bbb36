#include "pelmar/platform/ui/Resources.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "pelmar/platform/foundation/LogSink.h"
#include "pelmar/platform/foundation/testing/TempSandbox.h"
#include "pelmar/platform/ui/Image.h"

namespace pelmar::ui {
namespace {

TEST(ResourcesTest, FindsTheBestFileForANameAndNothingOutsideTheFolder) {
    test::TempSandbox sandbox;
    const auto folder = sandbox.root() / "resources";
    std::filesystem::create_directories(folder);
    for (const char* file : {"play@2x.png", "play@3x.png", "stop.png", "beep.wav", "beep.caf",
                             "logo.jpg", "square.and.arrow.up@3x.png"}) {
        std::ofstream(folder / file) << "x";
    }
    std::ofstream(sandbox.root() / "outside.png") << "x";
    const Resources resources(folder);

    struct Case {
        const char* name;
        std::optional<std::string> image;  // at scale 3
        std::optional<std::string> sound;
    };

    const Case cases[] = {
            {"play", "play@3x.png", std::nullopt},
            {"stop", "stop.png", std::nullopt},
            {"logo.jpg", "logo.jpg", std::nullopt},
            {"beep", std::nullopt, "beep.caf"},
            {"beep.wav", std::nullopt, "beep.wav"},
            {"missing", std::nullopt, std::nullopt},
            {"../outside", std::nullopt, std::nullopt},
            {"", std::nullopt, std::nullopt},
            {"square.and.arrow.up", "square.and.arrow.up@3x.png", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto image = resources.imagePath(c.name);
        auto sound = resources.soundPath(c.name);
        EXPECT_EQ(image ? std::optional(image->filename().string()) : std::nullopt, c.image);
        EXPECT_EQ(sound ? std::optional(sound->filename().string()) : std::nullopt, c.sound);
    }
    EXPECT_EQ(resources.imagePath("play", 2)->filename(), "play@2x.png");
    EXPECT_EQ(resources.imagePath("play", 1)->filename(), "play@2x.png");
}

TEST(ResourcesTest, TheLinkedBinaryFindsThePicturesOfEverySubsystem) {
    if (std::getenv("PELMAR_RESOURCE_DIR") != nullptr) {
        GTEST_SKIP() << "PELMAR_RESOURCE_DIR overrides the folder";
    }
    const Resources& resources = Resources::installed();
    for (const char* name : {"trash-white", "play-white", "ic_stop"}) {
        SCOPED_TRACE(name);
        const auto path = resources.imagePath(name);
        ASSERT_TRUE(path) << "looked in " << resources.folder();
        EXPECT_EQ(path->parent_path(), resources.folder());
    }
}

TEST(ResourcesTest, AnEmptyFolderFindsNothingInTheWorkingDirectory) {
    test::TempSandbox sandbox;
    std::ofstream(sandbox.root() / "here.png") << "x";
    const auto previous = std::filesystem::current_path();
    std::filesystem::current_path(sandbox.root());
    const Resources resources{std::filesystem::path()};
    EXPECT_FALSE(resources.imagePath("here"));
    std::filesystem::current_path(previous);
}

TEST(ResourcesTest, AFolderThatDoesNotExistIsToldOnceThroughTheLogSink) {
    // The folder is chosen once per process: a fresh one, where nothing has looked yet.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
            {
                ::setenv("PELMAR_RESOURCE_DIR", "/nonexistent/pelmar-resources", 1);
                std::vector<std::string> lines;  // only this thread writes here
                foundation::LogSink::set(foundation::LogSink::callback(
                        [&](foundation::LogChannel channel, std::string_view line) {
                            if (channel == foundation::LogChannel::Diagnostic) {
                                lines.emplace_back(line);
                            }
                        }));
                for (const char* name : {"play-white", "ic_stop", "missing"}) {
                    (void)Resources::installed().imagePath(name);
                    (void)Image::named(name);
                }
                foundation::LogSink::set(foundation::LogSink::standardStreams());
                std::fprintf(stderr, "%zu lines: %s\n", lines.size(),
                             lines.empty() ? "" : lines.front().c_str());
                std::exit(0);
            },
            ::testing::ExitedWithCode(0),
            "1 lines: .*/nonexistent/pelmar-resources .*PELMAR_RESOURCE_DIR");
}

}  // namespace
}  // namespace pelmar::ui
