#include "pelmar/core/PelmarConnect.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <future>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "pelmar/core/Pelmar.h"
#include "pelmar/core/internal/MultipartBody.h"
#include "pelmar/platform/app/UserNotificationCenter.h"
#include "pelmar/platform/dispatch/Clock.h"
#include "pelmar/platform/dispatch/ManualClock.h"
#include "pelmar/platform/dispatch/Queue.h"
#include "pelmar/platform/foundation/URL.h"
#include "pelmar/platform/net/URLError.h"
#include "pelmar/platform/net/URLSession.h"
#include "pelmar/platform/sync/Mutex.h"
#include "testing/Matchers.h"
#include "testing/ServiceEmulator.h"
#include "testing/TempSandbox.h"

namespace pelmar {
namespace {

using namespace std::chrono_literals;

// Only a guard against hangs: every wait below normally ends in milliseconds.
constexpr auto kGuard = 30s;
const std::string kApp = "app-1";
const std::string kAppRoot = "/v1/applications/app-1";
const std::string kSessionKey = "w3n8tq5ykd2mzh7rp4vxc9bj" + kApp;

struct Outcome {
    std::optional<std::string> data;
    PelmarConnect::Response response;
    std::optional<Error> error;
    bool onMainThread = true;
    bool onSharedQueue = false;
};

struct JsonOutcome {
    std::optional<Json> json;
    PelmarConnect::Response response;
    std::optional<Error> error;
};

template <class T>
T await(std::future<T>& future) {
    if (future.wait_for(kGuard) != std::future_status::ready) {
        ADD_FAILURE() << "no callback came";
        return T{};
    }
    return future.get();
}

// A callback that fulfils a promise; `outcome` waits for it.
struct DataProbe {
    std::shared_ptr<std::promise<Outcome>> promise = std::make_shared<std::promise<Outcome>>();
    std::future<Outcome> future = promise->get_future();

    PelmarConnect::DataCallback callback() const {
        return [promise = promise](std::optional<std::string> data,
                                   PelmarConnect::Response response, std::optional<Error> error) {
            promise->set_value(Outcome{std::move(data), std::move(response), std::move(error),
                                       dispatch::isMainThread(),
                                       net::URLSession::shared()->delegateQueue()->isCurrent()});
        };
    }

    Outcome outcome() { return await(future); }
};

struct JsonProbe {
    std::shared_ptr<std::promise<JsonOutcome>> promise =
            std::make_shared<std::promise<JsonOutcome>>();
    std::future<JsonOutcome> future = promise->get_future();

    PelmarConnect::JsonCallback callback() const {
        return [promise = promise](std::optional<Json> json, PelmarConnect::Response response,
                                   std::optional<Error> error) {
            promise->set_value(JsonOutcome{std::move(json), std::move(response), std::move(error)});
        };
    }

    JsonOutcome outcome() { return await(future); }
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

    std::vector<test::LoggedRequest> storageRequests() const {
        std::vector<test::LoggedRequest> out;
        for (auto& request : emulator_.requests()) {
            if (request.role == test::Role::Storage) {
                out.push_back(request);
            }
        }
        return out;
    }

