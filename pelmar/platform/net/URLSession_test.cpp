#include "pelmar/platform/net/URLSession.h"

#include <arpa/inet.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <netinet/in.h>
#include <openssl/evp.h>
#include <openssl/x509.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <fstream>
#include <future>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "pelmar/platform/dispatch/Queue.h"
#include "pelmar/platform/foundation/Sandbox.h"
#include "pelmar/platform/foundation/URL.h"
#include "pelmar/platform/foundation/testing/TempSandbox.h"
#include "pelmar/platform/net/FileBodySource.h"
#include "pelmar/platform/net/URLError.h"
#include "pelmar/platform/sync/Mutex.h"
#include "testing/Matchers.h"
#include "testing/ScriptedHttpServer.h"
#include "testing/Waits.h"

namespace pelmar::net {
namespace {

using test::kPatience;

// What a data task's completion handler got, and where it ran.
struct Answer {
    std::optional<std::string> data;
    URLSessionTask::Response response;
    std::optional<Error> error;
    bool onDelegateQueue = false;
    bool onMainThread = true;
};

// What the server saw of the last request.
struct Seen {
    std::string method;
    std::string target;
    std::string body;
    httplib::Headers headers;

    std::string header(const std::string& name) const {
        auto it = headers.find(name);
        return it == headers.end() ? std::string("<none>") : it->second;
    }
};

class URLSessionIntegrationTest : public ::testing::Test {
protected:
    void SetUp() override {
        server_.Get("/hello", [](const httplib::Request&, httplib::Response& res) {
            res.set_header("X-Answer", "42");
            res.set_content("hello", "text/plain");
        });
        server_.Get("/redirect", [](const httplib::Request&, httplib::Response& res) {
            res.set_redirect("/hello");
        });
        server_.Get("/status", [](const httplib::Request&, httplib::Response& res) {
            res.status = 500;
            res.set_content("{\"error\":1}", "application/json");
        });
        server_.Get("/big", [](const httplib::Request&, httplib::Response& res) {
            res.set_content(std::string(200000, 'b'), "application/octet-stream");
        });
        // Announces 200000 bytes, sends 10 and closes.
        server_.Get("/announced", [](const httplib::Request&, httplib::Response& res) {
            res.set_content_provider(200000, "application/octet-stream",
                                     [](size_t, size_t, httplib::DataSink& sink) {
                                         sink.write("0123456789", 10);
                                         return false;
                                     });
        });
        server_.Get("/hang", [this](const httplib::Request&, httplib::Response& res) {
            {
                MutexLock lock(mutex_);
                hanging_ = true;
                changed_.notifyAll();
                const auto deadline = std::chrono::steady_clock::now() + kPatience;
                while (!released_ && changed_.waitUntil(mutex_, deadline)) {
                }
            }
            res.set_content("late", "text/plain");
        });
        // Counts its arrivals, then answers once released.
        server_.Get("/held", [this](const httplib::Request&, httplib::Response& res) {
            {
                MutexLock lock(mutex_);
                ++heldArrivals_;
                changed_.notifyAll();
                const auto deadline = std::chrono::steady_clock::now() + kPatience;
                while (!released_ && changed_.waitUntil(mutex_, deadline)) {
                }
            }
            res.set_content("held", "text/plain");
        });
        auto record = [this](const httplib::Request& req, httplib::Response& res) {
            MutexLock lock(mutex_);
            seen_ = Seen{req.method, req.target, req.body, req.headers};
            res.set_content(std::to_string(req.body.size()), "text/plain");
        };
        server_.Post("/echo", record);
        server_.Delete("/echo", record);
        server_.Get("/echo", record);
        server_.set_payload_max_length(64 * 1024 * 1024);
        // One request per connection, so that stopping the server never waits for an idle
        // keep-alive connection.
        server_.set_keep_alive_max_count(1);
        port_ = server_.bind_to_any_port("127.0.0.1");
        ASSERT_GT(port_, 0);
        thread_ = std::thread([this] { server_.listen_after_bind(); });
        // stop() is ignored until the server runs, so TearDown must not come before that.
        while (!server_.is_running()) {
            std::this_thread::yield();
        }
    }

    void TearDown() override {
        release();
        server_.stop();
        thread_.join();
    }

    std::string url(const std::string& path) const {
        return "http://127.0.0.1:" + std::to_string(port_) + path;
    }

    void release() {
        MutexLock lock(mutex_);
        released_ = true;
        changed_.notifyAll();
    }

    void waitUntilHanging() {
        MutexLock lock(mutex_);
        const auto deadline = std::chrono::steady_clock::now() + kPatience;
        while (!hanging_ && changed_.waitUntil(mutex_, deadline)) {
        }
        ASSERT_TRUE(hanging_);
    }

    Seen seen() {
        MutexLock lock(mutex_);
        return seen_;
    }

