#include "pelmar/platform/net/internal/HTTPChallenge.h"

#include <gtest/gtest.h>

namespace pelmar::net::internal {
namespace {

TEST(HTTPChallengeTest, ReadsTheStrongestSchemeAndItsRealm) {
    struct Case {
        const char* name;
        HTTPHeaderFields fields;
        std::optional<URLAuthenticationMethod> method;
        std::string realm;
    };

    const Case cases[] = {
            {"basic",
             {{"WWW-Authenticate", "Basic realm=\"Pictures\""}},
             URLAuthenticationMethod::HTTPBasic,
             "Pictures"},
            {"digest with parameters",
             {{"www-authenticate", "Digest nonce=\"a,b\", realm=\"R \\\"x\\\"\", qop=auth"}},
             URLAuthenticationMethod::HTTPDigest,
             "R \"x\""},
            {"digest preferred in one field",
             {{"WWW-Authenticate", "Basic realm=\"b\", Digest realm=\"d\", nonce=\"n\""}},
             URLAuthenticationMethod::HTTPDigest,
             "d"},
            {"digest preferred across fields",
             {{"WWW-Authenticate", "Digest realm=\"d\""},
              {"WWW-Authenticate", "Basic realm=\"b\""}},
             URLAuthenticationMethod::HTTPDigest,
             "d"},
            {"after a token68 scheme",
             {{"WWW-Authenticate", "Negotiate abc==, Basic realm=\"b\""}},
             URLAuthenticationMethod::HTTPBasic,
             "b"},
            {"other schemes only",
             {{"WWW-Authenticate", "Bearer realm=\"api\""}},
             std::nullopt,
             ""},
            {"no field", {{"Content-Type", "text/html"}}, std::nullopt, ""},
            {"garbage", {{"WWW-Authenticate", "\"\"\"=,,"}}, std::nullopt, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto found = httpChallengeOf(c.fields);
        ASSERT_EQ(found.has_value(), c.method.has_value());
        if (found) {
            EXPECT_EQ(found->method, *c.method);
            EXPECT_EQ(found->realm, c.realm);
        }
    }
}

}  // namespace
}  // namespace pelmar::net::internal
