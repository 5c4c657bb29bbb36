#include "pelmar/imageloader/PelmarRemoteImageCacheKeys.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <ctime>
#include <initializer_list>
#include <optional>
#include <string>
#include <utility>

namespace pelmar {
namespace {

// 2026-01-01 00:00:00 UTC.
constexpr double kNow = 1767225600.0;

std::string httpDate(double seconds) {
    const std::time_t time = static_cast<std::time_t>(seconds);
    std::tm parts{};
    gmtime_r(&time, &parts);
    char text[64];
    std::strftime(text, sizeof text, "%a, %d %b %Y %H:%M:%S GMT", &parts);
    return text;
}

// "http://h/" followed by 'a' up to `length` characters.
std::string urlOfLength(std::size_t length) {
    std::string url = "http://h/";
    url.append(length - url.size(), 'a');
    return url;
}

TEST(PelmarRemoteImageCacheKeysTest, KeysFollowURLProcessorKeyAndLength) {
    using Keys = PelmarRemoteImageCacheKeys;
    EXPECT_EQ(Keys::cacheKeyForURL("http://h/a.jpg", "thumb"), "http://h/a.jpg-<thumb>");
    EXPECT_EQ(Keys::cacheKeyForURL("http://h/a.jpg", ""), "http://h/a.jpg");
    EXPECT_EQ(Keys::cacheKeyForURL(std::nullopt, "thumb"), std::nullopt);

    const std::string exact = urlOfLength(200);
    EXPECT_EQ(Keys::cacheKeyForURL(exact), exact);
    const std::string longer = urlOfLength(201);
    const auto hashed = Keys::cacheKeyForURL(longer);
    ASSERT_TRUE(hashed);
    EXPECT_EQ(*hashed, Keys::md5Hex(longer));
    EXPECT_THAT(*hashed, ::testing::MatchesRegex("[0-9a-f]{32}"));
    EXPECT_EQ(Keys::resumeCacheKeyForURL(longer), "R-" + *hashed);
    EXPECT_EQ(Keys::resumeCacheKeyForURL("http://h/a.jpg"), "R-http://h/a.jpg");

    // 199 ASCII characters and one beyond the basic plane count as 201 UTF-16 units.
    EXPECT_EQ(Keys::cacheKeyForURL(urlOfLength(199) + "\xF0\x9F\x98\x80")->size(), 32u);
    // A key that is the URL itself is known without building it.
    for (const auto& [url, processorKey] :
         std::initializer_list<std::pair<std::string, std::string>>{
                 {"http://h/a.jpg", ""},
                 {"http://h/a.jpg", "thumb"},
                 {exact, ""},
                 {longer, ""},
                 {urlOfLength(199) + "\xF0\x9F\x98\x80", ""},
                 {urlOfLength(198) + "\xC3\xA9\xC3\xA9", ""}}) {
        SCOPED_TRACE(url.substr(0, 20) + " " + processorKey);
        EXPECT_EQ(Keys::keyIsURL(url, processorKey),
                  Keys::cacheKeyForURL(url, processorKey) == url);
    }
    EXPECT_TRUE(Keys::keyIsURL(urlOfLength(198) + "\xC3\xA9\xC3\xA9", ""));
    // MD5 of "abc", the RFC 1321 test value.
    EXPECT_EQ(Keys::md5Hex("abc"), "900150983cd24fb0d6963f7d28e17f72");
}

struct MaxAgeCase {
    const char* name;
    net::HTTPHeaderFields headers;
    std::optional<int64_t> maxAge;
};

class PelmarRemoteImageCacheKeysMaxAgeTest : public ::testing::TestWithParam<MaxAgeCase> {};

TEST_P(PelmarRemoteImageCacheKeysMaxAgeTest, ReadsCacheControlThenExpires) {
    const net::HTTPURLResponse response("http://h/a.jpg", 200, GetParam().headers);
    EXPECT_EQ(PelmarRemoteImageCacheKeys::findMaxAge(response, kNow), GetParam().maxAge);
}

INSTANTIATE_TEST_SUITE_P(
        Headers,
        PelmarRemoteImageCacheKeysMaxAgeTest,
        ::testing::Values(
                MaxAgeCase{"PublicMaxAge", {{"Cache-Control", "public, max-age=600"}}, 600},
                MaxAgeCase{"NoCacheAfterMaxAge", {{"Cache-Control", "max-age=600, no-cache"}}, 0},
                MaxAgeCase{"UpperCase", {{"cache-control", "PUBLIC, MAX-AGE=600"}}, 600},
                MaxAgeCase{"NoStore", {{"Cache-Control", "no-store"}}, 0},
                MaxAgeCase{"MustRevalidate", {{"Cache-Control", "must-revalidate"}}, 0},
                MaxAgeCase{"LaterMaxAgeWins", {{"Cache-Control", "max-age=5, max-age=9"}}, 9},
                MaxAgeCase{"NotANumber", {{"Cache-Control", "max-age=abc"}}, 0},
                MaxAgeCase{"Negative", {{"Cache-Control", "max-age=-5"}}, 0},
                MaxAgeCase{"SMaxAgeAloneLeavesItToExpires",
                           {{"Cache-Control", "s-maxage=600"}, {"Expires", httpDate(kNow + 3600)}},
                           3600},
                MaxAgeCase{
                        "SMaxAgeAloneNoExpires", {{"Cache-Control", "s-maxage=600"}}, std::nullopt},
                MaxAgeCase{"ExpiresInAnHour", {{"Expires", httpDate(kNow + 3600)}}, 3600},
                MaxAgeCase{"ExpiresInThePast", {{"Expires", httpDate(kNow - 60)}}, 0},
                MaxAgeCase{"ExpiresUnreadable", {{"Expires", "0"}}, 0},
                MaxAgeCase{"ExpiresWithNumericZone",
                           {{"Expires", "Thu, 01 Jan 2026 02:00:00 +0100"}},
                           3600},
                MaxAgeCase{"Neither", {}, std::nullopt}),
        [](const auto& testCase) { return std::string(testCase.param.name); });

TEST(PelmarRemoteImageCacheKeysTest, ResumeRecordsSurviveTheirByteFormAndRejectDamage) {
    const PelmarResume resume{std::string("\0\xFF part", 7), "\"etag\"", 5000};
    const std::string bytes = PelmarRemoteImageCacheKeys::encodeResume(resume);
    EXPECT_EQ(PelmarRemoteImageCacheKeys::decodeResume(bytes), resume);
    EXPECT_EQ(PelmarRemoteImageCacheKeys::decodeResume(bytes.substr(0, bytes.size() - 1)),
              std::nullopt);
    EXPECT_EQ(PelmarRemoteImageCacheKeys::decodeResume("an image"), std::nullopt);
}

}  // namespace
}  // namespace pelmar
