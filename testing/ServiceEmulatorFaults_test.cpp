// The emulator's scripted faults: status answers, cut uploads and answers, held answers.
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <string>
#include <vector>

#include "testing/ServiceEmulator.h"
#include "testing/internal/ServiceEmulatorFixture.h"

namespace pelmar::test {
namespace {

using namespace std::chrono_literals;
using namespace internal;

TEST_F(ServiceEmulatorIntegrationTest, ScriptedStatusAnswersApplyOnceOrPersistently) {
    const std::string index = withSession(app(emulator.apiBase(), "/videos"));
    ServiceEmulator::Fault fault;
    fault.method = "GET";
    fault.pathPattern = ".*/videos";
    fault.status = 500;
    fault.body = "<oops>";
    fault.contentType = "text/plain";
    emulator.addFault(fault);
    Reply reply = send({"GET", index});
    EXPECT_EQ(reply.status, 500);
    EXPECT_EQ(reply.body, "<oops>");
    EXPECT_EQ(send({"GET", index}).status, 200);

    fault.persistent = true;
    fault.role = Role::CdnApi;  // does not match the API base
    const int cdnOnly = emulator.addFault(fault);
    EXPECT_EQ(send({"GET", index}).status, 200);
    emulator.removeFault(cdnOnly);
    fault.role.reset();
    emulator.addFault(fault);
    EXPECT_EQ(send({"GET", index}).status, 500);
    EXPECT_EQ(send({"GET", index}).status, 500);
    emulator.clearFaults();
    EXPECT_EQ(send({"GET", index}).status, 200);

    // A 500 from storage: the body is read, nothing is stored, and the stream cannot be confirmed.
    const Json created =
            post(app(emulator.apiBase(), "/videos/videos-upload-url?create_stream=true")).json();
    ServiceEmulator::Fault storage;
    storage.role = Role::Storage;
    storage.pathPattern = "/upload/.*";
    storage.status = 500;
    emulator.addFault(storage);
    const std::string body = uploadBody(created["url_data"]["fields"], randomBytes(100000));
    reply = upload(created["url_data"]["url"], body);
    EXPECT_EQ(reply.status, 500);
    EXPECT_TRUE(emulator.uploads().empty());
    EXPECT_EQ(emulator.requests().back().bodySize, body.size());
    const std::string token = created["video"]["token"];
    const std::string stream = created["stream"]["token"];
    EXPECT_EQ(post(app(emulator.apiBase(),
                       "/videos/" + token + "/streams/" + stream + "/confirm-video"))
                      .status,
              409);
}

TEST_F(ServiceEmulatorIntegrationTest, CutsAnUploadMidBodyAndStoresNothing) {
    const Json created =
            post(app(emulator.apiBase(), "/videos/videos-upload-url?create_stream=true")).json();
    const std::string url = created["url_data"]["url"];
    const std::string body =
            uploadBody(created["url_data"]["fields"], randomBytes(4 * 1024 * 1024));
    ServiceEmulator::Fault fault;
    fault.method = "POST";
    fault.pathPattern = "/upload/.*";
    fault.cutRequestAfter = 100000;
    emulator.addFault(fault);

    const Reply reply = upload(url, body);
    EXPECT_NE(reply.code, CURLE_OK);
    EXPECT_EQ(reply.status, 0);
    const LoggedRequest logged = emulator.requestsTo("/upload/.*").back();
    EXPECT_TRUE(logged.connectionCut);
    EXPECT_EQ(logged.status, 0);
    EXPECT_EQ(logged.bodySize, 100000u);
    EXPECT_TRUE(emulator.uploads().empty());
    EXPECT_TRUE(std::filesystem::is_empty(emulator.dataDir() / "incoming"));

    // The fault was one-shot: the same upload goes through afterwards.
    EXPECT_EQ(upload(url, body).status, 201);
}

TEST_F(ServiceEmulatorIntegrationTest, CutsAnAnswerAfterPartOfItsBody) {
    const std::filesystem::path file = emulator.dataDir() / "seed.mp4";
    const std::string movie = randomBytes(1024 * 1024);
    std::ofstream(file, std::ios::binary) << movie;
    const SeededResource seeded = emulator.seedResource(MediaKind::Video, kApp, file);
    const std::string fileUrl =
            app(emulator.cdnApiBase(), "/videos/" + seeded.token + "/video.mp4");
    ASSERT_TRUE(send({"GET", fileUrl}).body == movie);

    struct Case {
        const char* name;
        std::string url;
        uint64_t cutAfter;
        curl_off_t announced;
    };

    const Case cases[] = {
            {"download", fileUrl, 300000, static_cast<curl_off_t>(movie.size())},
            {"JSON answer", withSession(app(emulator.apiBase(), "/videos/" + seeded.token)), 5, -1},
            {"before any byte", fileUrl, 0, static_cast<curl_off_t>(movie.size())},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ServiceEmulator::Fault fault;
        fault.method = "GET";
        fault.pathPattern = ".*";
        fault.cutResponseAfter = c.cutAfter;
        emulator.addFault(fault);
        const Reply reply = send({"GET", c.url});
        EXPECT_EQ(reply.code, CURLE_PARTIAL_FILE);
        EXPECT_EQ(reply.status, 200);
        EXPECT_EQ(reply.body.size(), c.cutAfter);
        if (c.announced >= 0) {
            EXPECT_EQ(reply.contentLength, c.announced);
        }
        EXPECT_TRUE(emulator.requests().back().connectionCut);
    }
}

TEST_F(ServiceEmulatorIntegrationTest, HoldsAnAnswerPartwayUntilReleasedThenSendsTheRest) {
    const std::filesystem::path file = emulator.dataDir() / "seed.mp4";
    const std::string movie = randomBytes(1024 * 1024);
    std::ofstream(file, std::ios::binary) << movie;
    const SeededResource seeded = emulator.seedResource(MediaKind::Video, kApp, file);
    const std::string json = withSession(app(emulator.apiBase(), "/videos/" + seeded.token));
    const std::string expectedJson = send({"GET", json}).body;

    struct Case {
        const char* name;
        std::string url;
        uint64_t holdAfter;
        std::string expected;
    };

    const Case cases[] = {
            {"download", app(emulator.cdnApiBase(), "/videos/" + seeded.token + "/video.mp4"),
             300000, movie},
            {"JSON answer", json, 5, expectedJson},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ServiceEmulator::Fault fault;
        fault.method = "GET";
        fault.pathPattern = ".*";
        fault.holdResponseAfter = c.holdAfter;
        emulator.addFault(fault);
        auto reply = std::async(std::launch::async, [&] { return send({"GET", c.url}); });
        ASSERT_TRUE(emulator.waitForHeld(1, kPatience));
        EXPECT_EQ(reply.wait_for(std::chrono::seconds(0)), std::future_status::timeout);
        emulator.releaseHeld();
        const Reply got = reply.get();
        EXPECT_EQ(got.code, CURLE_OK);
        EXPECT_EQ(got.status, 200);
        EXPECT_TRUE(got.body == c.expected);
        EXPECT_EQ(emulator.heldCount(), 0u);
    }
}

TEST_F(ServiceEmulatorIntegrationTest, AHeldRequestLeavesOtherRoutesAnswering) {
    ServiceEmulator::Fault fault;
    fault.method = "POST";
    fault.pathPattern = ".*/session";
    fault.hold = true;
    fault.delay = 1ms;
    emulator.addFault(fault);
    auto client = std::async(std::launch::async, [&] {
        return send({"POST", app(emulator.apiBase(), "/session"), ""});
    });

    // However the test leaves, the held request ends (stop() wakes it) before `client` waits.
    struct StopOnExit {
        ServiceEmulator& emulator;

        ~StopOnExit() { emulator.stop(); }
    } stopOnExit{emulator};

    ASSERT_TRUE(emulator.waitForHeld(1, kPatience));

    EXPECT_EQ(send({"GET", withSession(app(emulator.apiBase(), "/videos"))}).status, 200);
    EXPECT_EQ(emulator.heldCount(), 1u);
    emulator.releaseHeld();
    const Reply held = client.get();
    EXPECT_EQ(held.status, 200);
    EXPECT_EQ(held.json()["token"], "sess-2");
}

}  // namespace
}  // namespace pelmar::test
