#include "testing/ServiceEmulator.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <future>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "testing/Sha256.h"
#include "testing/TempDir.h"
#include "testing/internal/ServiceEmulatorFixture.h"

namespace pelmar::test {
namespace {

using namespace std::chrono_literals;
using namespace internal;

TEST_F(ServiceEmulatorIntegrationTest, SessionTokensAreIssuedCountedAndRequired) {
    EXPECT_EQ(session, "sess-1");
    EXPECT_EQ(emulator.sessionCalls(), 1);
    const std::string videos = app(emulator.apiBase(), "/videos");

    Reply reply = send({"GET", videos + "?"});
    EXPECT_EQ(reply.status, 401);
    EXPECT_EQ(reply.json()["error"], "session required");
    reply = send({"GET", videos + "?" + ServiceEmulator::sessionKeyFor(kApp) + "=sess-99&"});
    EXPECT_EQ(reply.status, 401);
    EXPECT_EQ(reply.json()["error"], "unknown session");
    reply = send({"GET", withSession(videos)});
    EXPECT_EQ(reply.status, 200);
    EXPECT_EQ(reply.body, "[]");

    emulator.failSession(503, R"({"error":"busy"})", /*persistent=*/false);
    reply = send({"POST", app(emulator.apiBase(), "/session"), ""});
    EXPECT_EQ(reply.status, 503);
    EXPECT_EQ(reply.body, R"({"error":"busy"})");
    emulator.delaySession(1ms, /*persistent=*/false);
    reply = send({"POST", app(emulator.apiBase(), "/session"), ""});
    EXPECT_EQ(reply.status, 200);
    EXPECT_EQ(reply.json()["token"], "sess-2");
    EXPECT_EQ(emulator.sessionCalls(), 3);
    EXPECT_EQ(emulator.sessionTokens(), (std::vector<std::string>{"sess-1", "sess-2"}));

    emulator.setRequireSession(false);
    EXPECT_EQ(send({"GET", videos + "?"}).status, 200);
}

TEST_F(ServiceEmulatorIntegrationTest, VideoGoesThroughCreateUploadConfirmGetUpdateDownloadDelete) {
    Reply reply = post(app(emulator.apiBase(), "/videos/videos-upload-url?create_stream=true"),
                       "title=First%20clip&");
    ASSERT_EQ(reply.status, 200) << reply.body;
    const Json created = reply.json();
    const std::string token = created["video"]["token"];
    const std::string stream = created["stream"]["token"];
    EXPECT_EQ(token, "vid-1");
    EXPECT_EQ(stream, "str-1");
    EXPECT_EQ(created["video"]["state_string"], "EMPTY");
    const std::string uploadUrl = created["url_data"]["url"];
    EXPECT_EQ(uploadUrl, emulator.storageBase() + "/upload/up-1");
    const Json fields = created["url_data"]["fields"];
    ASSERT_EQ(fields.size(), 3u);
    EXPECT_EQ(fields.begin().key(), "key");

    const std::string videoUrl = app(emulator.apiBase(), "/videos/" + token);
    const std::string confirmUrl = videoUrl + "/streams/" + stream + "/confirm-video";
    const std::string fileUrl = app(emulator.cdnApiBase(), "/videos/" + token + "/video.mp4");
    EXPECT_EQ(post(confirmUrl).status, 409);
    EXPECT_EQ(send({"GET", fileUrl}).status, 404);

    const std::string movie = randomBytes(300 * 1024);
    reply = upload(uploadUrl, uploadBody(fields, movie));
    ASSERT_EQ(reply.status, 201) << reply.body;
    EXPECT_EQ(reply.json()["sha256"], Sha256::hexOf(movie));
    const auto uploads = emulator.uploads();
    ASSERT_EQ(uploads.size(), 1u);
    EXPECT_EQ(uploads[0].token, token);
    EXPECT_EQ(uploads[0].streamToken, stream);
    EXPECT_EQ(uploads[0].size, movie.size());
    EXPECT_EQ(uploads[0].fileName, "file.mp4");
    EXPECT_EQ(uploads[0].contentType, "video/mp4");
    EXPECT_EQ(readFile(uploads[0].storedFile), movie);

    reply = post(confirmUrl);
    ASSERT_EQ(reply.status, 200) << reply.body;
    EXPECT_EQ(reply.json()["state_string"], "READY");
    EXPECT_EQ(reply.json()["default_stream"]["token"], stream);

    reply = send({"GET", withSession(videoUrl)});
    ASSERT_EQ(reply.status, 200);
    EXPECT_EQ(reply.json()["title"], "First clip");
    EXPECT_EQ(reply.json()["key"], "videos/" + token);
    EXPECT_TRUE(reply.json()["created"].is_number_integer());
    EXPECT_EQ(reply.json()["original_stream"]["audio_transcription"]["words"], Json::array());

    reply = post(videoUrl, "title=Tom%20%26%20Jerry&description=x%2By&");
    EXPECT_EQ(reply.json()["title"], "Tom & Jerry");
    EXPECT_EQ(reply.json()["description"], "x+y");
    reply = send({"GET", withSession(app(emulator.apiBase(), "/videos"))});
    ASSERT_EQ(reply.json().size(), 1u);
    EXPECT_EQ(reply.json()[0]["title"], "Tom & Jerry");

    reply = send({"GET", fileUrl});
    ASSERT_EQ(reply.status, 200);
    EXPECT_EQ(reply.contentLength, static_cast<curl_off_t>(movie.size()));
    EXPECT_EQ(reply.contentType, "video/mp4");
    EXPECT_TRUE(reply.body == movie);
    for (const auto& imageUrl : {withSession(videoUrl + "/image"),
                                 app(emulator.cdnApiBase(), "/videos/" + token + "/image")}) {
        reply = send({"GET", imageUrl});
        EXPECT_EQ(reply.status, 200) << imageUrl;
        EXPECT_EQ(reply.contentType, "image/jpeg");
        EXPECT_EQ(reply.body.substr(0, 2), "\xff\xd8");
    }

    reply = send({"DELETE", withSession(videoUrl + "/streams/" + stream)});
    EXPECT_EQ(reply.body, R"({"deleted":true,"token":"vid-1","stream":"str-1"})");
    reply = send({"DELETE", withSession(videoUrl)});
    EXPECT_EQ(reply.body, R"({"deleted":true,"token":"vid-1"})");
    EXPECT_EQ(send({"GET", withSession(videoUrl)}).status, 404);
    EXPECT_FALSE(emulator.resource(token));
}

TEST_F(ServiceEmulatorIntegrationTest, AudiosAndImagesLiveOnTheRegionalApiAndTheFileServer) {
    struct Case {
        const char* kind;
        const char* streamKey;
        const char* file;
        const char* contentType;
    };

    for (const Case& c : {Case{"audio", "audio_stream", "audio.aac", "audio/aac"},
                          Case{"image", "image_stream", "image.jpg", "image/jpeg"}}) {
        SCOPED_TRACE(c.kind);
        const std::string collection = std::string("/") + c.kind + "s";
        EXPECT_EQ(post(app(emulator.apiBase(), collection)).status, 404);
        Reply reply = post(app(emulator.devApiBase(), collection), "title=t&");
        ASSERT_EQ(reply.status, 200) << reply.body;
        const Json created = reply.json();
        const std::string token = created[c.kind]["token"];
        ASSERT_TRUE(created.contains(c.streamKey));
        const std::string resourceUrl = app(emulator.devApiBase(), collection + "/" + token);

        const std::string bytes = randomBytes(5000);
        ASSERT_EQ(
                upload(created["url_data"]["url"], uploadBody(created["url_data"]["fields"], bytes))
                        .status,
                201);
        reply = post(resourceUrl + "/confirm");
        ASSERT_EQ(reply.status, 200) << reply.body;
        EXPECT_EQ(reply.json()[c.kind]["state_string"], "READY");
        reply = send({"GET", withSession(resourceUrl)});
        EXPECT_EQ(reply.json()[c.kind]["token"], token);
        EXPECT_EQ(reply.json()[c.kind]["title"], "t");

        const std::string fileUrl =
                app(emulator.fileServerBase(), collection + "/" + token + "/" + c.file);
        reply = send({"GET", fileUrl});
        EXPECT_EQ(reply.status, 200);
        EXPECT_EQ(reply.contentType, c.contentType);
        EXPECT_EQ(reply.contentLength, 5000);
        EXPECT_TRUE(reply.body == bytes);
        EXPECT_EQ(send({"GET", app(emulator.cdnApiBase(), collection + "/" + token + "/" + c.file)})
                          .status,
                  404);

        reply = send({"DELETE", withSession(resourceUrl)});
        EXPECT_EQ(reply.json()["deleted"], true);
        EXPECT_EQ(send({"GET", fileUrl}).status, 404);
    }
    const auto requests = emulator.requestsTo("/embed/v1/applications/app-1/.*");
    ASSERT_FALSE(requests.empty());
    EXPECT_EQ(requests.front().hostAddress, "127.0.0.3");
    EXPECT_EQ(requests.front().role, Role::DevApi);
}

TEST_F(ServiceEmulatorIntegrationTest, StreamRoutesAnswerAndAttachedCoversAreServed) {
    Reply reply = post(app(emulator.apiBase(), "/videos?create_stream=true"));
    ASSERT_EQ(reply.status, 200) << reply.body;
    const std::string token = reply.json()["video"]["token"];
    const std::string videoUrl = app(emulator.apiBase(), "/videos/" + token);

    reply = post(videoUrl + "/streams?create_stream=true");
    ASSERT_EQ(reply.status, 200) << reply.body;
    const std::string second = reply.json()["stream"]["token"];
    EXPECT_EQ(reply.json()["url_data"]["url"], emulator.storageBase() + "/upload/up-2");
    EXPECT_EQ(reply.json()["video"]["streams"].size(), 2u);

    reply = post(videoUrl + "/streams/" + second, "title=renamed&");
    EXPECT_EQ(reply.status, 200);
    EXPECT_EQ(reply.json()["title"], "renamed");
    reply = post(videoUrl + "/streams/" + second + "/recordersubmit");
    EXPECT_EQ(reply.status, 200);
    EXPECT_EQ(reply.json()["token"], token);
    EXPECT_EQ(post(videoUrl + "/streams/str-99/recordersubmit").status, 404);

    const std::string cover = "\xff\xd8 not really a jpeg \xff\xd9";
    reply = send(
            {"POST", withSession(videoUrl + "/streams/" + second + "/imageattach?x=1"), cover});
    ASSERT_EQ(reply.status, 200) << reply.body;
    EXPECT_EQ(reply.json()["cover_size"], cover.size());
    EXPECT_EQ(send({"GET", withSession(videoUrl + "/image")}).body, cover);
    EXPECT_EQ(emulator.requestsTo(".*/imageattach").at(0).body, cover);
}

TEST_F(ServiceEmulatorIntegrationTest, Stores182And271ByteUploadBodiesWithTheFileSha256) {
    struct Case {
        const char* name;
        Json fields;
        size_t bodySize;
    };

    for (const Case& c :
         {Case{"no fields", Json::object(), 182}, Case{"k=v", Json{{"k", "v"}}, 271}}) {
        SCOPED_TRACE(c.name);
        emulator.setUploadFields(c.fields);
        const Json created =
                post(app(emulator.apiBase(), "/videos/videos-upload-url?create_stream=true"))
                        .json();
        EXPECT_EQ(created["url_data"]["fields"], c.fields);
        const std::string body = uploadBody(c.fields, "");
        ASSERT_EQ(body.size(), c.bodySize);
        const Reply reply = upload(created["url_data"]["url"], body);
        ASSERT_EQ(reply.status, 201) << reply.body;

        const StoredUpload stored = emulator.uploads().back();
        EXPECT_EQ(stored.size, 0u);
        EXPECT_EQ(stored.sha256, kEmptySha);
        EXPECT_EQ(stored.fields.size(), c.fields.size());
        const LoggedRequest logged = emulator.requestsMatching("POST", "/upload/.*").back();
        EXPECT_EQ(logged.role, Role::Storage);
        EXPECT_EQ(logged.hostAddress, "127.0.0.5");
        EXPECT_EQ(logged.body, body);
        EXPECT_EQ(logged.bodySize, c.bodySize);
        EXPECT_EQ(logged.header("content-length"), std::to_string(c.bodySize));
        EXPECT_EQ(logged.header("Content-Type"), "multipart/form-data; boundary=" + kBoundary);
        ASSERT_TRUE(logged.multipart);
        EXPECT_EQ(logged.multipart->fileSha256, kEmptySha);
        EXPECT_EQ(logged.multipart->fileFieldName, "file");
        EXPECT_EQ(logged.multipart->fileHeaders.at(0).second,
                  "form-data; name=\"file\"; filename=\"file.mp4\";");
    }
    // Numbers travel as their JSON text; a large body with "Expect: 100-continue" is answered.
    emulator.setUploadFields(Json{{"size", 12}, {"ok", true}});
    const Json created =
            post(app(emulator.apiBase(), "/videos/videos-upload-url?create_stream=true")).json();
    const std::string movie = randomBytes(2 * 1024 * 1024 + 7);
    const Reply reply =
            upload(created["url_data"]["url"], uploadBody(created["url_data"]["fields"], movie),
                   {"Expect: 100-continue"});
    ASSERT_EQ(reply.status, 201) << reply.body;
    EXPECT_EQ(emulator.uploads().back().sha256, Sha256::hexOf(movie));
    EXPECT_EQ(emulator.uploads().back().fields, (FieldList{{"size", "12"}, {"ok", "true"}}));
    EXPECT_EQ(emulator.maxConcurrentUploads(), 1u);
}

TEST_F(ServiceEmulatorIntegrationTest,
       RefusesMalformedOrMismatchedUploadsWithAReasonAndStoresNothing) {
    const Json created =
            post(app(emulator.apiBase(), "/videos/videos-upload-url?create_stream=true")).json();
    const std::string url = created["url_data"]["url"];
    const Json fields = created["url_data"]["fields"];
    const std::string good = uploadBody(fields, "abc");
    Json otherFields = fields;
    otherFields["signature"] = "forged";
    const std::string fileFirst = "--" + kBoundary
            + "\r\nContent-Disposition: form-data; name=\"file\"; filename=\"file.mp4\";\r\n\r\nabc\r\n--"
            + kBoundary + "\r\nContent-Disposition: form-data; name=\"key\"\r\n\r\nv\r\n--" + kBoundary
            + "--\r\n";

    struct Case {
        const char* name;
        Call call;
        long status;
        std::string reason;
    };

    const std::string multipart = "multipart/form-data; boundary=" + kBoundary;
    const Case cases[] = {
            {"not multipart",
             {"POST", url, good, "application/octet-stream"},
             400,
             "expected multipart/form-data with a boundary"},
            {"no closing boundary",
             {"POST", url, good.substr(0, good.size() - 4), multipart},
             400,
             "body ended before the closing boundary"},
            {"field after the file",
             {"POST", url, fileFirst, multipart},
             400,
             "field after the file part"},
            {"no file part",
             {"POST", url,
              "--" + kBoundary + "\r\nContent-Disposition: form-data; name=\"k\"\r\n\r\nv\r\n--"
                      + kBoundary + "--\r\n",
              multipart},
             400,
             "no file part"},
            {"forged fields",
             {"POST", url, uploadBody(otherFields, "abc"), multipart},
             403,
             "form fields differ from the ones handed out for this upload"},
            {"unknown upload",
             {"POST", emulator.storageBase() + "/upload/up-77", good, multipart},
             404,
             "unknown upload up-77"},
            {"wrong method", {"GET", url}, 405, "method GET not allowed on /upload/up-1"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Reply reply = send(c.call);
        EXPECT_EQ(reply.status, c.status);
        EXPECT_EQ(reply.json()["error"], c.reason);
        EXPECT_EQ(emulator.requests().back().error, c.reason);
    }
    EXPECT_TRUE(emulator.uploads().empty());
    EXPECT_TRUE(std::filesystem::is_empty(emulator.dataDir() / "incoming"));
    EXPECT_EQ(upload(url, good).status, 201);
}

TEST_F(ServiceEmulatorIntegrationTest, LogsMethodHostPathQueryHeadersAndBodyAsSent) {
    emulator.clearRequests();
    const std::string url = app(emulator.apiBase(), "/videos?a=1&b=x%20y&" + sessionParam());
    send({"GET", url, std::nullopt, "", {"X-Test: one"}});
    send({"POST", app(emulator.apiBase(), "/session"), ""});
    send({"GET", app(emulator.devApiBase(), "/audios?")});

    const auto logged = emulator.requests();
    ASSERT_EQ(logged.size(), 3u);
    const LoggedRequest& get = logged[0];
    EXPECT_EQ(get.method, "GET");
    EXPECT_EQ(get.hostAddress, "127.0.0.1");
    EXPECT_EQ(get.port, emulator.port(Role::Api));
    EXPECT_EQ(get.path, "/v1/applications/app-1/videos");
    EXPECT_EQ(get.query, "a=1&b=x%20y&" + sessionParam());
    EXPECT_EQ(get.queryParams.at(1), (std::pair<std::string, std::string>{"b", "x y"}));
    EXPECT_EQ(get.param(ServiceEmulator::sessionKeyFor(kApp)), session);
    EXPECT_EQ(get.header("x-test"), "one");
    EXPECT_EQ(get.header("Accept"), "*/*");
    EXPECT_FALSE(get.header("REMOTE_ADDR"));
    EXPECT_FALSE(get.header("LOCAL_PORT"));
    EXPECT_EQ(get.status, 200);

    const LoggedRequest& post = logged[1];
    EXPECT_FALSE(post.query);
    EXPECT_EQ(post.header("Content-Length"), "0");
    EXPECT_EQ(post.header("Content-Type"), "application/x-www-form-urlencoded");
    EXPECT_EQ(post.bodySize, 0u);
    EXPECT_LT(get.completedSequence, post.sequence);

    EXPECT_EQ(logged[2].query, "");
    EXPECT_EQ(logged[2].hostAddress, "127.0.0.3");
    EXPECT_EQ(logged[2].status, 401);

    EXPECT_EQ(emulator.requestsMatching("POST", ".*/session").size(), 1u);
    EXPECT_EQ(emulator.requestsTo(".*/(videos|audios)").size(), 2u);
}

TEST_F(ServiceEmulatorIntegrationTest, RefusesUnknownRoutesWrongMethodsAndMalformedTokens) {
    struct Case {
        const char* name;
        Call call;
        long status;
    };

    const Case cases[] = {
            {"empty token", {"DELETE", withSession(app(emulator.apiBase(), "/videos/"))}, 400},
            {"escaped token",
             {"GET", withSession(app(emulator.apiBase(), "/videos/a%2F..%2Fb"))},
             400},
            {"dot-dot token", {"GET", withSession(app(emulator.apiBase(), "/videos/.."))}, 400},
            {"unknown video", {"GET", withSession(app(emulator.apiBase(), "/videos/vid-9"))}, 404},
            {"unknown path", {"GET", withSession(app(emulator.apiBase(), "/nothing"))}, 404},
            {"wrong method", {"PUT", withSession(app(emulator.apiBase(), "/videos")), ""}, 405},
            {"audios on the API base",
             {"GET", withSession(app(emulator.apiBase(), "/audios"))},
             404},
            {"regional path without /embed",
             {"GET", withSession("http://127.0.0.3:" + std::to_string(emulator.port(Role::DevApi))
                                 + "/v1/applications/app-1/audios")},
             404},
            {"file of an unknown audio",
             {"GET", app(emulator.fileServerBase(), "/audios/aud-1/audio.aac")},
             404},
            {"malformed form body", {"POST", app(emulator.apiBase(), "/videos"), "title=%ZZ"}, 400},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Reply reply = send(c.call);
        EXPECT_EQ(reply.status, c.status) << reply.body;
        EXPECT_TRUE(reply.json().contains("error"));
    }
}

TEST_F(ServiceEmulatorIntegrationTest, DecodesDebuggerReportsBackToJson) {
    const std::string report =
            R"([{"message":"a b & \"c\"","source":"pelmar.mobile.sdk","lineno":0,"colno":0,"time":1700000000}])";
    std::string unreserved;
    for (unsigned char c : report) {
        if (std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~') {
            unreserved += static_cast<char>(c);
        } else {
            char escape[4];
            std::snprintf(escape, sizeof(escape), "%%%02X", c);
            unreserved += escape;
        }
    }

