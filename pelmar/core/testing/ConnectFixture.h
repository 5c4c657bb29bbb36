#pragma once

// ConnectFixture: what the HTTP client's loopback tests share: probes that turn callbacks into
// outcomes, and a fixture with a fresh sandbox, the service emulator and a facade (app token kApp)
// whose endpoints point at it, with helpers to open a session, create a video, write a file and
// upload it.
// Ownership: the fixture owns all of them for one test; the client and facade are released
//     before the emulator stops.
// Threads: probes are thread-safe (their callbacks may run on any thread); the fixture is used
//     from the test's thread.
// Errors: a wait that runs past kPatience fails the test instead of hanging it.

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "pelmar/core/Pelmar.h"
#include "pelmar/core/PelmarConnect.h"
#include "pelmar/platform/dispatch/Queue.h"
#include "pelmar/platform/net/URLSession.h"
#include "pelmar/platform/sync/Mutex.h"
#include "testing/ServiceEmulator.h"
#include "testing/TempSandbox.h"
#include "testing/Waits.h"

namespace pelmar::test {

inline const std::string kApp = "app-1";
inline const std::string kAppRoot = "/v1/applications/app-1";
inline const std::string kSessionKey = "w3n8tq5ykd2mzh7rp4vxc9bj" + kApp;

// What a data callback got, and where it ran.
struct DataAnswer {
    std::optional<std::string> data;
    PelmarConnect::Response response;
    std::optional<Error> error;
    bool onMainThread = true;
    bool onSharedQueue = false;
};

struct JsonAnswer {
    std::optional<Json> json;
    PelmarConnect::Response response;
    std::optional<Error> error;
};

// A callback that completes an Outcome; `outcome` waits for it.
struct DataProbe {
    Outcome<DataAnswer> answer;

    PelmarConnect::DataCallback callback() const {
        return [answer = answer](std::optional<std::string> data, PelmarConnect::Response response,
                                 std::optional<Error> error) {
            answer.set(DataAnswer{std::move(data), std::move(response), std::move(error),
                                  dispatch::isMainThread(),
                                  net::URLSession::shared()->delegateQueue()->isCurrent()});
        };
    }

    DataAnswer outcome() const { return answer.get("no callback came"); }
};

struct JsonProbe {
    Outcome<JsonAnswer> answer;

    PelmarConnect::JsonCallback callback() const {
        return [answer = answer](std::optional<Json> json, PelmarConnect::Response response,
                                 std::optional<Error> error) {
            answer.set(JsonAnswer{std::move(json), std::move(response), std::move(error)});
        };
    }

    JsonAnswer outcome() const { return answer.get("no callback came"); }
};

// What one upload reported: progress events, and its end.
struct UploadProbe {
    pelmar::Mutex mutex;
    std::vector<std::pair<int64_t, int64_t>> progress PELMAR_GUARDED_BY(mutex);
    DataProbe done;
};

class PelmarConnectIntegrationTest : public ::testing::Test {
protected:
    void SetUp() override {
        emulator_.start();
        facade_ = std::make_shared<Pelmar>(kApp);
        auto& config = facade_->config();
        config.setServerAPIUrl(emulator_.apiBase());
        config.setCdnAPIUrl(emulator_.cdnApiBase());
        config.setDevServerApiUrl(emulator_.devApiBase());
        config.setFileServerUrl(emulator_.fileServerBase());
        connect_ = facade_->connect();
        ASSERT_TRUE(connect_);
    }

    void TearDown() override {
        emulator_.releaseHeld();
        EXPECT_EQ(PelmarConnect::uploadsInFlight(), 0);
        connect_.reset();
        facade_.reset();
        emulator_.stop();
    }

    // Makes sure a session token is held, so that later calls return their own tasks.
    void openSession() {
        JsonProbe probe;
        connect_->getJsonArrayWithPath("/videos", std::nullopt, probe.callback());
        ASSERT_FALSE(probe.outcome().error);
    }

    std::string sessionToken() const {
        auto tokens = emulator_.sessionTokens();
        return tokens.empty() ? std::string() : tokens.back();
    }

    // Creates a video and returns its storage URL and form fields.
    std::pair<std::string, Json> createVideo() {
        JsonProbe probe;
        connect_->postJsonWithPath("/videos/videos-upload-url?create_stream=true",
                                   Json{{"title", "clip"}}, probe.callback());
        const auto created = probe.outcome();
        EXPECT_FALSE(created.error);
        if (!created.json || !created.json->contains("url_data")) {
            ADD_FAILURE() << "no create answer";
            return {};
        }
        const Json& urlData = (*created.json)["url_data"];
        return {urlData["url"].get<std::string>(), urlData["fields"]};
    }

    std::filesystem::path writeFile(const std::string& name, size_t size) {
        std::string bytes(size, '\0');
        std::mt19937 random(static_cast<unsigned>(size));
        for (char& c : bytes) {
            c = static_cast<char>(random());
        }
        const auto path = sandbox_.root() / name;
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }

    PelmarConnect::Task upload(const std::string& url,
                               const Json& fields,
                               const std::filesystem::path& file,
                               UploadProbe& probe,
                               std::function<void(const std::string&)> onEvent = {}) {
        return connect_->uploadFileWithPath(
                url, fields, "/videos/v/streams/s/video_submit", file.string(), "file", "video/mp4",
                "mp4",
                [callback = probe.done.callback(), onEvent](std::optional<std::string> data,
                                                            PelmarConnect::Response response,
                                                            std::optional<Error> error) {
                    if (onEvent) {
                        onEvent("done");
                    }
                    callback(std::move(data), std::move(response), std::move(error));
                },
                [&probe, onEvent](int64_t sent, int64_t expected) {
                    if (onEvent) {
                        onEvent("progress");
                    }
                    pelmar::MutexLock lock(probe.mutex);
                    probe.progress.emplace_back(sent, expected);
                });
    }

    std::vector<LoggedRequest> storageRequests() const {
        std::vector<LoggedRequest> out;
        for (auto& request : emulator_.requests()) {
            if (request.role == Role::Storage) {
                out.push_back(request);
            }
        }
        return out;
    }

    TempSandbox sandbox_;
    ServiceEmulator emulator_;
    std::shared_ptr<Pelmar> facade_;
    std::shared_ptr<PelmarConnect> connect_;
};

}  // namespace pelmar::test