    test::TempSandbox sandbox_;
    test::ServiceEmulator emulator_;
    std::shared_ptr<Pelmar> facade_;
    std::shared_ptr<PelmarConnect> connect_;
};

TEST_F(PelmarConnectIntegrationTest, FirstRequestFetchesTheSessionAndLaterOnesReuseIt) {
    DataProbe first;
    connect_->getWithPath("/videos", std::nullopt, first.callback());
    const auto outcome = first.outcome();
    ASSERT_FALSE(outcome.error) << *outcome.error;
    EXPECT_EQ(outcome.response->statusCode(), 200);
    EXPECT_FALSE(outcome.onMainThread);
    EXPECT_TRUE(outcome.onSharedQueue);

    DataProbe second;
    connect_->getWithPath("/videos", std::nullopt, second.callback());
    ASSERT_FALSE(second.outcome().error);

    const auto log = emulator_.requests();
    ASSERT_EQ(log.size(), 3u);
    EXPECT_EQ(log[0].method, "POST");
    EXPECT_EQ(log[0].target, kAppRoot + "/session");
    EXPECT_EQ(log[0].body, "");
    EXPECT_EQ(log[0].header("Content-Length"), "0");
    EXPECT_EQ(log[0].header("Content-Type"), "application/x-www-form-urlencoded");
    const std::string expectedTarget =
            kAppRoot + "/videos?" + kSessionKey + "=" + sessionToken() + "&";
    EXPECT_EQ(log[1].method, "GET");
    EXPECT_EQ(log[1].target, expectedTarget);
    EXPECT_EQ(log[2].target, expectedTarget);
    EXPECT_EQ(emulator_.sessionCalls(), 1);
}

TEST_F(PelmarConnectIntegrationTest, ConcurrentFirstRequestsShareOneSessionRequest) {
    constexpr int kRequests = 20;
    test::ServiceEmulator::Fault hold;
    hold.method = "POST";
    hold.pathPattern = ".*/session";
    hold.hold = true;
    emulator_.addFault(hold);

    std::vector<JsonProbe> probes(kRequests);
    std::vector<PelmarConnect::Task> tasks(kRequests);
    std::vector<std::thread> threads;
    for (int i = 0; i < kRequests; ++i) {
        threads.emplace_back([&, i] {
            tasks[i] =
                    connect_->getJsonArrayWithPath("/videos", std::nullopt, probes[i].callback());
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    ASSERT_TRUE(emulator_.waitForHeld(1, kGuard));
    emulator_.releaseHeld();

    for (auto& probe : probes) {
        const auto outcome = probe.outcome();
        EXPECT_FALSE(outcome.error);
        EXPECT_TRUE(outcome.json && outcome.json->is_array());
    }
    EXPECT_EQ(emulator_.sessionCalls(), 1);
    // Until the token is held, every caller gets the one "/session" task.
    for (const auto& task : tasks) {
        ASSERT_TRUE(task);
        EXPECT_EQ(task, tasks[0]);
    }
    const auto gets = emulator_.requestsMatching("GET", ".*/videos");
    ASSERT_EQ(gets.size(), static_cast<size_t>(kRequests));
    for (const auto& request : gets) {
        EXPECT_EQ(request.queryParam(kSessionKey), sessionToken());
    }
}

TEST_F(PelmarConnectIntegrationTest, RequestsGoOutInTheExactShapeForEachMethod) {
    openSession();
    connect_->setClientAuthToken("c+/=");
    connect_->setServerAuthToken("s 1");
    const std::string session = kSessionKey + "=" + sessionToken() + "&";
    const std::string auth = "client_auth=c%2B%2F%3D&server_auth=s%201&";
    Json data = Json::object();
    data["title"] = "Tom & Jerry";
    data["n"] = 5;
    data["flag"] = true;
    data["key=x"] = "a+b/c=d";

    struct Case {
        const char* name;
        std::function<void(PelmarConnect::DataCallback)> send;
        std::string method;
        std::string target;
        std::string body;
        std::optional<std::string> contentLength;
    };

    const std::string params = "title=Tom%20%26%20Jerry&key%3Dx=a%2Bb%2Fc%3Dd&" + session + auth;
    const Case cases[] = {
            {"get", [&](auto cb) { connect_->getWithPath("/videos", data, cb); }, "GET",
             kAppRoot + "/videos?" + params, "", std::nullopt},
            {"delete", [&](auto cb) { connect_->deleteWithPath("/videos/v1", data, cb); }, "DELETE",
             kAppRoot + "/videos/v1?" + params, "", std::nullopt},
            {"post", [&](auto cb) { connect_->postWithPath("/videos", data, cb); }, "POST",
             kAppRoot + "/videos", params, std::to_string(params.size())},
            {"post without parameters",
             [&](auto cb) { connect_->requestWithMethod("POST", "/videos", {}, cb); }, "POST",
             kAppRoot + "/videos", session + auth, std::to_string((session + auth).size())},
            {"raw post",
             [&](auto cb) {
                 connect_->postRawDataWithPath("/debugger", "events=%5B%5D",
                                               Json{{"a b", "1&2"}, {"n", 3}}, cb);
             },
             "POST", kAppRoot + "/debugger?a%20b=1%262&" + session + auth, "events=%5B%5D", "13"},
            {"absolute service URL",
             [&](auto cb) {
                 connect_->getWithPath(emulator_.devApiBase() + kAppRoot + "/audios", std::nullopt,
                                       cb);
             },
             "GET", "/embed" + kAppRoot + "/audios?" + session + auth, "", std::nullopt},
            {"relative path holding a URL",
             [&](auto cb) {
                 connect_->postWithPath("/videos/x?next=https://example.com", std::nullopt, cb);
             },
             "POST", kAppRoot + "/videos/x?next=https://example.com", session + auth,
             std::to_string((session + auth).size())},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        emulator_.clearRequests();
        DataProbe probe;
        c.send(probe.callback());
        const auto outcome = probe.outcome();
        ASSERT_FALSE(outcome.error) << *outcome.error;
        const auto log = emulator_.requests();
        ASSERT_EQ(log.size(), 1u);
        const auto& request = log[0];
        EXPECT_EQ(request.method, c.method);
        EXPECT_EQ(request.target, c.target);
        EXPECT_NE(request.role, test::Role::Storage);
        EXPECT_EQ(request.body, c.body);
        EXPECT_EQ(request.header("Content-Length"), c.contentLength);
        EXPECT_EQ(request.header("Expect"), std::nullopt);
        if (c.method == "POST") {
            EXPECT_EQ(request.header("Content-Type"), "application/x-www-form-urlencoded");
        }
    }
}

TEST_F(PelmarConnectIntegrationTest, CredentialsNeverReachTheStorageHostOrForeignHosts) {
    openSession();
    connect_->setClientAuthToken("client-secret");
    connect_->setServerAuthToken("server-secret");
    const std::string token = sessionToken();

    DataProbe foreign;
    connect_->getWithPath(emulator_.storageBase() + "/anything", Json{{"q", "1"}},
                          foreign.callback());
    EXPECT_FALSE(foreign.outcome().error);

    DataProbe foreignRaw;
    connect_->postRawDataWithPath(emulator_.storageBase() + "/raw", "x", std::nullopt,
                                  foreignRaw.callback());
    EXPECT_FALSE(foreignRaw.outcome().error);

    auto [url, fields] = createVideo();
    UploadProbe uploaded;
    upload(url, fields, writeFile("clip.mp4", 5000), uploaded);
    const auto outcome = uploaded.done.outcome();
    ASSERT_FALSE(outcome.error);
    EXPECT_EQ(outcome.response->statusCode(), 201);

    const auto storage = storageRequests();
    ASSERT_EQ(storage.size(), 3u);
    EXPECT_EQ(storage[0].target, "/anything?q=1&");
    EXPECT_EQ(storage[1].target, "/raw?");
    for (const auto& request : storage) {
        SCOPED_TRACE(request.target);
        for (const std::string& secret :
             {token, std::string("client-secret"), std::string("server-secret"), kSessionKey}) {
            EXPECT_EQ(request.target.find(secret), std::string::npos);
            EXPECT_EQ(request.body.find(secret), std::string::npos);
            for (const auto& [name, value] : request.headers) {
                EXPECT_EQ(value.find(secret), std::string::npos);
            }
        }
    }
    ASSERT_TRUE(storage[2].multipart);
    EXPECT_EQ(storage[2].multipart->fields.size(), fields.size());
}

TEST_F(PelmarConnectIntegrationTest, WithoutASessionRequestsGoOutBareAndTheNextOneTriesAgain) {
    emulator_.failSession(500, "{\"error\":\"down\"}");
    emulator_.setRequireSession(false);
    connect_->setClientAuthToken("client");

    for (int i = 0; i < 2; ++i) {
        DataProbe probe;
        connect_->getWithPath("/videos", Json{{"a", "b"}}, probe.callback());
        EXPECT_FALSE(probe.outcome().error);
    }
    EXPECT_EQ(emulator_.sessionCalls(), 2);
    const auto gets = emulator_.requestsMatching("GET", ".*/videos");
    ASSERT_EQ(gets.size(), 2u);
    for (const auto& request : gets) {
        EXPECT_EQ(request.target, kAppRoot + "/videos?a=b&");
    }
}

TEST_F(PelmarConnectIntegrationTest, AnswersAreHandedBackRawAsTextOrAsJson) {
    openSession();
    auto script = [&](int status, std::string body) {
        test::ServiceEmulator::Fault fault;
        fault.method = "GET";
        fault.pathPattern = ".*/scripted";
        fault.status = status;
        fault.body = std::move(body);
        emulator_.addFault(fault);
    };
    auto getJson = [&](bool array) {
        JsonProbe probe;
        if (array) {
            connect_->getJsonArrayWithPath("/scripted", std::nullopt, probe.callback());
        } else {
            connect_->getJsonWithPath("/scripted", std::nullopt, probe.callback());
        }
        return probe.outcome();
    };
    auto getText = [&] {
        auto promise = std::make_shared<std::promise<std::optional<std::string>>>();
        auto future = promise->get_future();
        connect_->getStringWithPath("/scripted", std::nullopt,
                                    [promise](std::optional<std::string> text, auto, auto) {
                                        promise->set_value(std::move(text));
                                    });
        return await(future);
    };

    struct Case {
        const char* name;
        std::string body;
        bool array;
        std::optional<Json> json;
    };

    const Case cases[] = {
            {"dictionary", "{\"a\":1}", false, Json{{"a", 1}}},
            {"array", "[1,2]", true, Json::array({1, 2})},
            {"array asked as dictionary", "[1,2]", false, std::nullopt},
            {"dictionary asked as array", "{\"a\":1}", true, std::nullopt},
            {"not JSON", "<html>", false, std::nullopt},
            {"no bytes", "", false, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        script(404, c.body);
        const auto outcome = getJson(c.array);
        EXPECT_FALSE(outcome.error);
        ASSERT_TRUE(outcome.response);
        EXPECT_EQ(outcome.response->statusCode(), 404);
        EXPECT_EQ(outcome.json, c.json);
    }

    script(200, "h\xc3\xa9llo");
    EXPECT_EQ(getText(), "h\xc3\xa9llo");
    script(200, "bad \xff byte");
    EXPECT_EQ(getText(), std::nullopt);
    script(200, "");
    EXPECT_EQ(getText(), std::nullopt);
}

TEST_F(PelmarConnectIntegrationTest, RequestsThatCannotBeSentCallBackWithAnError) {
    openSession();

    struct Case {
        const char* name;
        std::string path;
        long code;
    };

    const Case cases[] = {
            {"blank in path", "/videos/a b", net::kURLErrorBadURL},
            {"refused connection", "http://127.0.0.1:1/refused", net::kURLErrorCannotConnectToHost},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        DataProbe probe;
        connect_->getWithPath(c.path, std::nullopt, probe.callback());
        const auto outcome = probe.outcome();
        EXPECT_THAT(outcome.error, test::IsError(net::kURLErrorDomain, c.code));
        EXPECT_TRUE(outcome.onSharedQueue);
        EXPECT_FALSE(outcome.data);
    }

    JsonProbe json;
    connect_->getJsonWithPath("/videos/a b", std::nullopt, json.callback());
    const auto outcome = json.outcome();
    EXPECT_FALSE(outcome.json);
    EXPECT_THAT(outcome.error, test::IsError(net::kURLErrorDomain, net::kURLErrorBadURL));
}

TEST_F(PelmarConnectIntegrationTest, ErrorReportDecodesToTheExactJson) {
    const std::string item = "upload \"failed\" & retried + 100% \\ done\n";
    facade_->logError(item);
    ASSERT_TRUE(emulator_.waitForRequests(
            [](const auto& log) {
                return std::any_of(log.begin(), log.end(), [](const test::LoggedRequest& r) {
                    return r.path.ends_with("/debugger") && r.status != 0;
                });
            },
            kGuard));

    const auto reports = emulator_.debugReports();
    ASSERT_EQ(reports.size(), 1u);
    ASSERT_TRUE(reports[0].events) << reports[0].error;
    const Json& events = *reports[0].events;
    ASSERT_TRUE(events.is_array());
    ASSERT_EQ(events.size(), 1u);
    const int64_t time = events[0]["time"].get<int64_t>();
    Json expected = Json::array({Json::object()});
    expected[0]["message"] = item;
    expected[0]["source"] = "pelmar.mobile.sdk";
    expected[0]["lineno"] = 0;
    expected[0]["colno"] = 0;
    expected[0]["time"] = time;
    EXPECT_EQ(events.dump(), expected.dump());
    EXPECT_EQ(reports[0].body, Pelmar::errorReportBody(item, time));
    const auto posts = emulator_.requestsMatching("POST", ".*/debugger");
    ASSERT_EQ(posts.size(), 1u);
    EXPECT_EQ(posts[0].target, kAppRoot + "/debugger?" + kSessionKey + "=" + sessionToken() + "&");
}

TEST_F(PelmarConnectIntegrationTest, UploadStreamsTheExactMultipartBodyWithProgress) {
    openSession();
    auto [url, fields] = createVideo();
    const size_t fileSize = 3 * 1024 * 1024 + 17;
    const auto file = writeFile("clip.mp4", fileSize);
    int64_t fieldBytes = 0;
    for (const auto& [key, value] : fields.items()) {
        fieldBytes += 87 + static_cast<int64_t>(key.size())
                      + static_cast<int64_t>(value.is_string() ? value.get<std::string>().size()
                                                               : value.dump().size());
    }
    const int64_t bodySize = 181 + fieldBytes + static_cast<int64_t>(fileSize);

    UploadProbe probe;
    auto task = upload(url, fields, file, probe);
    ASSERT_TRUE(task);
    const auto outcome = probe.done.outcome();

    ASSERT_FALSE(outcome.error) << *outcome.error;
    EXPECT_FALSE(outcome.onMainThread);
    ASSERT_TRUE(outcome.response);
    EXPECT_EQ(outcome.response->statusCode(), 201);
    ASSERT_TRUE(outcome.data);
    const Json answer = Json::parse(*outcome.data);
    const auto stored = emulator_.uploads();
    ASSERT_EQ(stored.size(), 1u);
    EXPECT_EQ(stored[0].size, fileSize);
    EXPECT_EQ(answer["sha256"], stored[0].sha256);
    EXPECT_EQ(stored[0].fileName, "file.mp4");
    EXPECT_EQ(stored[0].contentType, "video/mp4");

    const auto storage = storageRequests();
    ASSERT_EQ(storage.size(), 1u);
    EXPECT_EQ(storage[0].header("Content-Length"), std::to_string(bodySize));
    EXPECT_EQ(storage[0].header("Content-Type"), internal::MultipartBody::contentType());
    EXPECT_EQ(storage[0].header("Expect"), std::nullopt);
    ASSERT_TRUE(storage[0].multipart);
    EXPECT_EQ(storage[0].multipart->fileSize, fileSize);
    // The file part's header as it went over the wire: no empty parameter after the file name,
    // which strict form parsers refuse (dropping the file while the host still answers success).
    const test::FieldList fileHeaders = {
            {"Content-Disposition", "form-data; name=\"file\"; filename=\"file.mp4\""},
            {"Content-Type", "video/mp4"}};
    EXPECT_EQ(storage[0].multipart->fileHeaders, fileHeaders);

    pelmar::MutexLock lock(probe.mutex);
    ASSERT_FALSE(probe.progress.empty());
    int64_t previous = 0;
    for (const auto& [sent, expected] : probe.progress) {
        EXPECT_GT(sent, previous);
        EXPECT_EQ(expected, bodySize);
        previous = sent;
    }
    EXPECT_EQ(probe.progress.back().first, bodySize);
    EXPECT_EQ(task->countOfBytesSent(), bodySize);
}

TEST_F(PelmarConnectIntegrationTest, UploadsRunOneAtATimeInRequestOrder) {
    openSession();
    constexpr int kUploads = 4;
    std::vector<std::pair<std::string, Json>> created;
    for (int i = 0; i < kUploads; ++i) {
        created.push_back(createVideo());
    }
    pelmar::Mutex mutex;
    std::vector<std::pair<int, std::string>> events;  // filled by the callbacks, each holding mutex
    std::vector<std::unique_ptr<UploadProbe>> probes;
    for (int i = 0; i < kUploads; ++i) {
        probes.push_back(std::make_unique<UploadProbe>());
        upload(created[i].first, created[i].second,
               writeFile("clip" + std::to_string(i) + ".mp4", 1024 * 1024 + i), *probes[i],
               [&, i](const std::string& what) {
                   pelmar::MutexLock lock(mutex);
                   events.emplace_back(i, what);
               });
    }
    for (auto& probe : probes) {
        EXPECT_FALSE(probe->done.outcome().error);
    }

    EXPECT_EQ(emulator_.maxConcurrentUploads(), 1u);
    pelmar::MutexLock lock(mutex);
    int current = 0;
    for (const auto& [index, what] : events) {
        // Nothing of upload i+1 happens before upload i is done.
        ASSERT_EQ(index, current) << what;
        if (what == "done") {
            ++current;
        }
    }
    EXPECT_EQ(current, kUploads);
    const auto stored = emulator_.uploads();
    ASSERT_EQ(stored.size(), static_cast<size_t>(kUploads));
    for (int i = 0; i < kUploads; ++i) {
        EXPECT_EQ(stored[i].size, 1024u * 1024 + i);
        EXPECT_NE(created[i].first.find(stored[i].uploadId), std::string::npos);
    }
}

TEST_F(PelmarConnectIntegrationTest, CancelEndsRunningAndWaitingUploadsAndTheNextOneRuns) {
    openSession();
    test::ServiceEmulator::Fault hold;
    hold.role = test::Role::Storage;
    hold.pathPattern = "/upload/.*";
    hold.hold = true;
    emulator_.addFault(hold);
    auto first = createVideo();
    auto second = createVideo();
    auto third = createVideo();
    UploadProbe running;
    UploadProbe waiting;
    UploadProbe last;
    auto runningTask = upload(first.first, first.second, writeFile("a.mp4", 4000), running);
    auto waitingTask = upload(second.first, second.second, writeFile("b.mp4", 4000), waiting);
    upload(third.first, third.second, writeFile("c.mp4", 4000), last);
    ASSERT_TRUE(emulator_.waitForHeld(1, kGuard));
    EXPECT_EQ(PelmarConnect::uploadsInFlight(), 3);

    std::thread([&] { waitingTask->cancel(); }).join();
    const auto cancelledWaiting = waiting.done.outcome();
    EXPECT_THAT(cancelledWaiting.error,
                test::IsError(net::kURLErrorDomain, net::kURLErrorCancelled));

    runningTask->cancel();
    const auto cancelledRunning = running.done.outcome();
    EXPECT_THAT(cancelledRunning.error,
                test::IsError(net::kURLErrorDomain, net::kURLErrorCancelled));

    const auto finished = last.done.outcome();
    ASSERT_FALSE(finished.error) << *finished.error;
    EXPECT_EQ(finished.response->statusCode(), 201);
    const auto stored = emulator_.uploads();
    ASSERT_EQ(stored.size(), 1u);
    EXPECT_NE(third.first.find(stored[0].uploadId), std::string::npos);
    pelmar::MutexLock lock(waiting.mutex);
    EXPECT_TRUE(waiting.progress.empty());
}

TEST_F(PelmarConnectIntegrationTest, FailedTransfersAreReportedAsTheyAreAndFreeTheQueue) {
    openSession();

    struct Case {
        const char* name;
        test::ServiceEmulator::Fault fault;
        std::optional<long> errorCode;
        long status;
    };

    test::ServiceEmulator::Fault cut;
    cut.role = test::Role::Storage;
    cut.cutRequestAfter = 200000;
    test::ServiceEmulator::Fault failure;
    failure.role = test::Role::Storage;
    failure.status = 500;
    failure.body = "{\"error\":\"storage down\"}";
    const Case cases[] = {
            {"connection cut mid-body", cut, net::kURLErrorNetworkConnectionLost, 0},
            {"500 from storage", failure, std::nullopt, 500},
    };
    for (Case c : cases) {
        SCOPED_TRACE(c.name);
        c.fault.pathPattern = "/upload/.*";
        emulator_.addFault(c.fault);
        auto failing = createVideo();
        auto following = createVideo();
        const size_t storedBefore = emulator_.uploads().size();
        UploadProbe failed;
        UploadProbe next;
        upload(failing.first, failing.second, writeFile("big.mp4", 2 * 1024 * 1024), failed);
        upload(following.first, following.second, writeFile("small.mp4", 1000), next);

        const auto outcome = failed.done.outcome();
        if (c.errorCode) {
            EXPECT_THAT(outcome.error, test::IsError(net::kURLErrorDomain, *c.errorCode));
        } else {
            EXPECT_FALSE(outcome.error);
            ASSERT_TRUE(outcome.response);
            EXPECT_EQ(outcome.response->statusCode(), c.status);
            EXPECT_EQ(outcome.data, failure.body);
        }
        const auto after = next.done.outcome();
        EXPECT_FALSE(after.error);
        // Only the following upload was stored; nothing of the failed one.
        const auto stored = emulator_.uploads();
        ASSERT_EQ(stored.size(), storedBefore + 1);
        EXPECT_EQ(stored.back().size, 1000u);
        EXPECT_NE(following.first.find(stored.back().uploadId), std::string::npos);
        EXPECT_EQ(PelmarConnect::uploadsInFlight(), 0);
        emulator_.clearFaults();
    }
}

TEST_F(PelmarConnectIntegrationTest, UploadsThatCannotStartFailWithAnErrorAndFreeTheQueue) {
    openSession();
    auto [url, fields] = createVideo();
    const auto file = writeFile("clip.mp4", 1000);
    Json unsafe = fields;
    unsafe["bad\"name"] = "x";

    struct Case {
        const char* name;
        std::string url;
        Json fields;
        std::filesystem::path file;
        std::string domain;
        long code;
    };

    const Case cases[] = {
            {"missing source", url, fields, sandbox_.root() / "gone.mp4",
             std::string(net::kURLErrorDomain), net::kURLErrorFileDoesNotExist},
            {"unparsable URL", emulator_.storageBase() + "/up load", fields, file,
             std::string(net::kURLErrorDomain), net::kURLErrorBadURL},
            {"unsafe field name", url, unsafe, file, std::string(internal::kMultipartErrorDomain),
             internal::kMultipartErrorUnsafeField},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        UploadProbe failed;
        upload(c.url, c.fields, c.file, failed);
        const auto outcome = failed.done.outcome();
        EXPECT_THAT(outcome.error, test::IsError(c.domain, c.code));
        EXPECT_EQ(PelmarConnect::uploadsInFlight(), 0);
    }
    EXPECT_TRUE(emulator_.uploads().empty());
    UploadProbe good;
    upload(url, fields, file, good);
    EXPECT_FALSE(good.done.outcome().error);
    EXPECT_EQ(emulator_.uploads().size(), 1u);
}

TEST_F(PelmarConnectIntegrationTest, BackgroundNoticeOnlyWhileUploadsRunAndWakeupInventsNothing) {
    auto clock = std::make_shared<dispatch::ManualClock>();
    dispatch::setClock(clock);
    auto& notifications = app::UserNotificationCenter::current();
    notifications.removeAllPendingNotificationRequests();

    connect_->applicationDidEnterBackground();
    EXPECT_TRUE(notifications.pendingNotificationRequests().empty());

    openSession();
    test::ServiceEmulator::Fault hold;
    hold.role = test::Role::Storage;
    hold.pathPattern = "/upload/.*";
    hold.hold = true;
    emulator_.addFault(hold);
    auto [url, fields] = createVideo();
    UploadProbe held;
    upload(url, fields, writeFile("clip.mp4", 3000), held);
    ASSERT_TRUE(emulator_.waitForHeld(1, kGuard));

    connect_->applicationDidEnterBackground();
    const auto pending = notifications.pendingNotificationRequests();
    ASSERT_EQ(pending.size(), 1u);
    EXPECT_EQ(pending[0].content.title, "App Needs To Run in Foreground");
    EXPECT_EQ(pending[0].content.body,
              "Please switch back to this app to continue the video upload");
    EXPECT_FALSE(pending[0].content.sound);
    EXPECT_FALSE(pending[0].content.badge);
    EXPECT_EQ(pending[0].content.userInfo, Json::object());
    ASSERT_TRUE(pending[0].trigger);
    EXPECT_FALSE(pending[0].trigger->repeats);
    EXPECT_EQ(pending[0].trigger->dateMatching, app::DateComponents::local(clock->wallNow() + 10));
    EXPECT_EQ(pending[0].identifier.size(), 36u);

    connect_->appWakeupSignalTaskComplete("uploadingSession");
    connect_->appWakeupSignalTaskComplete("/videos/v/streams/s/video_submit");
    EXPECT_EQ(held.done.future.wait_for(0s), std::future_status::timeout);
    emulator_.releaseHeld();
    const auto outcome = held.done.outcome();
    EXPECT_FALSE(outcome.error);
    EXPECT_EQ(outcome.response->statusCode(), 201);

    notifications.removeAllPendingNotificationRequests();
    dispatch::setClock(nullptr);
}

TEST_F(PelmarConnectIntegrationTest, RequestsInFlightWhenTheFacadeEndsStillCallBack) {
    test::ServiceEmulator::Fault hold;
    hold.method = "POST";
    hold.pathPattern = ".*/session";
    hold.hold = true;
    emulator_.addFault(hold);
    DataProbe probe;
    connect_->getWithPath("/videos", std::nullopt, probe.callback());
    ASSERT_TRUE(emulator_.waitForHeld(1, kGuard));
    connect_.reset();
    facade_.reset();
    emulator_.releaseHeld();

    const auto outcome = probe.outcome();
    EXPECT_THAT(outcome.error, test::IsError(net::kURLErrorDomain, net::kURLErrorCancelled));
}

TEST(PelmarConnectTest, FormatURLRequestRendersTheRequestForDiagnostics) {
    net::URLRequest get("https://example.com/v1/x?a=1&");
    EXPECT_EQ(PelmarConnect::formatURLRequest(get),
              "\n-- REQUEST -----------------\nURL: https://example.com/v1/x?a=1&\nMETHOD: GET\n"
              "BODY: nil\n----------------------------\n");

    net::URLRequest post("https://example.com/v1/x");
    post.httpMethod = "POST";
    post.setValue("application/x-www-form-urlencoded", "Content-Type");
    post.setValue("4", "Content-Length");
    post.httpBody = "a=1&";
    EXPECT_EQ(PelmarConnect::formatURLRequest(post),
              "\n-- REQUEST -----------------\nURL: https://example.com/v1/x\nMETHOD: POST\n"
              "Content-Type: application/x-www-form-urlencoded\nContent-Length: 4\n"
              "BODY: a=1&\n----------------------------\n");

    net::URLRequest binary;
    binary.httpMethod = "";
    binary.httpBody = "\xff\xd8";
    EXPECT_EQ(PelmarConnect::formatURLRequest(binary),
              "\n-- REQUEST -----------------\nURL: nil\nMETHOD: nil\n"
              "BODY: nil\n----------------------------\n");
}

}  // namespace
}  // namespace pelmar
