#include "pelmar/platform/net/internal/DataURL.h"

#include <gtest/gtest.h>

namespace pelmar::net::internal {
namespace {

TEST(DataURLTest, DecodesBase64AndPercentEncodedBytesWithTheirMediaType) {
    const struct {
        const char* url;
        std::optional<std::string> mediaType;  // none: refused
        std::string bytes;
    } cases[] = {
            {"data:image/gif;base64,R0lGODlh", "image/gif", "GIF89a"},
            {"DATA:image/png;BASE64,aGk", "image/png", "hi"},
            {"data:;base64,aGk=", "text/plain;charset=US-ASCII", "hi"},
            {"data:,a%20b", "text/plain;charset=US-ASCII", "a b"},
            {"data:;charset=utf-8,x", "text/plain;charset=utf-8", "x"},
            {"data:image/gif;base64,R0lG%4FDlh", "image/gif", "GIF89a"},
            {"data:image/gif;base64,R0l$", std::nullopt, ""},
            {"data:image/gif;base64,R", std::nullopt, ""},
            {"data:image/gif;base64,aGk=a", std::nullopt, ""},
            {"data:no-comma", std::nullopt, ""},
            {"data:,%zz", std::nullopt, ""},
            {"http://example.com/,x", std::nullopt, ""},
    };

    for (const auto& c : cases) {
        SCOPED_TRACE(c.url);
        const auto content = DataURL::decode(c.url);
        ASSERT_EQ(content.has_value(), c.mediaType.has_value());
        if (content) {
            EXPECT_EQ(content->mediaType, *c.mediaType);
            EXPECT_EQ(content->bytes, c.bytes);
        }
    }
}

}  // namespace
}  // namespace pelmar::net::internal
