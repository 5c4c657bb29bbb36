#include "pelmar/live/Uri.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

namespace pelmar::live {
namespace {

// "scheme|user information|host|port|path|query|fragment".
std::string Parts(const Uri& uri) {
    return uri.scheme + "|" + uri.userInformation + "|" + uri.host + "|" + std::to_string(uri.port)
           + "|" + uri.path + "|" + uri.query + "|" + uri.fragment;
}

std::string Segments(const Uri& uri) {
    std::string text;
    for (const auto& segment : uri.GetSegments()) {
        text += text.empty() ? "" : " ";
        text += segment;
    }
    return text;
}

TEST(UriTest, SplitsAddressesIntoTheirParts) {
    struct Case {
        const char* text;
        const char* parts;
        const char* segments;
        const char* rebuilt;  // nullptr: the text itself
    };

    const Case cases[] = {
            {"rtmp://192.0.2.1:1935/live/cam", "rtmp://||192.0.2.1|1935|/live/cam||",
             "192.0.2.1 live cam", nullptr},
            {"rtmp://u@192.0.2.1:1935/live/cam?x=1#top",
             "rtmp://|u|192.0.2.1|1935|/live/cam|?x=1|#top", "192.0.2.1 live cam", nullptr},
            {"rtmp://192.0.2.1//live//cam/", "rtmp://||192.0.2.1|0|//live//cam/||",
             "192.0.2.1 live cam", nullptr},
            {"rtmp://192.0.2.1", "rtmp://||192.0.2.1|0|||", "192.0.2.1", nullptr},
            {"192.0.2.1:1935", "||192.0.2.1|1935|||", "192.0.2.1", nullptr},
            {"/live/cam", "|||0|/live/cam||", "live cam", nullptr},
            {"x#y?z", "||x|0|||#y?z", "x", nullptr},
            {"", "|||0|||", "", nullptr},
            // The query (an access token, say) is kept for the application name and tcUrl.
            {"rtmp://h/live/s?token=a&b=c", "rtmp://||h|0|/live/s|?token=a&b=c|", "h live s",
             nullptr},
            // Taking everything before an "@" in the path as user information would send the
            // connection to the host "b"; the "@" belongs to the stream name.
            {"rtmp://192.0.2.1/live/a@b", "rtmp://||192.0.2.1|0|/live/a@b||", "192.0.2.1 live a@b",
             nullptr},
            {"rtmp://u:p@w@h:1/a", "rtmp://|u:p@w|h|1|/a||", "h a", nullptr},
            {"rtmp://[::1]:65535/live", "rtmp://||[::1]|65535|/live||", "[::1] live", nullptr},
            {"rtmp://[::1]/live", "rtmp://||[::1]|0|/live||", "[::1] live", nullptr},
            {"rtmp://h:0080/live", "rtmp://||h|80|/live||", "h live", "rtmp://h:80/live"},
            {"rtmp://@h/live", "rtmp://||h|0|/live||", "h live", "rtmp://h/live"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        const Uri uri(c.text);
        EXPECT_EQ(Parts(uri), c.parts);
        EXPECT_EQ(Segments(uri), c.segments);
        EXPECT_EQ(uri.ToString(), c.rebuilt != nullptr ? c.rebuilt : c.text);
    }
}

// Wrapping 70000 into 4464, or reading a port that is no number (or nothing) as "no port", would
// connect somewhere the user never asked for.
TEST(UriTest, RefusesPortsOutsideTheValidRange) {
    for (const char* port :
         {"", "0", "70000", "65536", "abc", "-1", "1x", "+80", " 80", "99999999999999999999"}) {
        SCOPED_TRACE(port);
        Uri uri("rtmp://old/app");
        try {
            uri.Parse(std::string("rtmp://h:") + port + "/live");
            FAIL() << "no exception";
        } catch (const std::runtime_error& e) {
            EXPECT_EQ(std::string(e.what()), std::string("invalid port: ") + port);
        }
        EXPECT_EQ(uri.ToString(), "rtmp://old/app");
    }
}

TEST(UriTest, ParseReplacesEveryField) {
    Uri uri("rtmp://u@h:1935/live?q#f");
    uri.Parse("other");
    EXPECT_EQ(Parts(uri), "||other|0|||");
}

}  // namespace
}  // namespace pelmar::live