    // Waits until "/held" has seen `count` requests; false after kPatience.
    bool heldArrivalsReach(int count) {
        MutexLock lock(mutex_);
        const auto deadline = std::chrono::steady_clock::now() + kPatience;
        while (heldArrivals_ < count && changed_.waitUntil(mutex_, deadline)) {
        }
        return heldArrivals_ >= count;
    }

    int heldArrivals() {
        MutexLock lock(mutex_);
        return heldArrivals_;
    }

    static test::Outcome<Answer> start(const std::shared_ptr<URLSession>& session,
                                       URLRequest request,
                                       URLSession::Task* taskOut = nullptr) {
        test::Outcome<Answer> outcome;
        auto task = session->dataTask(
                std::move(request),
                [outcome, queue = session->delegateQueue()](auto data, auto response, auto error) {
                    outcome.set(Answer{std::move(data), std::move(response), std::move(error),
                                       queue->isCurrent(), dispatch::isMainThread()});
                });
        task->resume();
        if (taskOut != nullptr) {
            *taskOut = task;
        }
        return outcome;
    }

    static Answer run(const std::shared_ptr<URLSession>& session, URLRequest request) {
        return start(session, std::move(request)).get("the task never completed");
    }

    test::TempSandbox sandbox_;
    httplib::Server server_;
    int port_ = 0;
    std::thread thread_;
    Mutex mutex_;
    CondVar changed_;
    bool hanging_ PELMAR_GUARDED_BY(mutex_) = false;
    bool released_ PELMAR_GUARDED_BY(mutex_) = false;
    int heldArrivals_ PELMAR_GUARDED_BY(mutex_) = 0;
    Seen seen_ PELMAR_GUARDED_BY(mutex_);
};

TEST_F(URLSessionIntegrationTest, DataTaskDeliversAnswerOnTheDelegateQueue) {
    const auto outcome = run(URLSession::shared(), URLRequest(url("/hello")));

    EXPECT_FALSE(outcome.error);
    EXPECT_EQ(outcome.data, "hello");
    ASSERT_TRUE(outcome.response);
    EXPECT_EQ(outcome.response->statusCode(), 200);
    EXPECT_EQ(outcome.response->value("x-answer"), "42");
    EXPECT_EQ(outcome.response->url(), url("/hello"));
    EXPECT_TRUE(outcome.onDelegateQueue);
    EXPECT_FALSE(outcome.onMainThread);
}

TEST_F(URLSessionIntegrationTest, RedirectsAreFollowedAndErrorStatusesAreNoErrors) {
    auto redirected = run(URLSession::shared(), URLRequest(url("/redirect")));
    EXPECT_FALSE(redirected.error);
    EXPECT_EQ(redirected.data, "hello");
    ASSERT_TRUE(redirected.response);
    EXPECT_EQ(redirected.response->url(), url("/hello"));
    EXPECT_EQ(redirected.response->value("X-Answer"), "42");

    auto failed = run(URLSession::shared(), URLRequest(url("/status")));
    EXPECT_FALSE(failed.error);
    ASSERT_TRUE(failed.response);
    EXPECT_EQ(failed.response->statusCode(), 500);
    EXPECT_EQ(failed.data, "{\"error\":1}");
}

TEST_F(URLSessionIntegrationTest, RequestsGoOutAsBuiltWithoutExpectContinue) {
    struct Case {
        const char* name;
        const char* method;  // nullptr: the request's own default
        std::optional<std::string> body;
        const char* contentLength;
        const char* sent;
    };

    const Case cases[] = {
            {"form post", "POST", std::string("a=1&b=2&"), "8", "POST"},
            {"empty post", "POST", std::nullopt, "0", "POST"},
            {"large post", "POST", std::string(3 * 1024 * 1024, 'x'), "3145728", "POST"},
            {"delete", "DELETE", std::nullopt, "<none>", "DELETE"},
            {"get", "GET", std::nullopt, "<none>", "GET"},
            {"default method", nullptr, std::nullopt, "<none>", "GET"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        URLRequest request(url("/echo?k=v&"));
        if (c.method != nullptr) {
            request.httpMethod = c.method;
        }
        request.httpBody = c.body;
        if (c.body || std::string(c.sent) == "POST") {
            // (The test server refuses form bodies over 8 KiB.)
            request.setValue(c.body && c.body->size() > 8192 ? "application/octet-stream"
                                                             : "application/x-www-form-urlencoded",
                             "Content-Type");
            request.setValue("999", "Content-Length");  // ignored: the body decides
        }
        const auto outcome = run(URLSession::shared(), request);
        ASSERT_FALSE(outcome.error) << *outcome.error;
        ASSERT_TRUE(outcome.response);
        EXPECT_EQ(outcome.response->statusCode(), 200);
        const Seen s = seen();
        EXPECT_EQ(s.method, c.sent);
        EXPECT_EQ(s.target, "/echo?k=v&");
        EXPECT_TRUE(s.body == c.body.value_or("")) << "body of " << s.body.size() << " bytes";
        EXPECT_EQ(s.header("Content-Length"), c.contentLength);
        EXPECT_EQ(s.header("Expect"), "<none>");
    }
}

TEST_F(URLSessionIntegrationTest, RequestsThatCannotBeSentFailWithAnError) {
    struct Case {
        const char* name;
        std::string url;
        const char* method;
        std::pair<std::string, std::string> header;
        long code;
    };

    // Port 1 on loopback refuses connections.
    const Case cases[] = {
            {"blank in URL", url("/a b"), "GET", {"X", "1"}, kURLErrorBadURL},
            // libcurl reads the URL as a C string, so it would request "/hello" alone.
            {"NUL in URL",
             url("/hello") + std::string("\0/x", 3),
             "GET",
             {"X", "1"},
             kURLErrorBadURL},
            {"no scheme", "127.0.0.1/x", "GET", {"X", "1"}, kURLErrorBadURL},
            {"empty URL", "", "GET", {"X", "1"}, kURLErrorBadURL},
            {"other scheme", "ftp://127.0.0.1/x", "GET", {"X", "1"}, kURLErrorUnsupportedURL},
            {"header injection",
             url("/hello"),
             "GET",
             {"X", "1\r\nHost: evil"},
             kURLErrorBadRequest},
            {"bad method", url("/hello"), "GE T", {"X", "1"}, kURLErrorBadRequest},
            {"refused", "http://127.0.0.1:1/x", "GET", {"X", "1"}, kURLErrorCannotConnectToHost},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        URLRequest request(c.url);
        request.httpMethod = c.method;
        request.setValue(c.header.second, c.header.first);
        const auto outcome = run(URLSession::shared(), request);
        ASSERT_TRUE(outcome.error);
        EXPECT_THAT(outcome.error, test::IsError(kURLErrorDomain, c.code));
        EXPECT_FALSE(outcome.data);
        EXPECT_TRUE(outcome.onDelegateQueue);
    }
}

TEST_F(URLSessionIntegrationTest, AnswerLargerThanTheCapFails) {
    auto configuration = URLSessionConfiguration::defaultConfiguration();
    configuration.maximumResponseBytes = 1000;
    auto session = URLSession::create(configuration);

    // The second answer is refused on its announced length, before its first bytes are kept.
    for (const char* path : {"/big", "/announced"}) {
        SCOPED_TRACE(path);
        const auto outcome = run(session, URLRequest(url(path)));

        EXPECT_THAT(outcome.error,
                    test::IsError(kURLErrorDomain, kURLErrorDataLengthExceedsMaximum));
        EXPECT_FALSE(outcome.data);
    }
}

TEST_F(URLSessionIntegrationTest, FileURLsAreReadFromDisk) {
    const auto path = sandbox_.root() / "a picture #1.jpg";
    const std::string bytes(300000, 'p');
    std::ofstream(path, std::ios::binary) << bytes;
    const auto read = run(URLSession::shared(), URLRequest(foundation::fileURLFromPath(path)));
    ASSERT_FALSE(read.error) << *read.error;
    EXPECT_EQ(read.data, bytes);
    ASSERT_TRUE(read.response);
    EXPECT_EQ(read.response->statusCode(), 200);
    EXPECT_TRUE(read.onDelegateQueue);

    auto configuration = URLSessionConfiguration::defaultConfiguration();
    configuration.maximumResponseBytes = 1000;

    const struct {
        const char* name;
        std::shared_ptr<URLSession> session;
        std::string url;
        long code;
    } failures[] = {
            {"missing", URLSession::shared(),
             foundation::fileURLFromPath(sandbox_.root() / "gone.jpg"), kURLErrorFileDoesNotExist},
            {"folder", URLSession::shared(), foundation::fileURLFromPath(sandbox_.root()),
             kURLErrorFileDoesNotExist},
            {"over the cap", URLSession::create(configuration), foundation::fileURLFromPath(path),
             kURLErrorDataLengthExceedsMaximum},
            {"bad escape", URLSession::shared(), "file:///a%zz.jpg", kURLErrorBadURL},
    };

    for (const auto& c : failures) {
        SCOPED_TRACE(c.name);
        const auto outcome = run(c.session, URLRequest(c.url));
        EXPECT_THAT(outcome.error, test::IsError(kURLErrorDomain, c.code));
        EXPECT_FALSE(outcome.data);
    }
}

TEST_F(URLSessionIntegrationTest, CancelEndsSuspendedAndRunningTasksWithCancelled) {
    auto session = URLSession::shared();
    {
        SCOPED_TRACE("suspended");
        test::Outcome<std::optional<Error>> outcome;
        auto task = session->dataTask(URLRequest(url("/hello")),
                                      [outcome](auto, auto, auto error) { outcome.set(error); });
        task->cancel();
        task->resume();  // too late: nothing is sent
        ASSERT_TRUE(outcome.arrives());
        auto error = outcome.get();
        EXPECT_THAT(error, test::IsError(kURLErrorDomain, kURLErrorCancelled));
        EXPECT_EQ(task->state(), URLSessionTask::State::Completed);
    }
    {
        SCOPED_TRACE("running");
        URLSession::Task task;
        auto answer = start(session, URLRequest(url("/hang")), &task);
        waitUntilHanging();
        std::thread([task] { task->cancel(); }).join();  // from another thread
        ASSERT_TRUE(answer.arrives());
        const auto outcome = answer.get();
        EXPECT_THAT(outcome.error, test::IsError(kURLErrorDomain, kURLErrorCancelled));
        EXPECT_EQ(task->error(), outcome.error);
    }
}

TEST_F(URLSessionIntegrationTest, ASessionTalksToAServerOverAtMostItsConnectionsPerHost) {
    URLSessionConfiguration one;
    one.httpMaximumConnectionsPerHost = 1;
    auto limited = URLSession::create(one);
    auto first = start(limited, URLRequest(url("/held")));
    ASSERT_TRUE(heldArrivalsReach(1));
    auto second = start(limited, URLRequest(url("/held")));
    URLSession::Task waiting;
    auto cancelled = start(limited, URLRequest(url("/held")), &waiting);
    // Another session is not limited by this one's transfers: once its request arrived, the
    // limited session's later ones would have too.
    auto other = start(URLSession::create({}), URLRequest(url("/held")));
    ASSERT_TRUE(heldArrivalsReach(2));
    EXPECT_EQ(heldArrivals(), 2) << "the limited session sent a second request at once";
    // A waiting task that is cancelled ends without being sent.
    waiting->cancel();
    ASSERT_TRUE(cancelled.arrives());
    EXPECT_THAT(cancelled.get().error, test::IsError(kURLErrorDomain, kURLErrorCancelled));

    release();
    EXPECT_EQ(first.get().data, "held");
    EXPECT_EQ(second.get().data, "held");
    EXPECT_EQ(other.get().data, "held");
    EXPECT_EQ(heldArrivals(), 3);
}

TEST_F(URLSessionIntegrationTest, SilentServerEndsTheTaskWithTimedOutInsteadOfHanging) {
    URLRequest request(url("/hang"));
    request.timeoutInterval = 1;  // idle seconds; the server sends nothing until released

    const auto outcome = run(URLSession::shared(), request);

    EXPECT_THAT(outcome.error, test::IsError(kURLErrorDomain, kURLErrorTimedOut));
}

// The server holds both answers. The unbounded request reaches it first, so any idle limit as
// short as the other's would end it no later than the other: it must still be waiting, and get its
// answer once the server lets go of it.
TEST_F(URLSessionIntegrationTest, UnboundedTimeoutOutlastsAShortOne) {
    URLRequest patient(url("/hang"));
    patient.timeoutInterval = INFINITY;
    auto patientOutcome = start(URLSession::shared(), patient);
    waitUntilHanging();
    URLRequest impatient(url("/hang"));
    impatient.timeoutInterval = 1;

    const auto outcome = run(URLSession::shared(), impatient);
    EXPECT_THAT(outcome.error, test::IsError(kURLErrorDomain, kURLErrorTimedOut));
    release();

    ASSERT_TRUE(patientOutcome.arrives());
    const auto late = patientOutcome.get();
    EXPECT_FALSE(late.error) << *late.error;
    EXPECT_EQ(late.data, "late");
}

TEST_F(URLSessionIntegrationTest, TaskIdentifiersAreUniqueAcrossSessions) {
    std::set<uint64_t> identifiers;
    for (int i = 0; i < 5; ++i) {
        auto session = URLSession::create(URLSessionConfiguration::background("s"));
        identifiers.insert(session->dataTask(URLRequest(url("/hello")))->taskIdentifier());
        identifiers.insert(
                URLSession::shared()->dataTask(URLRequest(url("/hello")))->taskIdentifier());
    }
    EXPECT_EQ(identifiers.size(), 10u);
}

TEST_F(URLSessionIntegrationTest, DownloadTaskHandsOverAFileThatIsRemovedAfterwards) {
    auto promise = std::make_shared<std::promise<void>>();
    std::optional<std::filesystem::path> location;
    std::string content;
    auto task = URLSession::shared()->downloadTask(
            URLRequest(url("/big")), [&, promise](auto path, auto response, auto error) {
                EXPECT_FALSE(error);
                EXPECT_EQ(response->statusCode(), 200);
                location = path;
                if (path) {
                    std::ifstream in(*path, std::ios::binary);
                    content.assign(std::istreambuf_iterator<char>(in), {});
                }
                promise->set_value();
            });
    task->resume();
    ASSERT_EQ(promise->get_future().wait_for(kPatience), std::future_status::ready);
    ASSERT_TRUE(location);
    EXPECT_EQ(content, std::string(200000, 'b'));
    task.reset();  // the removal happens on the delegate queue right after the handler
    auto drained = std::make_shared<std::promise<void>>();
    URLSession::shared()->delegateQueue()->async([drained] { drained->set_value(); });
    ASSERT_EQ(drained->get_future().wait_for(kPatience), std::future_status::ready);
    EXPECT_FALSE(std::filesystem::exists(*location));
}

// What a download task's completion handler got, and the download files left beside it then.
struct Downloaded {
    std::optional<std::filesystem::path> location;
    URLSessionTask::Response response;
    std::optional<Error> error;
    std::vector<std::string> leftovers;
    uintmax_t size = 0;  // of the file handed over
};

Downloaded download(const std::shared_ptr<URLSession>& session, const std::string& url) {
    test::Outcome<Downloaded> outcome;
    session->downloadTask(URLRequest(url),
                          [outcome](auto path, auto response, auto error) {
                              Downloaded got{path, std::move(response), std::move(error), {}};
                              std::error_code ec;
                              if (path) {
                                  got.size = std::filesystem::file_size(*path, ec);
                              }
                              for (const auto& entry : std::filesystem::directory_iterator(
                                           foundation::Sandbox::temporaryDirectory(), ec)) {
                                  got.leftovers.push_back(entry.path().filename().string());
                              }
                              outcome.set(std::move(got));
                          })
            ->resume();
    return outcome.get("the download never completed");
}

TEST_F(URLSessionIntegrationTest, ADownloadLargerThanItsCapFailsAndLeavesNoFile) {
    auto configuration = URLSessionConfiguration::defaultConfiguration();
    configuration.maximumDownloadBytes = 100000;
    auto session = URLSession::create(configuration);
    // No length announced: the cap is met while the file is being written.
    test::ScriptedHttpServer unannounced([](const test::ScriptedRequest&) {
        test::ScriptedReply reply;
        reply.body = std::string(300000, 'u');
        reply.chunked = true;
        reply.writeSize = 16 * 1024;
        return reply;
    });

    for (const std::string& address : {url("/big"), unannounced.url("/endless")}) {
        SCOPED_TRACE(address);
        const auto got = download(session, address);
        EXPECT_THAT(got.error, test::IsError(kURLErrorDomain, kURLErrorDataLengthExceedsMaximum));
        EXPECT_FALSE(got.location);
        EXPECT_THAT(got.leftovers, ::testing::IsEmpty());
    }

    // At the cap the file is whole.
    configuration.maximumDownloadBytes = 200000;
    const auto whole = download(URLSession::create(configuration), url("/big"));
    ASSERT_FALSE(whole.error) << *whole.error;
    ASSERT_TRUE(whole.location);
    EXPECT_EQ(whole.size, 200000u);
    EXPECT_EQ(whole.leftovers, std::vector<std::string>{whole.location->filename().string()});
}

TEST_F(URLSessionIntegrationTest, TheSharedSessionBoundsDownloadsByDefault) {
    // Announces one byte more than the default cap, then sends a little and closes.
    const int64_t cap = URLSessionConfiguration::defaultConfiguration().maximumDownloadBytes;
    test::ScriptedHttpServer huge([cap](const test::ScriptedRequest&) {
        test::ScriptedReply reply;
        reply.body = std::string(1000, 'h');
        reply.contentLength = cap + 1;
        return reply;
    });
    const auto got = download(URLSession::shared(), huge.url("/movie.mp4"));
    EXPECT_THAT(got.error, test::IsError(kURLErrorDomain, kURLErrorDataLengthExceedsMaximum));
    EXPECT_FALSE(got.location);
    EXPECT_THAT(got.leftovers, ::testing::IsEmpty());
}

// Records the delegate events of upload tasks.
class RecordingDelegate : public URLSessionDelegate {
public:
    void didReceiveData(URLSession&,
                        const std::shared_ptr<URLSessionTask>&,
                        const std::string& data) override {
        std::lock_guard lock(mutex_);
        data_ += data;
    }

    void didSendBodyData(URLSession&,
                         const std::shared_ptr<URLSessionTask>&,
                         int64_t sent,
                         int64_t total,
                         int64_t expected) override {
        std::lock_guard lock(mutex_);
        deltas_ += sent;
        lastTotal_ = total;
        expected_ = expected;
        ++events_;
    }

    void didCompleteWithError(URLSession&,
                              const std::shared_ptr<URLSessionTask>&,
                              const std::optional<Error>& error) override {
        done_.set(error);
    }

    std::optional<Error> wait() {
        if (!done_.arrives()) {
            ADD_FAILURE() << "the upload never completed";
            return urlError(kURLErrorUnknown, "hang");
        }
        return done_.get();
    }

    std::mutex mutex_;
    std::string data_;
    int64_t deltas_ = 0;
    int64_t lastTotal_ = 0;
    int64_t expected_ = 0;
    int events_ = 0;

private:
    test::Outcome<std::optional<Error>> done_;
};

// A body that yields `actual` bytes while claiming `announced`.
class LyingBody : public BodySource {
public:
    LyingBody(int64_t announced, int64_t actual) : announced_(announced), actual_(actual) {}

    int64_t size() const override { return announced_; }

    std::optional<Error> open() override {
        offset_ = 0;
        return std::nullopt;
    }

    ReadResult read(std::span<char> buffer) override {
        const auto n = std::min<int64_t>(static_cast<int64_t>(buffer.size()), actual_ - offset_);
        std::fill_n(buffer.data(), n, 'z');
        offset_ += n;
        return {static_cast<size_t>(n), std::nullopt};
    }

private:
    int64_t announced_;
    int64_t actual_;
    int64_t offset_ = 0;
};

TEST_F(URLSessionIntegrationTest, UploadFromFileStreamsTheFileAndReportsProgress) {
    const auto path = sandbox_.root() / "clip.mp4";
    std::string bytes(5 * 1024 * 1024 + 3, '\0');
    for (size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<char>(i % 251);
    }
    std::ofstream(path, std::ios::binary) << bytes;
    auto delegate = std::make_shared<RecordingDelegate>();
    auto session = URLSession::create(URLSessionConfiguration::background("upload"), delegate);
    URLRequest request(url("/echo"));
    request.httpMethod = "POST";
    request.setValue("application/octet-stream", "Content-Type");

    auto task = session->uploadTask(request, path);
    task->resume();

    EXPECT_FALSE(delegate->wait());
    const Seen s = seen();
    EXPECT_TRUE(s.body == bytes) << "body of " << s.body.size() << " bytes";
    EXPECT_EQ(s.header("Content-Length"), std::to_string(bytes.size()));
    std::lock_guard lock(delegate->mutex_);
    EXPECT_EQ(delegate->data_, std::to_string(bytes.size()));
    EXPECT_GT(delegate->events_, 0);
    EXPECT_EQ(delegate->deltas_, static_cast<int64_t>(bytes.size()));
    EXPECT_EQ(delegate->lastTotal_, static_cast<int64_t>(bytes.size()));
    EXPECT_EQ(delegate->expected_, static_cast<int64_t>(bytes.size()));
    EXPECT_EQ(task->countOfBytesSent(), static_cast<int64_t>(bytes.size()));
}

TEST_F(URLSessionIntegrationTest, UploadWhoseBodyIsMissingOrOfTheWrongLengthFails) {
    struct Case {
        const char* name;
        std::shared_ptr<BodySource> body;
        long code;
    };

    const Case cases[] = {
            {"missing file", std::make_shared<FileBodySource>(sandbox_.root() / "gone.mp4"),
             kURLErrorFileDoesNotExist},
            {"short body", std::make_shared<LyingBody>(100000, 5000),
             kURLErrorRequestBodyStreamExhausted},
            {"long body", std::make_shared<LyingBody>(5000, 100000),
             kURLErrorRequestBodyStreamExhausted},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto delegate = std::make_shared<RecordingDelegate>();
        auto session = URLSession::create(URLSessionConfiguration::background("bad"), delegate);
        URLRequest request(url("/echo"));
        request.httpMethod = "POST";
        session->uploadTask(request, c.body)->resume();
        auto error = delegate->wait();
        EXPECT_THAT(error, test::IsError(kURLErrorDomain, c.code));
    }
}

TEST_F(URLSessionIntegrationTest, ConnectionCutMidUploadFails) {
    // A bare listener that reads part of the request and then resets the connection.
    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_GE(listener, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(listener, 1), 0);
    ASSERT_EQ(::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length), 0);
    const int port = ntohs(address.sin_port);
    std::thread cutter([listener] {
        const int connection = ::accept(listener, nullptr, nullptr);
        if (connection < 0) {
            return;
        }
        std::vector<char> buffer(64 * 1024);
        size_t total = 0;
        while (total < 256 * 1024) {
            const ssize_t n = ::read(connection, buffer.data(), buffer.size());
            if (n <= 0) {
                break;
            }
            total += static_cast<size_t>(n);
        }
        linger reset{1, 0};
        ::setsockopt(connection, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
        ::close(connection);
    });

    auto delegate = std::make_shared<RecordingDelegate>();
    auto session = URLSession::create(URLSessionConfiguration::background("cut"), delegate);
    URLRequest request("http://127.0.0.1:" + std::to_string(port) + "/upload");
    request.httpMethod = "POST";
    session->uploadTask(request, std::make_shared<LyingBody>(64 << 20, 64 << 20))->resume();
    auto error = delegate->wait();
    cutter.join();
    ::close(listener);

    EXPECT_THAT(error, test::IsError(kURLErrorDomain, kURLErrorNetworkConnectionLost));
}

// A POST holding a token, to a server that may redirect it to another host.
class CredentialRedirectTest : public ::testing::Test {
protected:
    static constexpr const char* kSecret = "session_APP=SECRET-SESSION&client_auth=SECRET-AUTH";

    static URLRequest post(std::string url, bool withinOriginOnly) {
        URLRequest request(std::move(url));
        request.httpMethod = "POST";
        request.setValue("application/x-www-form-urlencoded", "Content-Type");
        request.httpBody = kSecret;
        request.redirectsWithinOriginOnly = withinOriginOnly;
        return request;
    }

    static Answer send(const std::shared_ptr<URLSession>& session, URLRequest request) {
        test::Outcome<Answer> outcome;
        session->dataTask(std::move(request),
                          [outcome](auto data, auto response, auto error) {
                              outcome.set(Answer{std::move(data), std::move(response),
                                                 std::move(error)});
                          })
                ->resume();
        return outcome.get("the task never completed");
    }

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

    static std::vector<std::string> bodiesSeenBy(const test::ScriptedHttpServer& server) {
        std::vector<std::string> bodies;
        for (const auto& request : server.requests()) {
            bodies.push_back(request.method + " " + request.target + " " + request.body);
        }
        return bodies;
    }

    // Another host (127.0.0.2) and another port of this host: neither may see the token.
    test::ScriptedHttpServer otherHost_{
            [](const test::ScriptedRequest&) { return reply(200, "stolen"); }, "127.0.0.2"};
    test::ScriptedHttpServer otherPort_{
            [](const test::ScriptedRequest&) { return reply(200, "stolen"); }};
    test::ScriptedHttpServer origin_{[this](const test::ScriptedRequest& request) {
        const auto redirect = [](int status, std::string location) {
            return reply(status, "moved", std::move(location));
        };
        const std::string& target = request.target;
        if (target == "/307-host") {
            return redirect(307, otherHost_.url("/take"));
        }
        if (target == "/308-host") {
            return redirect(308, otherHost_.url("/take"));
        }
        if (target == "/307-port") {
            return redirect(307, otherPort_.url("/take"));
        }
        if (target == "/308-scheme-relative") {
            return redirect(308, "//127.0.0.2:" + std::to_string(otherHost_.port()) + "/take");
        }
        if (target == "/307-same") {
            return redirect(307, "/landing");
        }
        if (target == "/308-same-absolute") {
            return redirect(308, origin_.url("/landing"));
        }
        return reply(200, "landed");
    }};
};

TEST_F(CredentialRedirectTest, ARedirectLeavingTheOriginIsAnErrorAndTheOtherHostGetsNothing) {
    const std::shared_ptr<URLSession>& session = URLSession::shared();
    for (const char* path : {"/307-host", "/308-host", "/307-port", "/308-scheme-relative"}) {
        SCOPED_TRACE(path);
        const auto refused = send(session, post(origin_.url(path), /*withinOriginOnly=*/true));
        EXPECT_THAT(refused.error,
                    test::IsError(kURLErrorDomain, kURLErrorRedirectToAnotherOrigin));
        EXPECT_FALSE(refused.data);
        ASSERT_TRUE(refused.response);
        EXPECT_EQ(refused.response->statusCode(),
                  std::string_view(path).substr(1, 3) == "307" ? 307 : 308);
    }
    EXPECT_THAT(bodiesSeenBy(otherHost_), ::testing::IsEmpty());
    EXPECT_THAT(bodiesSeenBy(otherPort_), ::testing::IsEmpty());
}

TEST_F(CredentialRedirectTest, ARedirectWithinTheOriginIsFollowedWithTheSameBody) {
    for (const char* path : {"/307-same", "/308-same-absolute"}) {
        SCOPED_TRACE(path);
        const auto followed = send(URLSession::shared(), post(origin_.url(path), true));
        ASSERT_FALSE(followed.error) << *followed.error;
        EXPECT_EQ(followed.data, "landed");
        ASSERT_TRUE(followed.response);
        EXPECT_EQ(followed.response->url(), origin_.url("/landing"));
    }
    EXPECT_THAT(bodiesSeenBy(origin_),
                ::testing::ElementsAre(std::string("POST /307-same ") + kSecret,
                                       std::string("POST /landing ") + kSecret,
                                       std::string("POST /308-same-absolute ") + kSecret,
                                       std::string("POST /landing ") + kSecret));
}

TEST_F(CredentialRedirectTest, ARequestWithoutCredentialsStillFollowsToAnotherHost) {
    const auto followed = send(URLSession::shared(), post(origin_.url("/307-host"), false));
    ASSERT_FALSE(followed.error) << *followed.error;
    EXPECT_EQ(followed.data, "stolen");
    EXPECT_THAT(bodiesSeenBy(otherHost_),
                ::testing::ElementsAre(std::string("POST /take ") + kSecret));
}

// Trusts every certificate it is shown.
class TrustingDelegate : public URLSessionDelegate {
public:
    void didReceiveChallenge(URLSession&,
                             const std::shared_ptr<URLSessionTask>&,
                             const URLAuthenticationChallenge& challenge,
                             URLSessionChallengeCompletion completion) override {
        if (challenge.serverTrust) {
            completion(URLSessionAuthChallengeDisposition::UseCredential,
                       URLCredential::forTrust(*challenge.serverTrust));
        } else {
            completion(URLSessionAuthChallengeDisposition::PerformDefaultHandling, std::nullopt);
        }
    }
};

// A P-256 key and a certificate for 127.0.0.1 that it signed itself.
struct SelfSignedCertificate {
    struct KeyFree {
        void operator()(EVP_PKEY* owned) const { EVP_PKEY_free(owned); }
    };

    struct CertificateFree {
        void operator()(X509* owned) const { X509_free(owned); }
    };

    SelfSignedCertificate() : key(EVP_EC_gen("P-256")), certificate(X509_new()) {
        if (!key || !certificate) {
            return;
        }
        X509* cert = certificate.get();
        X509_set_version(cert, 2);
        ASN1_INTEGER_set(X509_get_serialNumber(cert), 1);
        X509_gmtime_adj(X509_getm_notBefore(cert), -3600);
        X509_gmtime_adj(X509_getm_notAfter(cert), 24 * 3600);
        X509_set_pubkey(cert, key.get());
        X509_NAME* name = X509_get_subject_name(cert);
        X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                                   reinterpret_cast<const unsigned char*>("127.0.0.1"), -1, -1, 0);
        X509_set_issuer_name(cert, name);
        signed_ = X509_sign(cert, key.get(), EVP_sha256()) > 0;
    }

    bool valid() const { return signed_; }

    std::unique_ptr<EVP_PKEY, KeyFree> key;
    std::unique_ptr<X509, CertificateFree> certificate;

private:
    bool signed_ = false;
};

TEST_F(CredentialRedirectTest, AnHttpsRequestIsNotRedirectedToHttp) {
    SelfSignedCertificate identity;
    ASSERT_TRUE(identity.valid());
    httplib::SSLServer tls(identity.certificate.get(), identity.key.get());
    ASSERT_TRUE(tls.is_valid());
    // To plain http on the same host, and to the same port with the other scheme.
    tls.Post("/down", [this](const httplib::Request&, httplib::Response& res) {
        res.status = 307;
        res.set_header("Location", origin_.url("/landing"));
    });
    int port = 0;
    tls.Post("/same-port", [&port](const httplib::Request&, httplib::Response& res) {
        res.status = 308;
        res.set_header("Location", "http://127.0.0.1:" + std::to_string(port) + "/landing");
    });
    tls.Post("/up-here", [](const httplib::Request&, httplib::Response& res) {
        res.set_content("secure", "text/plain");
    });
    tls.Post("/stay", [](const httplib::Request&, httplib::Response& res) {
        res.status = 307;
        res.set_header("Location", "/up-here");
    });
    tls.set_keep_alive_max_count(1);
    port = tls.bind_to_any_port("127.0.0.1");
    ASSERT_GT(port, 0);
    std::thread serving([&tls] { tls.listen_after_bind(); });
    while (!tls.is_running()) {
        std::this_thread::yield();
    }
    auto delegate = std::make_shared<TrustingDelegate>();
    auto session = URLSession::create(URLSessionConfiguration::defaultConfiguration(), delegate);
    const std::string base = "https://127.0.0.1:" + std::to_string(port);

    for (const char* path : {"/down", "/same-port"}) {
        SCOPED_TRACE(path);
        const auto refused = send(session, post(base + path, true));
        EXPECT_THAT(refused.error,
                    test::IsError(kURLErrorDomain, kURLErrorRedirectToAnotherOrigin));
    }
    const auto kept = send(session, post(base + "/stay", true));
    EXPECT_FALSE(kept.error) << *kept.error;
    EXPECT_EQ(kept.data, "secure");
    tls.stop();
    serving.join();
    EXPECT_THAT(bodiesSeenBy(origin_), ::testing::IsEmpty());
}

}  // namespace
}  // namespace pelmar::net
