#include "pelmar/core/PelmarConnect.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "pelmar/core/Pelmar.h"
#include "pelmar/core/testing/ConnectFixture.h"
#include "pelmar/platform/dispatch/Queue.h"
#include "pelmar/platform/foundation/URL.h"
#include "pelmar/platform/net/URLError.h"
#include "pelmar/platform/net/URLSession.h"
#include "testing/Matchers.h"
#include "testing/ScriptedHttpServer.h"
#include "testing/ServiceEmulator.h"
#include "testing/TempSandbox.h"

// The client's requests and answers: the session, the shape of each request, where credentials
// go, answers as text or JSON, requests that cannot be sent, and the error report.

namespace pelmar {
namespace {

using test::DataProbe;
using test::JsonProbe;
using test::kAppRoot;
using test::kPatience;
using test::kSessionKey;
using test::PelmarConnectIntegrationTest;
using test::UploadProbe;

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
    ASSERT_TRUE(emulator_.waitForHeld(1, kPatience));
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
        test::Outcome<std::optional<std::string>> text;
        connect_->getStringWithPath("/scripted", std::nullopt,
                                    [text](std::optional<std::string> answer, auto, auto) {
                                        text.set(std::move(answer));
                                    });
        return text.get("no callback came");
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
            kPatience));

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

// A service whose calls, but "/session", are redirected: to another host (127.0.0.2) or, for
// paths under "/here/", to "/landing" on the service itself.
class PelmarConnectRedirectTest : public ::testing::Test {
protected:
    static test::ScriptedReply reply(int status,
                                     std::string body,
                                     std::optional<std::string> location = std::nullopt) {
        test::ScriptedReply answer;
        answer.status = status;
        answer.body = std::move(body);
        if (location) {
            answer.headers.emplace_back("Location", std::move(*location));
        }
        return answer;
    }

    void SetUp() override {
        facade_ = std::make_shared<Pelmar>(test::kApp);
        auto& config = facade_->config();
        const std::string base = service_.url("");
        config.setServerAPIUrl(base);
        config.setCdnAPIUrl(base);
        config.setDevServerApiUrl(base);
        config.setFileServerUrl(base);
        connect_ = facade_->connect();
        ASSERT_TRUE(connect_);
        connect_->setClientAuthToken("SECRET-AUTH");
    }

    void TearDown() override {
        connect_.reset();
        facade_.reset();
    }

    test::TempSandbox sandbox_;
    test::ScriptedHttpServer elsewhere_{
            [](const test::ScriptedRequest&) { return reply(200, "taken"); }, "127.0.0.2"};
    test::ScriptedHttpServer service_{[this](const test::ScriptedRequest& request) {
        const std::string path = request.target.substr(0, request.target.find('?'));
        if (path == kAppRoot + "/session") {
            return reply(200, R"({"token":"SECRET-SESSION"})");
        }
        if (path == kAppRoot + "/landing") {
            return reply(200, "landed");
        }
        if (path.starts_with(kAppRoot + "/here/")) {
            return reply(307, "moved", kAppRoot + "/landing");
        }
        return reply(request.method == "POST" ? 307 : 302, "moved", elsewhere_.url("/take"));
    }};
    std::shared_ptr<Pelmar> facade_;
    std::shared_ptr<PelmarConnect> connect_;
};

TEST_F(PelmarConnectRedirectTest, RequestsWithTokensFollowNoRedirectToAnotherHost) {
    const struct {
        const char* name;
        std::function<void(PelmarConnect::DataCallback)> send;
    } cases[] = {
            {"post",
             [&](auto cb) {
                 connect_->postWithPath("/videos", Json{{"t", "a"}}, cb);
             }},
            {"get", [&](auto cb) { connect_->getWithPath("/videos", std::nullopt, cb); }},
            {"raw post",
             [&](auto cb) { connect_->postRawDataWithPath("/debugger", "events=x", {}, cb); }},
    };

    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        DataProbe probe;
        c.send(probe.callback());
        const auto outcome = probe.outcome();
        EXPECT_THAT(outcome.error,
                    test::IsError(net::kURLErrorDomain, net::kURLErrorRedirectToAnotherOrigin));
        EXPECT_FALSE(outcome.data);
    }
    EXPECT_TRUE(elsewhere_.requests().empty());

    // Within the service the redirect is followed, the body sent again.
    DataProbe here;
    connect_->postWithPath("/here/videos", Json{{"t", "a"}}, here.callback());
    const auto outcome = here.outcome();
    ASSERT_FALSE(outcome.error) << *outcome.error;
    EXPECT_EQ(outcome.data, "landed");
    const auto seen = service_.requests();
    ASSERT_GE(seen.size(), 2u);
    EXPECT_EQ(seen.back().target, kAppRoot + "/landing");
    EXPECT_EQ(seen.back().body, seen[seen.size() - 2].body);
    EXPECT_NE(seen.back().body.find("SECRET-SESSION"), std::string::npos);
}

}  // namespace
}  // namespace pelmar
