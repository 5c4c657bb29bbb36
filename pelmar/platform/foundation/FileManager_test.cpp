#include "pelmar/platform/foundation/FileManager.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>

#include "testing/Matchers.h"
#include "testing/TempSandbox.h"

namespace pelmar::foundation {
namespace {

namespace fs = std::filesystem;

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

void writeFile(const fs::path& path, const std::string& content) {
    std::ofstream(path, std::ios::binary) << content;
}

// The error for `what` failing with `errnum`: "<what>: <strerror>".
test::ErrorMatcher IsFileError(int errnum, const std::string& what) {
    return test::IsError(kFileErrorDomain, errnum, what + ": " + std::strerror(errnum));
}

class FileManagerTest : public ::testing::Test {
protected:
    fs::path path(const std::string& name) const { return sandbox_.root() / name; }

    // A folder on another file system than the sandbox (/dev/shm is a tmpfs on most Linux
    // systems), or an empty path when there is none.
    fs::path otherFileSystemFolder() {
        struct stat shm {
        }, tmp{};

        if (::stat("/dev/shm", &shm) != 0 || ::access("/dev/shm", W_OK) != 0
            || ::stat(sandbox_.root().c_str(), &tmp) != 0 || shm.st_dev == tmp.st_dev) {
            return {};
        }
        other_ = fs::path("/dev/shm") / sandbox_.root().filename();
        fs::create_directory(other_);
        return other_;
    }

    void TearDown() override {
        if (!other_.empty()) {
            fs::remove_all(other_);
        }
    }

