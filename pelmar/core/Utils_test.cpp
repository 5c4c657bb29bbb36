#include "pelmar/core/Utils.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "pelmar/core/FileInfoData.h"
#include "pelmar/platform/foundation/Console.h"
#include "pelmar/platform/foundation/Sandbox.h"
#include "testing/TempSandbox.h"

namespace pelmar {
namespace {

namespace fs = std::filesystem;

void writeFile(const fs::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class UtilsTest : public ::testing::Test {
protected:
    test::TempSandbox sandbox_;
    foundation::Console::Capture console_;
};

TEST_F(UtilsTest, SharedFoldersExistOnlyForKnownAppGroups) {
    EXPECT_FALSE(Utils::getWritableSharedDirectory("group.unknown").has_value());
    EXPECT_FALSE(Utils::getSharedScreenRecordingDirectory("group.unknown").has_value());
    EXPECT_FALSE(Utils::getWritableSharedDirectory("").has_value());

    foundation::Sandbox::registerAppGroup("group.app");
    const auto shared = Utils::getWritableSharedDirectory("group.app");
    ASSERT_TRUE(shared.has_value());
    EXPECT_TRUE(shared->string().ends_with("Library/Caches"));
    EXPECT_FALSE(fs::exists(*shared));  // nothing created

    const auto recordings = Utils::getSharedScreenRecordingDirectory("group.app");
    ASSERT_TRUE(recordings.has_value());
    EXPECT_EQ(*recordings, *shared / "com.pelmar.screen-recording");
    EXPECT_TRUE(fs::is_directory(*recordings));
}

TEST_F(UtilsTest, MoveFileNeverReplacesAnExistingFile) {
    const fs::path documents = Utils::getDocumentsDirectory();
    const fs::path source = sandbox_.root() / "clip.mp4";
    writeFile(source, "new");
    writeFile(documents / "clip.mp4", "old");

    EXPECT_FALSE(Utils::moveFile(source, documents).has_value());
    ASSERT_EQ(console_.lines().size(), 1u);
    EXPECT_TRUE(console_.lines()[0].starts_with("Unexpected error: "));
    EXPECT_TRUE(console_.lines()[0].ends_with("."));
    EXPECT_EQ(readFile(source), "new");
    EXPECT_EQ(readFile(documents / "clip.mp4"), "old");

    fs::remove(documents / "clip.mp4");
    EXPECT_EQ(Utils::moveFile(source, documents), documents / "clip.mp4");
    EXPECT_FALSE(fs::exists(source));
    EXPECT_EQ(readFile(documents / "clip.mp4"), "new");
}

TEST_F(UtilsTest, FileSizeIsMinusOneWhenUnreadable) {
    writeFile(sandbox_.root() / "empty", "");
    writeFile(sandbox_.root() / "three", "abc");
    EXPECT_EQ(Utils::fileSize(sandbox_.root() / "missing"), -1);
    EXPECT_EQ(Utils::fileSize(sandbox_.root() / "empty"), 0);
    EXPECT_EQ(Utils::fileSize(sandbox_.root() / "three"), 3);
    EXPECT_EQ(Utils::fileSize(sandbox_.root()), -1);  // a folder holds no file size
}

TEST_F(UtilsTest, TemporaryCopyIsAlwaysNamedMp4AndReported) {
    const fs::path source = sandbox_.root() / "movie.mov";
    writeFile(source, "frames");
    const auto copy = Utils::copyFileToTemporaryDirectory(source.string());
    ASSERT_TRUE(copy.has_value());
    EXPECT_TRUE(copy->ends_with(".mp4"));
    EXPECT_EQ(fs::path(*copy).parent_path(), foundation::Sandbox::temporaryDirectory());
    EXPECT_EQ(readFile(*copy), "frames");
    EXPECT_EQ(console_.lines().back(),
              "Copied file " + source.string() + " to temporary file " + *copy);

    const std::string missing = (sandbox_.root() / "missing.mov").string();
    EXPECT_FALSE(Utils::copyFileToTemporaryDirectory(missing).has_value());
    EXPECT_TRUE(console_.lines().back().starts_with("Failed to copy file " + missing
                                                    + " to temporary file "));
}

TEST_F(UtilsTest, RemoveFileIgnoresErrors) {
    writeFile(sandbox_.root() / "gone", "x");
    Utils::removeFile(sandbox_.root() / "gone");
    Utils::removeFile(sandbox_.root() / "gone");
    EXPECT_FALSE(fs::exists(sandbox_.root() / "gone"));
}

TEST_F(UtilsTest, LocalPathDecodesFileURLsAndKeepsPlainPaths) {
    struct Case {
        const char* input;
        std::optional<std::string> expected;
    };

    const Case cases[] = {
            {"file:///tmp/My%20Clip.mp4", "/tmp/My Clip.mp4"},
            {"file:///tmp/caf%C3%A9.mp4", "/tmp/caf\xc3\xa9.mp4"},
            {"/tmp/My Clip.mp4", "/tmp/My Clip.mp4"},
            {"/a/file://b.mp4", "/a/file://b.mp4"},  // an inner "file://" is part of the name
            {"file:///tmp/bad%2", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.input);
        EXPECT_EQ(Utils::localPath(c.input), c.expected);
    }
}

TEST(FileInfoDataTest, UrlFormKeepsTheAbsoluteURLStringAsPath) {
    const auto fromURL = FileInfoData::fromURL("file:///tmp/a.log", "text/plain", "a.log");
    EXPECT_EQ(fromURL.path, "file:///tmp/a.log");
    EXPECT_EQ(fromURL.url, "file:///tmp/a.log");
    EXPECT_EQ(fromURL.mimeType, "text/plain");
    EXPECT_EQ(fromURL.name, "a.log");

    const auto fromPath = FileInfoData::fromPath("/tmp/a b.log", "text/plain", "x");
    EXPECT_EQ(fromPath.path, "/tmp/a b.log");
    EXPECT_EQ(fromPath.url, "file:///tmp/a%20b.log");
}

}  // namespace
}  // namespace pelmar
