#include "pelmar/platform/net/FileBodySource.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "pelmar/platform/foundation/testing/TempSandbox.h"
#include "pelmar/platform/net/URLError.h"
#include "testing/Matchers.h"

namespace pelmar::net {
namespace {

class FileBodySourceTest : public ::testing::Test {
protected:
    std::filesystem::path writeFile(const std::string& name, const std::string& bytes) {
        const auto path = sandbox_.root() / name;
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }

    static void append(const std::filesystem::path& path, const std::string& bytes) {
        std::ofstream(path, std::ios::binary | std::ios::app) << bytes;
    }

    // Reads until the end or an error, in pieces of `chunk` bytes.
    static std::pair<std::string, std::optional<Error>> drain(FileBodySource& source,
                                                              size_t chunk) {
        std::string out;
        std::vector<char> buffer(chunk);
        for (;;) {
            auto result = source.read(buffer);
            if (result.error) {
                return {out, result.error};
            }
            if (result.bytes == 0) {
                return {out, std::nullopt};
            }
            out.append(buffer.data(), result.bytes);
        }
    }

    test::TempSandbox sandbox_;
};

TEST_F(FileBodySourceTest, ReadsTheWholeFileAndCanStartAgain) {
    struct Case {
        const char* name;
        size_t size;
        size_t chunk;
    };

    const Case cases[] = {{"empty", 0, 16}, {"one byte", 1, 1}, {"many chunks", 70001, 4096}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string bytes(c.size, '\0');
        for (size_t i = 0; i < bytes.size(); ++i) {
            bytes[i] = static_cast<char>(i * 7);
        }
        FileBodySource source(writeFile("body.bin", bytes));
        EXPECT_EQ(source.size(), static_cast<int64_t>(c.size));
        for (int round = 0; round < 2; ++round) {
            ASSERT_FALSE(source.open());
            auto [read, error] = drain(source, c.chunk);
            EXPECT_FALSE(error);
            EXPECT_EQ(read, bytes);
        }
        source.close();
    }
}

TEST_F(FileBodySourceTest, MissingFileOrFolderFailsToOpen) {
    FileBodySource missing(sandbox_.root() / "nothing.mp4");
    EXPECT_THAT(missing.statusError(), test::IsError(kURLErrorDomain, kURLErrorFileDoesNotExist));
    EXPECT_THAT(missing.open(), test::IsError(kURLErrorDomain, kURLErrorFileDoesNotExist));

    FileBodySource folder(sandbox_.root());
    EXPECT_THAT(folder.open(), test::IsError(kURLErrorDomain, kURLErrorFileDoesNotExist));
    EXPECT_THAT(folder.open(), test::IsError(kURLErrorDomain, kURLErrorFileDoesNotExist));
}

TEST_F(FileBodySourceTest, FileThatChangesSizeFailsInsteadOfSendingOtherBytes) {
    const auto path = writeFile("clip.mp4", std::string(1000, 'a'));

    {
        SCOPED_TRACE("shrunk before open");
        FileBodySource source(path);
        std::filesystem::resize_file(path, 10);
        EXPECT_THAT(source.open(),
                    test::IsError(kURLErrorDomain, kURLErrorRequestBodyStreamExhausted));
    }
    std::filesystem::resize_file(path, 1000);
    {
        SCOPED_TRACE("grew while read");
        FileBodySource source(path);
        ASSERT_FALSE(source.open());
        append(path, "more");
        auto [read, error] = drain(source, 256);
        EXPECT_THAT(error, test::IsError(kURLErrorDomain, kURLErrorRequestBodyStreamExhausted));
        EXPECT_EQ(read.size(), 1000u);
    }
    std::filesystem::resize_file(path, 1000);
    {
        SCOPED_TRACE("shrunk while read");
        FileBodySource source(path);
        ASSERT_FALSE(source.open());
        std::filesystem::resize_file(path, 300);
        auto [read, error] = drain(source, 256);
        EXPECT_THAT(error, test::IsError(kURLErrorDomain, kURLErrorRequestBodyStreamExhausted));
        EXPECT_LT(read.size(), 1000u);
    }
}

}  // namespace
}  // namespace pelmar::net
