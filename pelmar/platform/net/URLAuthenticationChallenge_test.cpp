#include "pelmar/platform/net/URLAuthenticationChallenge.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <deque>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "pelmar/platform/net/URLError.h"
#include "pelmar/platform/net/URLSession.h"
#include "testing/Matchers.h"
#include "testing/NginxChallengeServers.h"
#include "testing/ScriptedHttpServer.h"
#include "testing/Waits.h"

namespace pelmar::net {
namespace {

using Disposition = URLSessionAuthChallengeDisposition;

const std::string kPicture(5000, 'j');

// Answers each challenge with the next scripted answer (default handling once they run out) and
// keeps what it was asked.
class ChallengeScript : public URLSessionDelegate {
public:
    using Answer = std::function<void(const URLAuthenticationChallenge&,
                                      const URLSessionChallengeCompletion&)>;

    explicit ChallengeScript(std::vector<Answer> answers)
        : answers_(answers.begin(), answers.end()) {}

    void didReceiveChallenge(URLSession&,
                             const std::shared_ptr<URLSessionTask>& task,
                             const URLAuthenticationChallenge& challenge,
                             URLSessionChallengeCompletion completion) override {
        Answer answer;
        {
            std::lock_guard lock(mutex_);
            asked_.push_back(challenge);
            EXPECT_TRUE(task);
            if (!answers_.empty()) {
                answer = std::move(answers_.front());
                answers_.pop_front();
            }
        }
        if (answer) {
            answer(challenge, completion);
        } else {
            completion(Disposition::PerformDefaultHandling, std::nullopt);
        }
    }

    std::vector<URLAuthenticationChallenge> asked() {
        std::lock_guard lock(mutex_);
        return asked_;
    }

private:
    std::mutex mutex_;
    std::deque<Answer> answers_;
    std::vector<URLAuthenticationChallenge> asked_;
};

ChallengeScript::Answer login(std::string user, std::string password) {
    return [=](const URLAuthenticationChallenge&, const URLSessionChallengeCompletion& done) {
        done(Disposition::UseCredential, URLCredential::withUser(user, password));
    };
}

ChallengeScript::Answer answerWith(Disposition disposition) {
    return [=](const URLAuthenticationChallenge&, const URLSessionChallengeCompletion& done) {
        done(disposition, std::nullopt);
    };
}

// Trusts the certificate it is shown, from another thread, as a host app that asks its user
// would.
ChallengeScript::Answer trustLater() {
    return [](const URLAuthenticationChallenge& challenge,
              const URLSessionChallengeCompletion& done) {
        std::thread([trust = *challenge.serverTrust, done] {
            done(Disposition::UseCredential, URLCredential::forTrust(trust));
        }).detach();
    };
}

// What a data task's completion handler got.
struct Answer {
    std::optional<std::string> data;
    URLSessionTask::Response response;
    std::optional<Error> error;
};

Answer fetch(const std::shared_ptr<ChallengeScript>& script, const std::string& url) {
    auto session = URLSession::create(URLSessionConfiguration::defaultConfiguration(), script);
    // Shared with the callback, which may still come after the wait gave up.
    test::Outcome<Answer> outcome;
    session->dataTask(
                   URLRequest(url),
                   [outcome](auto data, auto response, auto error) {
                       outcome.set(Answer{std::move(data), std::move(response), std::move(error)});
                   })
            ->resume();
    return outcome.get("the task never completed");
}

class URLAuthenticationChallengeIntegrationTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        servers_ = std::make_unique<test::NginxChallengeServers>();
        failure_ = servers_->Start(kPicture);
        basic_ = servers_->basic.get();
        tls_ = servers_->tls.get();
    }

    static void TearDownTestSuite() { servers_.reset(); }

    void SetUp() override { ASSERT_TRUE(failure_.empty()) << failure_; }

    static inline std::unique_ptr<test::NginxChallengeServers> servers_;
    static inline test::NginxHttpServer* basic_ = nullptr;
    static inline test::NginxHttpServer* tls_ = nullptr;
    static inline std::string failure_;
};