    struct Case {
        const char* name;
        std::string body;
        long status;
        std::optional<std::string> events;
        std::string error;
    };

    const Case cases[] = {
            {"unreserved encoding", "events=" + unreserved, 200, report, ""},
            {"host-allowed encoding",
             "events=[%7B%22message%22:%22a%20b%22,%22source%22:%22pelmar.mobile.sdk%22,%22lineno%"
             "22:0,"
             "%22colno%22:0,%22time%22:1700000000%7D]",
             200,
             R"([{"message":"a b","source":"pelmar.mobile.sdk","lineno":0,"colno":0,"time":1700000000}])",
             ""},
            {"unescaped ampersand", "events=[%7B%22message%22:%22a&b%22%7D]", 400, std::nullopt,
             "body is not a single events= field"},
            {"truncated JSON", "events=%5B%7B", 400, std::nullopt, "events are not valid JSON"},
            {"bad escape", "events=%ZZ", 400, std::nullopt, "body has a malformed percent escape"},
            {"other field", "report=%5B%5D", 400, std::nullopt,
             "body is not a single events= field"},
    };
    const std::string url = app(emulator.apiBase(), "/debugger?" + sessionParam());
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Reply reply = send({"POST", url, c.body});
        EXPECT_EQ(reply.status, c.status) << reply.body;
        const DebugReport recorded = emulator.debugReports().back();
        EXPECT_EQ(recorded.body, c.body);
        EXPECT_EQ(recorded.appToken, kApp);
        EXPECT_EQ(recorded.error, c.error);
        EXPECT_EQ(recorded.events ? std::optional(recorded.events->dump()) : std::nullopt,
                  c.events);
    }
    EXPECT_EQ(emulator.debugReports().size(), std::size(cases));
}

