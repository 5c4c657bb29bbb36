#include "pelmar/core/internal/MultipartBody.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "pelmar/platform/net/URLError.h"
#include "testing/Matchers.h"
#include "testing/TempSandbox.h"

namespace pelmar::core::internal {
namespace {

using namespace std::string_literals;

const std::string kDelimiter = "------WebKitFormBoundaryLEjTQVMVbVg9HRYu";

class MultipartBodyTest : public ::testing::Test {
protected:
    std::filesystem::path writeFile(const std::string& bytes) {
        const auto path = sandbox_.root() / "clip.mp4";
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }

    static MultipartBody::Made make(const Json& fields, const std::filesystem::path& file) {
        return MultipartBody::create(fields, file, "file", "video/mp4", "mp4");
    }

    // Everything the body yields, read `chunk` bytes at a time.
    static std::string readAll(MultipartBody& body, size_t chunk) {
        EXPECT_FALSE(body.open());
        std::string out;
        std::vector<char> buffer(chunk);
        for (;;) {
            auto result = body.read(buffer);
            EXPECT_FALSE(result.error);
            if (result.error || result.bytes == 0) {
                break;
            }
            out.append(buffer.data(), result.bytes);
        }
        body.close();
        return out;
    }

    test::TempSandbox sandbox_;
};

TEST_F(MultipartBodyTest, EmptyFileWithoutFieldsIsTheFilePartAlone) {
    auto made = make(Json::object(), writeFile(""));
    ASSERT_TRUE(made.body);

    const std::string expected = kDelimiter
            + "\r\nContent-Disposition: form-data; name=\"file\"; filename=\"file.mp4\"\r\n"
              "Content-Type: video/mp4\r\n\r\n"
              "\r\n"
            + kDelimiter + "--\r\n";
    EXPECT_EQ(made.body->size(), 181);
    EXPECT_EQ(readAll(*made.body, 7), expected);
    EXPECT_EQ(expected.size(), 181u);
    EXPECT_EQ(MultipartBody::contentType(),
              "multipart/form-data; boundary=----WebKitFormBoundaryLEjTQVMVbVg9HRYu");
}

TEST_F(MultipartBodyTest, FieldsPrecedeTheFilePartInTheirOwnOrder) {
    const std::string file = "\x00\x01movie bytes\r\n--not a boundary"s;
    Json fields = Json::object();
    fields["k"] = "v";
    fields["policy"] = "eyJ+/=";
    fields["size"] = 5;
    fields["public"] = true;
    fields["meta"] = Json{{"a", 1}};
    auto made = make(fields, writeFile(file));
    ASSERT_TRUE(made.body);

    auto part = [](const std::string& name, const std::string& value) {
        return kDelimiter + "\r\nContent-Disposition: form-data; name=\"" + name + "\"\r\n\r\n"
               + value + "\r\n";
    };
    const std::string expected = part("k", "v") + part("policy", "eyJ+/=") + part("size", "5")
            + part("public", "true") + part("meta", "{\"a\":1}") + kDelimiter
            + "\r\nContent-Disposition: form-data; name=\"file\"; filename=\"file.mp4\"\r\n"
              "Content-Type: video/mp4\r\n\r\n"
            + file + "\r\n" + kDelimiter + "--\r\n";
    for (size_t chunk : {1u, 13u, 65536u}) {
        SCOPED_TRACE(chunk);
        EXPECT_EQ(readAll(*made.body, chunk), expected);
    }
    // Each field adds 87 bytes plus its name and value.
    const int64_t fieldBytes =
            (87 + 1 + 1) + (87 + 6 + 6) + (87 + 4 + 1) + (87 + 6 + 4) + (87 + 4 + 7);
    EXPECT_EQ(made.body->size(), 181 + fieldBytes + static_cast<int64_t>(file.size()));
    EXPECT_EQ(made.body->size(), static_cast<int64_t>(expected.size()));

    Json one = Json::object();
    one["k"] = "v";
    EXPECT_EQ(make(one, writeFile("")).body->size(), 270);
}

TEST_F(MultipartBodyTest, RefusesFieldsAndNamesThatWouldBreakTheForm) {
    struct Case {
        const char* name;
        Json fields;
        std::string fileName;
        std::string mimeType;
        long code;
    };

    const Case cases[] = {
            {"quote in name", Json{{"a\"b", "v"}}, "file", "video/mp4", kMultipartErrorUnsafeField},
            {"CR in name", Json{{"a\rb", "v"}}, "file", "video/mp4", kMultipartErrorUnsafeField},
            {"LF in name", Json{{"a\nb", "v"}}, "file", "video/mp4", kMultipartErrorUnsafeField},
            {"boundary in value", Json{{"k", "x\r\n" + kDelimiter + "--\r\n"}}, "file", "video/mp4",
             kMultipartErrorUnsafeField},
            {"quote in file name", Json::object(), "fi\"le", "video/mp4",
             kMultipartErrorUnsafeFilePart},
            {"line break in media type", Json::object(), "file", "video/mp4\r\nX: y",
             kMultipartErrorUnsafeFilePart},
    };
    const auto path = writeFile("bytes");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto made = MultipartBody::create(c.fields, path, c.fileName, c.mimeType, "mp4");
        EXPECT_FALSE(made.body);
        EXPECT_THAT(made.error, test::IsError(kMultipartErrorDomain, c.code));
    }
}

TEST_F(MultipartBodyTest, MissingOrChangingSourceFailsInsteadOfSendingAShortFile) {
    auto missing = make(Json::object(), sandbox_.root() / "gone.mp4");
    EXPECT_FALSE(missing.body);
    EXPECT_THAT(missing.error, test::IsError(net::kURLErrorDomain, net::kURLErrorFileDoesNotExist));

    const auto path = writeFile(std::string(100000, 'm'));
    auto made = make(Json::object(), path);
    ASSERT_TRUE(made.body);
    ASSERT_FALSE(made.body->open());
    std::filesystem::resize_file(path, 50000);
    std::vector<char> buffer(8192);
    std::optional<Error> error;
    for (int i = 0; i < 100 && !error; ++i) {
        auto result = made.body->read(buffer);
        error = result.error;
        ASSERT_TRUE(error || result.bytes > 0);
    }
    EXPECT_THAT(error,
                test::IsError(net::kURLErrorDomain, net::kURLErrorRequestBodyStreamExhausted));
}

}  // namespace
}  // namespace pelmar::core::internal