TEST_F(URLAuthenticationChallengeIntegrationTest, BasicChallengesAreAnsweredAcceptedOrRefused) {
    const std::string url = basic_->Url("/private/a.jpg");

    struct Case {
        const char* name;
        std::vector<ChallengeScript::Answer> answers;
        std::size_t challenges;
        long status;  // 0: no answer, `code` is the error
        long code;
    };

    const Case cases[] = {
            {"accepted", {login("ann", "s3cret")}, 1, 200, 0},
            {"default handling delivers the 401", {}, 1, 401, 0},
            {"refused protection space",
             {answerWith(Disposition::RejectProtectionSpace)},
             1,
             401,
             0},
            {"cancelled",
             {answerWith(Disposition::CancelAuthenticationChallenge)},
             1,
             0,
             kURLErrorCancelled},
            {"wrong, then right", {login("ann", "wrong"), login("ann", "s3cret")}, 2, 200, 0},
            {"wrong, then cancelled",
             {login("ann", "wrong"), answerWith(Disposition::CancelAuthenticationChallenge)},
             2,
             0,
             kURLErrorCancelled},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto script = std::make_shared<ChallengeScript>(c.answers);
        const auto outcome = fetch(script, url);
        const auto asked = script->asked();
        ASSERT_EQ(asked.size(), c.challenges);
        for (std::size_t i = 0; i < asked.size(); ++i) {
            const auto& space = asked[i].protectionSpace;
            EXPECT_EQ(space.authenticationMethod, URLAuthenticationMethod::HTTPBasic);
            EXPECT_EQ(space.realm, "Pictures");
            EXPECT_EQ(space.host, "127.0.0.1");
            EXPECT_EQ(space.port, basic_->port());
            EXPECT_EQ(space.protocol, "http");
            EXPECT_EQ(asked[i].previousFailureCount, static_cast<int>(i));
            ASSERT_TRUE(asked[i].failureResponse);
            EXPECT_EQ(asked[i].failureResponse->statusCode(), 401);
        }
        if (c.status == 0) {
            EXPECT_THAT(outcome.error, test::IsError(kURLErrorDomain, c.code));
            continue;
        }
        ASSERT_FALSE(outcome.error) << *outcome.error;
        ASSERT_TRUE(outcome.response);
        EXPECT_EQ(outcome.response->statusCode(), c.status);
        if (c.status == 200) {
            EXPECT_EQ(outcome.data, kPicture);
        } else {
            EXPECT_THAT(outcome.data.value_or(""), ::testing::HasSubstr("401"));
        }
    }
    // Files outside the protected place are served without a challenge.
    auto script = std::make_shared<ChallengeScript>(std::vector<ChallengeScript::Answer>{});
    EXPECT_EQ(fetch(script, basic_->Url("/a.jpg")).data, kPicture);
    EXPECT_TRUE(script->asked().empty());
}

TEST_F(URLAuthenticationChallengeIntegrationTest, ALateAnswerToAnEarlierChallengeIsIgnored) {
    // The first challenge's completion is called again while the task waits on the second one:
    // it must not answer the second.
    auto first = std::make_shared<URLSessionChallengeCompletion>();
    auto script = std::make_shared<ChallengeScript>(std::vector<ChallengeScript::Answer>{
            [first](const URLAuthenticationChallenge&, const URLSessionChallengeCompletion& done) {
                *first = done;
                done(Disposition::UseCredential, URLCredential::withUser("ann", "wrong"));
            },
            [first](const URLAuthenticationChallenge&, const URLSessionChallengeCompletion& done) {
                (*first)(Disposition::UseCredential, URLCredential::withUser("ann", "s3cret"));
                done(Disposition::PerformDefaultHandling, std::nullopt);
            }});
    const auto outcome = fetch(script, basic_->Url("/private/a.jpg"));
    ASSERT_EQ(script->asked().size(), 2u);
    ASSERT_FALSE(outcome.error) << *outcome.error;
    ASSERT_TRUE(outcome.response);
    EXPECT_EQ(outcome.response->statusCode(), 401);
    EXPECT_NE(outcome.data, kPicture);
}

TEST_F(URLAuthenticationChallengeIntegrationTest, AnUntrustedCertificateIsAskedAbout) {
    const std::string url = tls_->Url("/a.jpg");

    struct Case {
        const char* name;
        std::vector<ChallengeScript::Answer> answers;
        long code;  // 0: the picture arrives
    };

    const Case cases[] = {
            {"trusted", {trustLater()}, 0},
            {"default handling", {}, kURLErrorServerCertificateUntrusted},
            {"cancelled",
             {answerWith(Disposition::CancelAuthenticationChallenge)},
             kURLErrorCancelled},
            // A credential that is not a trust leaves the certificate untrusted.
            {"a login is no trust", {login("ann", "s3cret")}, kURLErrorServerCertificateUntrusted},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto script = std::make_shared<ChallengeScript>(c.answers);
        const auto outcome = fetch(script, url);
        const auto asked = script->asked();
        ASSERT_EQ(asked.size(), 1u);
        EXPECT_EQ(asked[0].protectionSpace.authenticationMethod,
                  URLAuthenticationMethod::ServerTrust);
        EXPECT_EQ(asked[0].protectionSpace.protocol, "https");
        EXPECT_EQ(asked[0].protectionSpace.port, tls_->port());
        ASSERT_TRUE(asked[0].serverTrust);
        ASSERT_FALSE(asked[0].serverTrust->certificates.empty());
        EXPECT_EQ(asked[0].serverTrust->certificates[0], tls_->Certificate());
        EXPECT_THAT(asked[0].serverTrust->error, ::testing::HasSubstr("self-signed"));
        EXPECT_FALSE(asked[0].failureResponse);
        if (c.code == 0) {
            ASSERT_FALSE(outcome.error) << *outcome.error;
            EXPECT_EQ(outcome.data, kPicture);
        } else {
            EXPECT_THAT(outcome.error, test::IsError(kURLErrorDomain, c.code));
            EXPECT_FALSE(outcome.data);
        }
    }
}