TEST_F(ServiceEmulatorIntegrationTest, ConcurrentClientsAreAllServedAndLogged) {
    emulator.clearRequests();
    constexpr int kThreads = 8;
    constexpr int kPerThread = 20;
    std::atomic<int> ok{0};
    std::atomic<bool> done{false};
    std::thread reader([&] {
        while (!done) {
            for (const auto& entry : emulator.requests()) {
                ASSERT_LE(entry.sequence, entry.completedSequence);
            }
        }
    });
    std::vector<std::thread> clients;
    for (int t = 0; t < kThreads; ++t) {
        clients.emplace_back([&, t] {
            for (int i = 0; i < kPerThread; ++i) {
                const Reply reply =
                        (i + t) % 2 == 0
                                ? send({"GET", withSession(app(emulator.apiBase(), "/videos"))})
                                : send({"POST", app(emulator.apiBase(), "/session"), ""});
                ok += reply.status == 200 ? 1 : 0;
            }
        });
    }
    for (auto& client : clients) {
        client.join();
    }
    done = true;
    reader.join();
    EXPECT_EQ(ok, kThreads * kPerThread);
    const auto logged = emulator.requests();
    ASSERT_EQ(logged.size(), static_cast<size_t>(kThreads * kPerThread));
    std::set<uint64_t> sequences;
    for (const auto& entry : logged) {
        sequences.insert(entry.sequence);
        sequences.insert(entry.completedSequence);
    }
    EXPECT_EQ(sequences.size(), logged.size() * 2);
    EXPECT_EQ(emulator.sessionCalls(), 1 + kThreads * kPerThread / 2);

    // Uploads held at the storage host count as received together.
    ServiceEmulator::Fault hold;
    hold.role = Role::Storage;
    hold.pathPattern = ".*";
    hold.persistent = true;
    hold.hold = true;
    emulator.addFault(hold);
    std::vector<std::thread> uploaders;
    for (int i = 0; i < 3; ++i) {
        uploaders.emplace_back([&] {
            const Json created =
                    post(app(emulator.apiBase(), "/videos/videos-upload-url?create_stream=true"))
                            .json();
            EXPECT_EQ(upload(created["url_data"]["url"],
                             uploadBody(created["url_data"]["fields"], "x"))
                              .status,
                      201);
        });
    }
    ASSERT_TRUE(emulator.waitForHeld(3, kPatience));
    emulator.releaseHeld();
    for (auto& uploader : uploaders) {
        uploader.join();
    }
    EXPECT_EQ(emulator.maxConcurrentUploads(), 3u);
    EXPECT_EQ(emulator.uploads().size(), 3u);
}