    test::TempSandbox sandbox_;
    fs::path other_;
};

TEST_F(FileManagerTest, MoveRenamesFilesAndFolders) {
    writeFile(path("a.mp4"), "movie");
    ASSERT_EQ(FileManager::moveItem(path("a.mp4"), path("b.mp4")), std::nullopt);
    EXPECT_FALSE(fs::exists(path("a.mp4")));
    EXPECT_EQ(readFile(path("b.mp4")), "movie");

    fs::create_directories(path("dir/sub"));
    writeFile(path("dir/sub/x"), "x");
    ASSERT_EQ(FileManager::moveItem(path("dir"), path("moved")), std::nullopt);
    EXPECT_EQ(readFile(path("moved/sub/x")), "x");
}

TEST_F(FileManagerTest, MoveOntoAnExistingNameFailsAndLeavesBoth) {
    const struct {
        const char* name;
        void (*makeTarget)(const fs::path&);
    } cases[] = {
            {"file", [](const fs::path& p) { writeFile(p, "old"); }},
            {"emptyFolder", [](const fs::path& p) { fs::create_directory(p); }},
            {"danglingSymlink", [](const fs::path& p) { fs::create_symlink("/nonexistent", p); }},
    };

    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path from = path(std::string(c.name) + ".src");
        const fs::path to = path(c.name);
        writeFile(from, "new");
        c.makeTarget(to);
        EXPECT_THAT(FileManager::moveItem(from, to),
                    IsFileError(EEXIST, "cannot move " + from.string() + " to " + to.string()));
        EXPECT_EQ(readFile(from), "new");
        EXPECT_TRUE(fs::exists(fs::symlink_status(to)));
        if (fs::is_regular_file(to)) {
            EXPECT_EQ(readFile(to), "old");
        }
    }
}

TEST_F(FileManagerTest, MoveOfAMissingSourceSaysSo) {
    const auto error = FileManager::moveItem(path("missing"), path("b"));
    EXPECT_THAT(error, IsFileError(ENOENT, "cannot move " + path("missing").string() + " to "
                                                   + path("b").string()));
}

TEST_F(FileManagerTest, MovesFilesAndTreesAcrossFileSystems) {
    const fs::path other = otherFileSystemFolder();
    if (other.empty()) {
        GTEST_SKIP() << "no second file system to move across";
    }
    writeFile(other / "clip.mp4", "movie");
    ASSERT_EQ(FileManager::moveItem(other / "clip.mp4", path("clip.mp4")), std::nullopt);
    EXPECT_EQ(readFile(path("clip.mp4")), "movie");
    EXPECT_FALSE(fs::exists(other / "clip.mp4"));

    fs::create_directories(other / "tree/sub");
    writeFile(other / "tree/sub/a", "a");
    fs::create_symlink("sub/a", other / "tree/link");
    ASSERT_EQ(FileManager::moveItem(other / "tree", path("tree")), std::nullopt);
    EXPECT_EQ(readFile(path("tree/sub/a")), "a");
    EXPECT_EQ(fs::read_symlink(path("tree/link")), "sub/a");
    EXPECT_FALSE(fs::exists(other / "tree"));
}

TEST_F(FileManagerTest, RefusesAnExistingTargetAcrossFileSystems) {
    const fs::path other = otherFileSystemFolder();
    if (other.empty()) {
        GTEST_SKIP() << "no second file system to move across";
    }
    writeFile(other / "clip.mp4", "new");
    writeFile(path("clip.mp4"), "old");
    EXPECT_THAT(FileManager::moveItem(other / "clip.mp4", path("clip.mp4")),
                IsFileError(EEXIST, "cannot move " + (other / "clip.mp4").string() + " to "
                                            + path("clip.mp4").string()));
    EXPECT_EQ(readFile(other / "clip.mp4"), "new");
    EXPECT_EQ(readFile(path("clip.mp4")), "old");
}

TEST_F(FileManagerTest, CopyRefusesAnExistingTargetAndCopiesTrees) {
    writeFile(path("a"), "content");
    ::chmod(path("a").c_str(), 0640);
    writeFile(path("b"), "old");
    EXPECT_THAT(
            FileManager::copyItem(path("a"), path("b")),
            IsFileError(EEXIST, "cannot copy " + path("a").string() + " to " + path("b").string()));
    EXPECT_EQ(readFile(path("b")), "old");

    ASSERT_EQ(FileManager::copyItem(path("a"), path("c")), std::nullopt);
    EXPECT_EQ(readFile(path("c")), "content");
    EXPECT_EQ(readFile(path("a")), "content");
    EXPECT_EQ(fs::status(path("c")).permissions(),
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);

    fs::create_directories(path("dir/sub"));
    writeFile(path("dir/sub/x"), "x");
    ASSERT_EQ(FileManager::copyItem(path("dir"), path("dir2")), std::nullopt);
    EXPECT_EQ(readFile(path("dir2/sub/x")), "x");
    EXPECT_EQ(readFile(path("dir/sub/x")), "x");
}

TEST_F(FileManagerTest, RefusesToCopyAFolderIntoItself) {
    fs::create_directories(path("dir/sub"));
    EXPECT_THAT(FileManager::copyItem(path("dir"), path("dir/sub/copy")),
                IsFileError(EINVAL, "cannot copy " + path("dir").string() + " to "
                                            + path("dir/sub/copy").string()));
    EXPECT_FALSE(fs::exists(path("dir/sub/copy")));
}

TEST_F(FileManagerTest, FailedTreeCopyLeavesNothingBehind) {
    fs::create_directories(path("dir"));
    writeFile(path("dir/a"), "a");
    ASSERT_EQ(::mkfifo(path("dir/pipe").c_str(), 0600), 0);
    EXPECT_THAT(FileManager::copyItem(path("dir"), path("copy")),
                IsFileError(ENOTSUP, "cannot copy " + path("dir").string() + " to "
                                             + path("copy").string()));
    EXPECT_FALSE(fs::exists(path("copy")));
}

TEST_F(FileManagerTest, RemoveItemRemovesTreesAndReportsMissingPaths) {
    fs::create_directories(path("dir/sub"));
    writeFile(path("dir/sub/x"), "x");
    EXPECT_EQ(FileManager::removeItem(path("dir")), std::nullopt);
    EXPECT_FALSE(fs::exists(path("dir")));
    EXPECT_THAT(FileManager::removeItem(path("dir")),
                IsFileError(ENOENT, "cannot remove " + path("dir").string()));

    writeFile(path("target"), "kept");
    fs::create_symlink(path("target"), path("link"));
    EXPECT_EQ(FileManager::removeItem(path("link")), std::nullopt);
    EXPECT_EQ(readFile(path("target")), "kept");
}

TEST_F(FileManagerTest, FileSizeAndExistence) {
    writeFile(path("empty"), "");
    writeFile(path("five"), "12345");
    fs::create_directory(path("folder"));
    fs::create_symlink(path("five"), path("link"));
    fs::create_symlink(path("missing"), path("dangling"));

    const struct {
        const char* name;
        std::optional<uint64_t> size;
        bool exists;
    } cases[] = {
            {"missing", std::nullopt, false}, {"empty", 0, true}, {"five", 5, true},
            {"folder", std::nullopt, true},   {"link", 5, true},  {"dangling", std::nullopt, false},
    };

    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(FileManager::fileSize(path(c.name)), c.size);
        EXPECT_EQ(FileManager::fileExists(path(c.name)), c.exists);
    }
}

TEST_F(FileManagerTest, CreationDateWhenTheFileSystemRecordsOne) {
    EXPECT_EQ(FileManager::creationDate(path("missing")), std::nullopt);
    writeFile(path("a"), "a");
    const auto created = FileManager::creationDate(path("a"));
    if (!created) {
        GTEST_SKIP() << "this file system records no birth time";
    }

    struct stat st {};

    ASSERT_EQ(::stat(path("a").c_str(), &st), 0);
    // Written right after creation, so birth and modification fall in the same second or so.
    EXPECT_NEAR(*created, static_cast<double>(st.st_mtime), 2.0);
}

