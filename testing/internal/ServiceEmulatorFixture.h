#pragma once

#include <curl/curl.h>
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "testing/Patience.h"
#include "testing/ServiceEmulator.h"

// ServiceEmulatorIntegrationTest: the fixture of the emulator's own tests: a started emulator
// with a session, and blocking requests through plain libcurl (a client independent of the SDK).
// Ownership: each test owns its emulator.
// Threads: send() is thread-safe; the fixture is the test's thread only.
// Errors: send() reports libcurl's code and the status in Reply.

namespace pelmar::test::internal {

inline const std::string kApp = "app-1";
inline const std::string kBoundary = "----WebKitFormBoundaryLEjTQVMVbVg9HRYu";
inline const std::string kEmptySha =
        "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855";

struct Reply {
    CURLcode code = CURLE_OK;
    long status = 0;
    std::string body;
    std::string contentType;
    curl_off_t contentLength = -1;

    Json json() const { return Json::parse(body); }
};

struct Call {
    Call(std::string method_,
         std::string url_,
         std::optional<std::string> body_ = std::nullopt,
         std::string contentType_ = "application/x-www-form-urlencoded",
         std::vector<std::string> headers_ = {})
        : method(std::move(method_)),
          url(std::move(url_)),
          body(std::move(body_)),
          contentType(std::move(contentType_)),
          headers(std::move(headers_)) {}

    std::string method;
    std::string url;
    std::optional<std::string> body;
    std::string contentType;
    std::vector<std::string> headers;
};

// One blocking request with plain libcurl; "Expect:" is suppressed unless a header sets it.
inline Reply send(const Call& call) {
    std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> curl(curl_easy_init(), curl_easy_cleanup);
    std::unique_ptr<curl_slist, decltype(&curl_slist_free_all)> headers(nullptr,
                                                                        curl_slist_free_all);
    std::vector<std::string> lines = call.headers;
    if (call.body) {
        lines.push_back("Content-Type: " + call.contentType);
        lines.push_back("Expect:");
    }
    for (const auto& line : lines) {
        headers.reset(curl_slist_append(headers.release(), line.c_str()));
    }
    Reply reply;
    CURL* handle = curl.get();
    curl_easy_setopt(handle, CURLOPT_URL, call.url.c_str());
    curl_easy_setopt(handle, CURLOPT_CUSTOMREQUEST, call.method.c_str());
    curl_easy_setopt(handle, CURLOPT_HTTPHEADER, headers.get());
    curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(handle, CURLOPT_PATH_AS_IS, 1L);
    if (call.method == "HEAD") {
        curl_easy_setopt(handle, CURLOPT_NOBODY, 1L);
    }
    if (call.body) {
        curl_easy_setopt(handle, CURLOPT_POSTFIELDSIZE_LARGE,
                         static_cast<curl_off_t>(call.body->size()));
        curl_easy_setopt(handle, CURLOPT_POSTFIELDS, call.body->data());
    }
    curl_easy_setopt(handle, CURLOPT_WRITEDATA, &reply.body);
    curl_easy_setopt(
            handle, CURLOPT_WRITEFUNCTION,
            +[](char* data, size_t size, size_t count, void* target) {
                static_cast<std::string*>(target)->append(data, size * count);
                return size * count;
            });
    reply.code = curl_easy_perform(handle);
    curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &reply.status);
    const char* type = nullptr;
    if (curl_easy_getinfo(handle, CURLINFO_CONTENT_TYPE, &type) == CURLE_OK && type) {
        reply.contentType = type;
    }
    curl_easy_getinfo(handle, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &reply.contentLength);
    return reply;
}

// The multipart layout of the SDK's uploads: the fields in order, then the file part.
inline std::string uploadBody(const Json& fields, const std::string& file) {
    std::string body;
    for (const auto& [name, value] : fields.items()) {
        body += "--" + kBoundary + "\r\nContent-Disposition: form-data; name=\"" + name
                + "\"\r\n\r\n" + (value.is_string() ? value.get<std::string>() : value.dump())
                + "\r\n";
    }
    return body + "--" + kBoundary
            + "\r\nContent-Disposition: form-data; name=\"file\"; filename=\"file.mp4\";\r\n"
              "Content-Type: video/mp4\r\n\r\n"
            + file + "\r\n--" + kBoundary + "--\r\n";
}

inline std::string randomBytes(size_t size) {
    std::mt19937 generator(42);
    std::string bytes(size, '\0');
    for (auto& byte : bytes) {
        byte = static_cast<char>(generator() & 0xff);
    }
    return bytes;
}

inline std::string readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class ServiceEmulatorIntegrationTest : public ::testing::Test {
protected:
    void SetUp() override {
        curl_global_init(CURL_GLOBAL_DEFAULT);
        emulator.start();
        const Reply reply = send({"POST", app(emulator.apiBase(), "/session"), ""});
        ASSERT_EQ(reply.status, 200) << reply.body;
        session = reply.json()["token"].get<std::string>();
    }

    void TearDown() override { curl_global_cleanup(); }

    static std::string app(const std::string& base, const std::string& rest) {
        return base + "/v1/applications/" + kApp + rest;
    }

    std::string sessionParam() const {
        return ServiceEmulator::sessionKeyFor(kApp) + "=" + session + "&";
    }

    // A GET/DELETE URL carrying the session in its query.
    std::string withSession(const std::string& url) const {
        return url + (url.find('?') == std::string::npos ? "?" : "&") + sessionParam();
    }

    Reply post(const std::string& url, const std::string& form = "") {
        return send({"POST", url, form + sessionParam()});
    }

    Reply upload(const std::string& url,
                 const std::string& body,
                 std::vector<std::string> headers = {}) {
        Call call{"POST", url, body, "multipart/form-data; boundary=" + kBoundary,
                  std::move(headers)};
        return send(call);
    }

    ServiceEmulator emulator;
    std::string session;
};

}  // namespace pelmar::test::internal