TEST_F(ServiceEmulatorIntegrationTest, RemovesTheDataFolderItMadeAndKeepsAGivenOne) {
    std::filesystem::path made;
    {
        ServiceEmulator owning;
        EXPECT_TRUE(owning.dataDir().empty()) << "no folder before start()";
        owning.start();
        made = owning.dataDir();
        EXPECT_TRUE(std::filesystem::is_directory(made / "incoming"));
        EXPECT_TRUE(std::filesystem::is_directory(made / "files"));
    }
    EXPECT_FALSE(std::filesystem::exists(made));

    TempDir given;
    const std::filesystem::path kept = given.path() / "data";
    {
        ServiceEmulator borrowing(ServiceEmulator::Options{.dataDir = kept});
        borrowing.start();
        EXPECT_EQ(borrowing.dataDir(), kept);
    }
    EXPECT_TRUE(std::filesystem::is_directory(kept / "files"));
}

}  // namespace
}  // namespace pelmar::test

namespace pelmar::test {
namespace {

using namespace internal;

// One client of an emulator: a session, then whole uploads (create, storage, confirm) and reads.
class RestartClient {
public:
    explicit RestartClient(const ServiceEmulator& emulator) : emulator_(emulator) {
        const Reply reply = send({"POST", url(emulator_.apiBase(), "/session"), ""});
        EXPECT_EQ(reply.status, 200) << reply.body;
        session_ = reply.status == 200 ? reply.json()["token"].get<std::string>() : "";
    }