TEST_F(URLAuthenticationChallengeIntegrationTest, ATrustAdmitsOnlyTheKeyItWasGivenFor) {
    auto script = std::make_shared<ChallengeScript>(
            std::vector<ChallengeScript::Answer>{[](const URLAuthenticationChallenge& challenge,
                                                    const URLSessionChallengeCompletion& done) {
                auto forged = *challenge.serverTrust;
                forged.publicKeySHA256 = "AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA=";
                done(Disposition::UseCredential, URLCredential::forTrust(forged));
            }});
    const auto outcome = fetch(script, tls_->Url("/a.jpg"));
    EXPECT_THAT(outcome.error, test::IsError(kURLErrorDomain, kURLErrorServerCertificateUntrusted));
    EXPECT_FALSE(outcome.data);
}

std::string md5(const std::string& text) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    EVP_Digest(text.data(), text.size(), digest, &size, EVP_md5(), nullptr);
    static constexpr char kHex[] = "0123456789abcdef";
    std::string out;
    for (unsigned int i = 0; i < size; ++i) {
        out += kHex[digest[i] >> 4];
        out += kHex[digest[i] & 15];
    }
    return out;
}

// The value of `name` in a Digest Authorization field.
std::string digestParameter(const std::string& field, const std::string& name) {
    const auto at = field.find(name + "=");
    if (at == std::string::npos) {
        return {};
    }
    std::size_t start = at + name.size() + 1;
    const bool quoted = start < field.size() && field[start] == '"';
    start += quoted ? 1 : 0;
    const auto end = field.find(quoted ? '"' : ',', start);
    return field.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

TEST_F(URLAuthenticationChallengeIntegrationTest, ADigestChallengeIsAnsweredWithTheRightDigest) {
    // A server that checks RFC 7616 (MD5, qop=auth) digests of user "bo", password "pw".
    test::ScriptedHttpServer server([](const test::ScriptedRequest& request) {
        const std::string field = request.header("Authorization").value_or("");
        const std::string realm = "Vault";
        test::ScriptedReply reply;
        if (field.rfind("Digest ", 0) == 0 && digestParameter(field, "username") == "bo") {
            const std::string ha1 = md5("bo:" + realm + ":pw");
            const std::string ha2 = md5("GET:" + digestParameter(field, "uri"));
            const std::string expected = md5(ha1 + ":" + digestParameter(field, "nonce") + ":"
                                             + digestParameter(field, "nc") + ":"
                                             + digestParameter(field, "cnonce") + ":auth:" + ha2);
            if (digestParameter(field, "response") == expected) {
                reply.headers = {{"Content-Type", "image/jpeg"}};
                reply.body = kPicture;
                return reply;
            }
        }
        reply.status = 401;
        reply.headers = {{"WWW-Authenticate",
                          "Digest realm=\"" + realm + "\", qop=\"auth\", nonce=\"n0nce\""},
                         {"Content-Type", "text/plain"}};
        reply.body = "who are you?";
        return reply;
    });
    const std::string url = server.url("/d.jpg");
    auto accepted = std::make_shared<ChallengeScript>(
            std::vector<ChallengeScript::Answer>{login("bo", "pw")});
    const auto outcome = fetch(accepted, url);
    auto refused = std::make_shared<ChallengeScript>(std::vector<ChallengeScript::Answer>{
            login("bo", "nope"), answerWith(Disposition::PerformDefaultHandling)});
    const auto denied = fetch(refused, url);

    ASSERT_EQ(accepted->asked().size(), 1u);
    EXPECT_EQ(accepted->asked()[0].protectionSpace.authenticationMethod,
              URLAuthenticationMethod::HTTPDigest);
    EXPECT_EQ(accepted->asked()[0].protectionSpace.realm, "Vault");
    ASSERT_FALSE(outcome.error) << *outcome.error;
    EXPECT_EQ(outcome.data, kPicture);

    ASSERT_EQ(refused->asked().size(), 2u);
    EXPECT_EQ(refused->asked()[1].previousFailureCount, 1);
    ASSERT_TRUE(denied.response);
    EXPECT_EQ(denied.response->statusCode(), 401);
    EXPECT_EQ(denied.data, "who are you?");
}

}  // namespace
}  // namespace pelmar::net
