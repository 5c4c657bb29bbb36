#include "pelmar/platform/net/URLOrigin.h"

#include <gtest/gtest.h>

namespace pelmar::net {
namespace {

TEST(URLOriginTest, NamesSchemeHostAndPort) {
    struct Case {
        const char* url;
        std::optional<std::string> origin;
    };

    const Case cases[] = {
            {"https://Example.COM/a?b=c", "https://example.com:443"},
            {"HTTP://127.0.0.3:8080/embed", "http://127.0.0.3:8080"},
            {"http://127.0.0.1", "http://127.0.0.1:80"},
            {"https://user@host.example:444/#x", "https://host.example:444"},
            {"ftp://host/file", std::nullopt},
            {"/v1/applications/x/session", std::nullopt},
            {"not a url", std::nullopt},
            {"", std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.url);
        EXPECT_EQ(urlOrigin(c.url), c.origin);
    }
}

}  // namespace
}  // namespace pelmar::net