    // The token of a video holding `movie`, confirmed.
    std::string uploadVideo(const std::string& title, const std::string& movie) {
        Reply reply = post(url(emulator_.apiBase(), "/videos/videos-upload-url?create_stream=true"),
                           "title=" + title + "&");
        EXPECT_EQ(reply.status, 200) << reply.body;
        const Json created = reply.json();
        const std::string token = created["video"]["token"];
        const std::string stream = created["stream"]["token"];
        reply = send({"POST", created["url_data"]["url"],
                      uploadBody(created["url_data"]["fields"], movie),
                      "multipart/form-data; boundary=" + kBoundary});
        EXPECT_EQ(reply.status, 201) << reply.body;
        reply = post(url(emulator_.apiBase(),
                         "/videos/" + token + "/streams/" + stream + "/confirm-video"));
        EXPECT_EQ(reply.status, 200) << reply.body;
        return token;
    }

    Json list() const {
        const Reply reply = send({"GET", url(emulator_.apiBase(), "/videos?") + sessionParam()});
        EXPECT_EQ(reply.status, 200) << reply.body;
        return reply.json();
    }

    Reply download(const std::string& token) const {
        return send({"GET", url(emulator_.cdnApiBase(), "/videos/" + token + "/video.mp4")});
    }

private:
    static std::string url(const std::string& base, const std::string& rest) {
        return base + "/v1/applications/" + kApp + rest;
    }