TEST_F(FileManagerTest, CreateDirectoryWithAndWithoutIntermediates) {
    writeFile(path("file"), "x");
    fs::create_directory(path("existing"));

    const struct {
        const char* name;
        const char* relative;
        bool intermediates;
        int errnum;  // 0: success
    } cases[] = {
            {"nested", "a/b/c", true, 0},
            {"existingWithIntermediates", "existing", true, 0},
            {"single", "single", false, 0},
            {"existingWithout", "existing", false, EEXIST},
            {"missingParentWithout", "x/y", false, ENOENT},
            {"fileInTheWay", "file", true, ENOTDIR},
    };

    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto error = FileManager::createDirectory(path(c.relative), c.intermediates);
        if (c.errnum == 0) {
            EXPECT_EQ(error, std::nullopt);
            EXPECT_TRUE(fs::is_directory(path(c.relative)));
        } else {
            EXPECT_THAT(error, IsFileError(c.errnum,
                                           "cannot create directory " + path(c.relative).string()));
        }
    }
}

TEST_F(FileManagerTest, ContentsOfDirectoryListsFullPathsSorted) {
    fs::create_directory(path("dir"));
    for (const char* name : {"b.mp4", "a.aac", "c"}) {
        writeFile(path("dir") / name, "");
    }
    std::optional<Error> error = Error{"stale", 1, "stale"};
    EXPECT_EQ(FileManager::contentsOfDirectory(path("dir"), &error),
              (std::vector<fs::path>{path("dir/a.aac"), path("dir/b.mp4"), path("dir/c")}));
    EXPECT_EQ(error, std::nullopt);

    EXPECT_TRUE(FileManager::contentsOfDirectory(path("missing"), &error).empty());
    EXPECT_THAT(error, IsFileError(ENOENT, "cannot list directory " + path("missing").string()));
    EXPECT_TRUE(FileManager::contentsOfDirectory(path("missing")).empty());
}

TEST_F(FileManagerTest, WriteAtomicallyReplacesContentAndLeavesNoTemporaryFile) {
    writeFile(path("data.json"), "old");
    ::chmod(path("data.json").c_str(), 0600);
    ASSERT_EQ(FileManager::writeAtomically(path("data.json"), std::string_view("new")),
              std::nullopt);
    EXPECT_EQ(readFile(path("data.json")), "new");
    EXPECT_EQ(fs::status(path("data.json")).permissions(),
              fs::perms::owner_read | fs::perms::owner_write);

    const std::vector<uint8_t> bytes{0, 1, 2};
    ASSERT_EQ(FileManager::writeAtomically(path("bytes"), bytes), std::nullopt);
    EXPECT_EQ(readFile(path("bytes")), std::string("\0\1\2", 3));
    EXPECT_EQ(FileManager::contentsOfDirectory(sandbox_.root()),
              (std::vector<fs::path>{path("bytes"), path("data.json")}));

    EXPECT_THAT(FileManager::writeAtomically(path("missing/x"), std::string_view("x")),
                IsFileError(ENOENT, "cannot write " + path("missing/x").string()));
}

// Sets the process's umask for one scope.
class ScopedUmask {
public:
    explicit ScopedUmask(mode_t mask) : previous_(::umask(mask)) {}

    ~ScopedUmask() { ::umask(previous_); }

    ScopedUmask(const ScopedUmask&) = delete;
    ScopedUmask& operator=(const ScopedUmask&) = delete;

private:
    mode_t previous_;
};

mode_t modeOf(const fs::path& path) {
    struct stat st {};

    return ::stat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 07777;
}

TEST_F(FileManagerTest, WriteAtomicallyHonoursTheUmaskAndKeepsLogsToTheOwner) {
    using Access = FileManager::Access;

    const struct {
        const char* name;
        mode_t umask;
        Access access;
        std::optional<mode_t> existing;  // the mode of the file being replaced
        mode_t expected;
    } cases[] = {
            {"new, umask 022", 022, Access::Default, std::nullopt, 0644},
            {"new, umask 077", 077, Access::Default, std::nullopt, 0600},
            {"new, umask 002", 002, Access::Default, std::nullopt, 0664},
            {"replaced keeps its mode", 022, Access::Default, 0640, 0640},
            {"new log", 002, Access::OwnerOnly, std::nullopt, 0600},
            {"replaced log", 022, Access::OwnerOnly, 0644, 0600},
    };

    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path target = path("file-" + std::to_string(n++));
        if (c.existing) {
            writeFile(target, "old");
            ::chmod(target.c_str(), *c.existing);
        }
        {
            ScopedUmask mask(c.umask);
            ASSERT_EQ(FileManager::writeAtomically(target, std::string_view("new"), c.access),
                      std::nullopt);
        }
        EXPECT_EQ(readFile(target), "new");
        EXPECT_EQ(modeOf(target), c.expected) << std::oct << modeOf(target);
    }
    // Only the targets are left.
    EXPECT_EQ(FileManager::contentsOfDirectory(sandbox_.root()).size(), std::size(cases));
}

}  // namespace
}  // namespace pelmar::foundation
