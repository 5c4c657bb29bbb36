#include "pelmar/core/PelmarCacheManager.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "pelmar/core/Utils.h"
#include "testing/TempSandbox.h"

namespace pelmar {
namespace {

namespace fs = std::filesystem;

class PelmarCacheManagerTest : public ::testing::Test {
protected:
    // A sparse file of `size` bytes.
    static void makeFile(const fs::path& path, uint64_t size) {
        std::ofstream(path).close();
        fs::resize_file(path, size);
    }

    test::TempSandbox sandbox_;
    PelmarCacheManager cache_;
};

TEST_F(PelmarCacheManagerTest, CachePathsFollowTheKindAndCreateTheFolder) {
    const fs::path documents = Utils::getDocumentsDirectory();

    struct Case {
        Media_Type type;
        std::string expected;
    } cases[] = {{Media_Type::Video, "video-cache/T.mp4"},
                 {Media_Type::Audio, "audio-cache/T.aac"},
                 {Media_Type::Image, "image-cache/T.jpg"}};

    for (const Case& c : cases) {
        SCOPED_TRACE(c.expected);
        EXPECT_EQ(cache_.getCacheFilePath(c.type, "T"), (documents / c.expected).string());
        EXPECT_TRUE(fs::is_directory((documents / c.expected).parent_path()));
    }
}

TEST_F(PelmarCacheManagerTest, RefusesTokensThatAreUnsafeInAFileName) {
    for (const char* token : {"", ".", "..", "../x", "a/b", "a b", "a?b", "%2e%2e"}) {
        SCOPED_TRACE(token);
        EXPECT_FALSE(cache_.getCacheFilePath(Media_Type::Video, token));
    }
    EXPECT_TRUE(cache_.getCacheFilePath(Media_Type::Video, "vid-1.x_y~Z"));
}

TEST_F(PelmarCacheManagerTest, TrimRemovesOnlyOversizedFilesOfTheKindsExtension) {
    const fs::path folder = cache_.getCacheDirectory(Media_Type::Video);
    const uint64_t limit = PelmarCacheManager::kMaxCachedFileBytes;
    makeFile(folder / "big.mp4", limit + 1);
    makeFile(folder / "exact.mp4", limit);
    makeFile(folder / "big.aac", limit + 1);
    makeFile(folder / "BIG.MP4", limit + 1);
    makeFile(folder / "kept.mp4", limit + 1);

    cache_.trimCache(Media_Type::Video, (folder / "kept.mp4").string());

    EXPECT_FALSE(fs::exists(folder / "big.mp4"));
    EXPECT_TRUE(fs::exists(folder / "exact.mp4"));
    EXPECT_TRUE(fs::exists(folder / "big.aac"));
    EXPECT_TRUE(fs::exists(folder / "BIG.MP4"));
    EXPECT_TRUE(fs::exists(folder / "kept.mp4"));
}

TEST_F(PelmarCacheManagerTest, TrimOfAKindLooksAtItsOwnFolderAndExtensionOnly) {
    const uint64_t big = PelmarCacheManager::kMaxCachedFileBytes + 1;
    const fs::path audio = cache_.getCacheDirectory(Media_Type::Audio);
    const fs::path image = cache_.getCacheDirectory(Media_Type::Image);
    makeFile(audio / "a.aac", big);
    makeFile(audio / "a.mp4", big);
    makeFile(image / "i.jpg", big);

    cache_.trimCache(Media_Type::Audio);
    EXPECT_FALSE(fs::exists(audio / "a.aac"));
    EXPECT_TRUE(fs::exists(audio / "a.mp4"));
    EXPECT_TRUE(fs::exists(image / "i.jpg"));
    cache_.trimCache(Media_Type::Image);
    EXPECT_FALSE(fs::exists(image / "i.jpg"));
}

TEST_F(PelmarCacheManagerTest, TrimOfEmptyOrMissingFolderDoesNothing) {
    // Oversized files next to the trimmed folders, and in the folder that holds them, stay.
    const fs::path empty = cache_.getCacheDirectory("empty");
    const fs::path missing = empty.parent_path() / "missing";
    const fs::path beside = fs::path(cache_.getCacheDirectory(Media_Type::Video)) / "beside.mp4";
    const fs::path above = empty.parent_path() / "above.mp4";
    makeFile(beside, PelmarCacheManager::kMaxCachedFileBytes + 1);
    makeFile(above, PelmarCacheManager::kMaxCachedFileBytes + 1);

    cache_.trimCache("mp4", empty.string());
    cache_.trimCache("mp4", missing.string());

    EXPECT_TRUE(fs::is_directory(empty));
    EXPECT_TRUE(fs::is_empty(empty));
    EXPECT_FALSE(fs::exists(missing));  // a trim makes no folder
    EXPECT_TRUE(fs::exists(beside));
    EXPECT_TRUE(fs::exists(above));
}

TEST_F(PelmarCacheManagerTest, FileQueriesAndRemoval) {
    const fs::path file = sandbox_.root() / "f.bin";
    EXPECT_FALSE(cache_.fileExists(file.string()));
    EXPECT_FALSE(cache_.getFileSize(file.string()));
    makeFile(file, 5);
    EXPECT_TRUE(cache_.fileExists(file.string()));
    EXPECT_EQ(cache_.getFileSize(file.string()), 5u);
    cache_.removeFile(file.string());
    cache_.removeFile(file.string());
    EXPECT_FALSE(cache_.fileExists(file.string()));
}

}  // namespace
}  // namespace pelmar