    std::string sessionParam() const {
        return ServiceEmulator::sessionKeyFor(kApp) + "=" + session_ + "&";
    }

    Reply post(const std::string& target, const std::string& form = "") const {
        return send({"POST", target, form + sessionParam()});
    }

    const ServiceEmulator& emulator_;
    std::string session_;
};

// As pelmar-service runs it: one port for every address, a data folder of the user's.
ServiceEmulator::Options serviceOn(const std::filesystem::path& folder) {
    return ServiceEmulator::Options{.dataDir = folder, .onePort = true};
}

TEST(ServiceEmulatorRestartTest, ARestartOnTheSameFolderListsAndServesWhatWasStored) {
    curl_global_init(CURL_GLOBAL_DEFAULT);
    TempDir given;
    const std::filesystem::path folder = given.path() / "data";
    const std::string firstMovie = randomBytes(200 * 1024);
    const std::string secondMovie = firstMovie.substr(1000) + "another take";
    std::string first;
    {
        ServiceEmulator before(serviceOn(folder));
        before.start();
        first = RestartClient(before).uploadVideo("before", firstMovie);
    }

    ServiceEmulator after(serviceOn(folder));
    after.start();
    RestartClient client(after);
    const std::string second = client.uploadVideo("after", secondMovie);
    EXPECT_NE(second, first);

    const Json videos = client.list();
    ASSERT_EQ(videos.size(), 2u) << videos.dump();
    EXPECT_EQ(videos[0]["token"], first);
    EXPECT_EQ(videos[0]["title"], "before");
    EXPECT_EQ(videos[0]["state_string"], "READY");
    EXPECT_EQ(videos[1]["token"], second);
    EXPECT_NE(videos[0]["default_stream"]["token"], videos[1]["default_stream"]["token"]);
    const Reply firstFile = client.download(first);
    const Reply secondFile = client.download(second);
    EXPECT_EQ(firstFile.status, 200);
    EXPECT_TRUE(firstFile.body == firstMovie) << "the first upload was overwritten or lost";
    EXPECT_EQ(secondFile.status, 200);
    EXPECT_TRUE(secondFile.body == secondMovie);
    curl_global_cleanup();
}

TEST(ServiceEmulatorRestartTest, AFolderWhoseRecordsCannotBeReadIsRefusedAndLeftAsItIs) {
    const struct {
        const char* name;
        const char* records;  // nullptr: no records file
    } cases[] = {
            {"not JSON", "{\"format\": 1, \"resour"},
            {"not an object", "[]"},
            {"a stream without its state",
             R"({"format":1,"counters":{"serials":1,"videos":1,"audios":0,"images":0,)"
             R"("streams":1,"uploads":1},"resources":[{"kind":"video","app":"a","token":)"
             R"("vid-1","title":"","description":"","created":0,"serial":1,"cover":"",)"
             R"("streams":[{"token":"str-1"}]}],"slots":[]})"},
            {"stored files without records", nullptr},
    };

    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir folder;
        const std::filesystem::path stored = folder.path() / "files" / "str-1.bin";
        std::filesystem::create_directories(stored.parent_path());
        std::ofstream(stored, std::ios::binary) << "the first upload";
        const std::filesystem::path records = folder.path() / "records.json";
        if (c.records) {
            std::ofstream(records, std::ios::binary) << c.records;
        }

        ServiceEmulator emulator(serviceOn(folder.path()));
        try {
            emulator.start();
            ADD_FAILURE() << "the folder was taken";
        } catch (const std::runtime_error& error) {
            EXPECT_THAT(error.what(), ::testing::HasSubstr(folder.path().string()));
            EXPECT_THAT(error.what(), ::testing::HasSubstr("left as it is"));
        }
        EXPECT_EQ(readFile(stored), "the first upload");
        if (c.records) {
            EXPECT_EQ(readFile(records), c.records);
        } else {
            EXPECT_FALSE(std::filesystem::exists(records));
        }
    }
}

}  // namespace
}  // namespace pelmar::test
