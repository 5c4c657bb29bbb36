#include "pelmar/platform/foundation/URL.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>

namespace pelmar::foundation {
namespace {

TEST(URLTest, NamedSetsHoldExactlyTheirCharacters) {
    const std::string unreserved =
            "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-._~";

    const struct {
        const char* name;
        const CharacterSet& set;
        std::string members;
    } cases[] = {
            {"unreserved", kUnreservedChars, unreserved},
            {"query", kQueryAllowedChars, unreserved + "!$&'()*+,;=:@/?"},
            {"host", kHostAllowedChars, unreserved + "!$&'()*+,:;=[]"},
            {"path", kPathAllowedChars, unreserved + "/"},
    };

    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        for (int byte = 0; byte < 256; ++byte) {
            const char ch = static_cast<char>(byte);
            const bool member = c.members.find(ch) != std::string::npos;
            char escaped[4];
            std::snprintf(escaped, sizeof escaped, "%%%02X", byte);
            EXPECT_EQ(percentEncode(std::string(1, ch), c.set),
                      member ? std::string(1, ch) : std::string(escaped))
                    << "byte " << byte;
        }
    }
}

TEST(URLTest, PercentEncodesUtf8ByteByByteInUpperCase) {
    EXPECT_EQ(percentEncode("a b&c=d+e/\xC3\xA9"), "a%20b%26c%3Dd%2Be%2F%C3%A9");
    EXPECT_EQ(percentEncode("{\"m\":\"a b\"}", kHostAllowedChars), "%7B%22m%22:%22a%20b%22%7D");
}

TEST(URLTest, PercentDecodeRejectsMalformedEscapes) {
    const struct {
        const char* name;
        const char* text;
        std::optional<std::string> expected;
    } cases[] = {
            {"plain", "abc", "abc"},
            {"escapes", "%41%2f%2F%c3%A9", "A//\xC3\xA9"},
            {"plusStaysPlus", "a+b", "a+b"},
            {"nulByte", "a%00b", std::string("a\0b", 3)},
            {"lonepercent", "%", std::nullopt},
            {"oneDigit", "ab%4", std::nullopt},
            {"trailingPercent", "abc%", std::nullopt},
            {"notHex", "%G1", std::nullopt},
            {"secondNotHex", "%1G", std::nullopt},
    };

    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(percentDecode(c.text), c.expected);
    }
}

TEST(URLTest, FileURLRoundTripsPathsWithBlanksAndNonAscii) {
    const struct {
        const char* name;
        const char* path;
        const char* url;
    } cases[] = {
            {"blank", "/tmp/My Clip.mp4", "file:///tmp/My%20Clip.mp4"},
            {"nonAscii",
             "/tmp/Gr\xC3\xBC\xC3\x9F"
             "e/\xE3\x83\x95.mov",
             "file:///tmp/Gr%C3%BC%C3%9Fe/%E3%83%95.mov"},
            {"urlSyntax", "/tmp/100%/a#b?c.mp4", "file:///tmp/100%25/a%23b%3Fc.mp4"},
            {"plain", "/var/a-b_c.d~", "file:///var/a-b_c.d~"},
    };

    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(fileURLFromPath(c.path), c.url);
        EXPECT_EQ(pathFromFileURL(c.url), c.path);
    }
}

TEST(URLTest, FileURLOfRelativePathIsAbsolute) {
    const std::string cwd = std::filesystem::current_path().string();
    EXPECT_EQ(pathFromFileURL(fileURLFromPath("clip.mp4")), cwd + "/clip.mp4");
}

TEST(URLTest, PathFromFileURLAcceptsOnlyLocalFileURLs) {
    const struct {
        const char* name;
        const char* url;
        std::optional<std::string> expected;
    } cases[] = {
            {"emptyHost", "file:///tmp/a%20b", "/tmp/a b"},
            {"localhost", "file://localhost/tmp/a", "/tmp/a"},
            {"upperCaseScheme", "FILE:///tmp/a", "/tmp/a"},
            {"queryAndFragmentDropped", "file:///tmp/a?x=1#y", "/tmp/a"},
            {"innerFileSchemeKept", "file:///tmp/file://x", "/tmp/file://x"},
            {"plainPath", "/tmp/a", std::nullopt},
            {"otherScheme", "https://host/a", std::nullopt},
            {"schemeInside", "x file:///tmp/a", std::nullopt},
            {"remoteHost", "file://server/share/a", std::nullopt},
            {"noPath", "file://", std::nullopt},
            {"malformedEscape", "file:///tmp/a%2", std::nullopt},
            {"nulByte", "file:///tmp/a%00b", std::nullopt},
    };

    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(pathFromFileURL(c.url), c.expected);
    }
}

}  // namespace
}  // namespace pelmar::foundation
