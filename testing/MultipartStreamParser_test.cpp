#include "testing/MultipartStreamParser.h"

#include <gtest/gtest.h>

#include <string>

namespace pelmar::test {
namespace {

const std::string kBoundary = "----WebKitFormBoundaryLEjTQVMVbVg9HRYu";
const std::string kLine = "--" + kBoundary + "\r\n";
const std::string kClose = "\r\n--" + kBoundary + "--\r\n";
const std::string kFileHeaders =
        "Content-Disposition: form-data; name=\"file\"; filename=\"file.mp4\";\r\n"
        "Content-Type: video/mp4\r\n\r\n";

// The body layout the SDK's uploads use: fields first, then the file part.
std::string uploadBody(const FieldList& fields, const std::string& file) {
    std::string body;
    for (const auto& [name, value] : fields) {
        body += kLine + "Content-Disposition: form-data; name=\"" + name + "\"\r\n\r\n" + value
                + "\r\n";
    }
    return body + kLine + kFileHeaders + file + kClose;
}

struct Parsed {
    bool ok = false;
    std::string error;
    std::vector<MultipartPart> parts;
    std::string file;
};

Parsed parse(const std::string& body, size_t chunk) {
    Parsed outcome;
    MultipartStreamParser parser(kBoundary, nullptr, [&](std::string_view bytes) {
        outcome.file.append(bytes);
        return true;
    });
    for (size_t i = 0; i < body.size(); i += chunk) {
        parser.feed(std::string_view(body).substr(i, chunk));
    }
    outcome.ok = parser.finish();
    outcome.error = parser.error();
    outcome.parts = parser.parts();
    return outcome;
}

// Every body gives the same outcome whole, byte by byte and in odd-sized chunks.
Parsed parseEveryWay(const std::string& body) {
    const Parsed whole = parse(body, body.size() + 1);
    for (size_t chunk : {size_t{1}, size_t{5}, size_t{41}}) {
        SCOPED_TRACE("chunk " + std::to_string(chunk));
        const Parsed split = parse(body, chunk);
        EXPECT_EQ(split.ok, whole.ok);
        EXPECT_EQ(split.error, whole.error);
        EXPECT_EQ(split.file, whole.file);
        EXPECT_EQ(split.parts.size(), whole.parts.size());
    }
    return whole;
}

TEST(MultipartStreamParserTest, ReadsTheUploadLayoutOfThe182And271ByteBodies) {
    const std::string empty = uploadBody({}, "");
    ASSERT_EQ(empty.size(), 182u);
    Parsed outcome = parseEveryWay(empty);
    ASSERT_TRUE(outcome.ok) << outcome.error;
    ASSERT_EQ(outcome.parts.size(), 1u);
    EXPECT_EQ(outcome.parts[0].name, "file");
    EXPECT_EQ(outcome.parts[0].fileName, "file.mp4");
    EXPECT_EQ(outcome.parts[0].contentType, "video/mp4");
    EXPECT_EQ(outcome.parts[0].size, 0u);

    const std::string oneField = uploadBody({{"k", "v"}}, "");
    ASSERT_EQ(oneField.size(), 271u);
    outcome = parseEveryWay(oneField);
    ASSERT_TRUE(outcome.ok) << outcome.error;
    ASSERT_EQ(outcome.parts.size(), 2u);
    EXPECT_EQ(outcome.parts[0].name, "k");
    EXPECT_EQ(outcome.parts[0].value, "v");
    EXPECT_FALSE(outcome.parts[0].fileName);
}

TEST(MultipartStreamParserTest, PassesFileBytesThatResembleTheBoundary) {
    // CR LF, dashes and most of the delimiter, but never the whole delimiter.
    std::string file = "\r\n--" + kBoundary.substr(0, 20) + "\r\n\r\n--\r\n-";
    file += std::string(5000, '\r');
    file += "--" + kBoundary;
    Parsed outcome = parseEveryWay(uploadBody({{"key", "a b"}, {"policy", ""}}, file));
    ASSERT_TRUE(outcome.ok) << outcome.error;
    EXPECT_EQ(outcome.file, file);
    EXPECT_EQ(outcome.parts.back().size, file.size());
    EXPECT_EQ(outcome.parts[1].value, "");
}

TEST(MultipartStreamParserTest, AcceptsUsualHeaderSpellings) {
    const std::string body =
            kLine + "content-disposition:FORM-DATA;name=k\r\nX-Extra: 1\r\n\r\nv" + "\r\n" + kLine
            + "Content-Disposition: form-data; filename=\"a;b.bin\"; name=\"f\"\r\n\r\nxyz"
            + kClose;
    const Parsed outcome = parseEveryWay(body);
    ASSERT_TRUE(outcome.ok) << outcome.error;
    EXPECT_EQ(outcome.parts[0].name, "k");
    EXPECT_EQ(outcome.parts[0].headers.size(), 2u);
    EXPECT_EQ(outcome.parts[1].fileName, "a;b.bin");
    EXPECT_EQ(outcome.file, "xyz");
}

TEST(MultipartStreamParserTest, RejectsMalformedBodiesWithAReason) {
    const std::string good = uploadBody({{"k", "v"}}, "data");
    const std::string field = "Content-Disposition: form-data; name=\"k\"\r\n\r\nv\r\n";

    struct Case {
        const char* name;
        std::string body;
        std::string error;
    };

    const Case cases[] = {
            {"preamble", "junk\r\n" + good, "body does not start with the boundary line"},
            {"other boundary", "--other\r\n" + field, "body does not start with the boundary line"},
            {"no closing boundary", good.substr(0, good.size() - 4),
             "body ended before the closing boundary"},
            {"empty body", "", "body ended before the closing boundary"},
            {"epilogue", good + "x", "data after the closing boundary"},
            {"no CRLF after close", good.substr(0, good.size() - 2) + "xx",
             "closing boundary not followed by CRLF"},
            {"value holding the boundary line",
             uploadBody({{"k", "a\r\n--" + kBoundary + "x"}}, ""), "malformed boundary line"},
            {"no disposition", kLine + "Content-Type: text/plain\r\n\r\nv" + kClose,
             "part without Content-Disposition"},
            {"no headers", kLine + "\r\nv" + kClose, "part without Content-Disposition"},
            {"not form-data",
             kLine + "Content-Disposition: attachment; name=\"k\"\r\n\r\nv" + kClose,
             "part is not form-data"},
            {"no name", kLine + "Content-Disposition: form-data; filename=\"f\"\r\n\r\nv" + kClose,
             "part without a name"},
            {"two names",
             kLine + "Content-Disposition: form-data; name=a; name=b\r\n\r\nv" + kClose,
             "duplicate Content-Disposition parameter"},
            {"two dispositions",
             kLine
                     + "Content-Disposition: form-data; name=a\r\nContent-Disposition: form-data; "
                       "name=b\r\n\r\nv"
                     + kClose,
             "duplicate Content-Disposition"},
            {"open quote", kLine + "Content-Disposition: form-data; name=\"k\r\n\r\nv" + kClose,
             "unterminated quoted string in Content-Disposition"},
            {"junk after quote",
             kLine + "Content-Disposition: form-data; name=\"k\"x\r\n\r\nv" + kClose,
             "malformed Content-Disposition"},
            {"header without colon", kLine + "Content-Disposition form-data\r\n\r\nv" + kClose,
             "malformed part header line"},
            {"headers too long",
             kLine + "X-Long: " + std::string(MultipartStreamParser::kMaxHeaderBlockBytes, 'a')
                     + "\r\n\r\n",
             "part headers too long"},
            {"field too long",
             uploadBody({{"k", std::string(MultipartStreamParser::kMaxFieldValueBytes + 1, 'v')}},
                        ""),
             "field value too long"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Parsed outcome = parseEveryWay(c.body);
        EXPECT_FALSE(outcome.ok);
        EXPECT_EQ(outcome.error, c.error);
    }
}

TEST(MultipartStreamParserTest, StopsWhenACallbackRefuses) {
    MultipartStreamParser refusing(
            kBoundary,
            [](const MultipartPart& part, size_t index) {
                return part.fileName && index == 0 ? std::string("file must come last") : "";
            },
            nullptr);
    EXPECT_FALSE(refusing.feed(uploadBody({}, "abc")));
    EXPECT_EQ(refusing.error(), "file must come last");
    EXPECT_FALSE(refusing.feed("more"));

    MultipartStreamParser failingSink(kBoundary, nullptr, [](std::string_view) { return false; });
    failingSink.feed(uploadBody({}, "abc"));
    EXPECT_FALSE(failingSink.finish());
    EXPECT_EQ(failingSink.error(), "could not store the file part");
}

TEST(MultipartStreamParserTest, TakesTheBoundaryFromTheContentType) {
    struct Case {
        const char* contentType;
        std::optional<std::string> boundary;
    };

    const Case cases[] = {
            {"multipart/form-data; boundary=----WebKitFormBoundaryLEjTQVMVbVg9HRYu", kBoundary},
            {"Multipart/Form-Data;BOUNDARY=\"a b\"", "a b"},
            {"multipart/form-data; charset=utf-8; boundary=xyz", "xyz"},
            {"multipart/form-data", std::nullopt},
            {"multipart/form-data; boundary=", std::nullopt},
            {"multipart/form-data; boundary=a\"b", std::nullopt},
            {"multipart/mixed; boundary=xyz", std::nullopt},
            {"application/x-www-form-urlencoded", std::nullopt},
            {"", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.contentType);
        EXPECT_EQ(MultipartStreamParser::boundaryFromContentType(c.contentType), c.boundary);
    }
    EXPECT_EQ(MultipartStreamParser::boundaryFromContentType("multipart/form-data; boundary="
                                                             + std::string(71, 'a')),
              std::nullopt);
}

}  // namespace
}  // namespace pelmar::test
