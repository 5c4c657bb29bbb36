#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "pelmar/imageloader/PelmarRemoteImageManager.h"
#include "pelmar/platform/image/testing/ImageFixtures.h"
#include "pelmar/platform/net/URLError.h"
#include "testing/Matchers.h"
#include "testing/NginxChallengeServers.h"
#include "testing/Waits.h"

namespace pelmar {
namespace {

using Disposition = net::URLSessionAuthChallengeDisposition;
using test::IsError;

// What the host's handler saw of one challenge.
struct Seen {
    net::URLAuthenticationMethod method;
    bool hasTask;
};

class PelmarRemoteImageManagerChallengesIntegrationTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        servers_ = std::make_unique<test::NginxChallengeServers>();
        failure_ = servers_->Start(image::test::jpeg(*image::test::photo(40, 30)));
        basic_ = servers_->basic.get();
        tls_ = servers_->tls.get();
    }

    static void TearDownTestSuite() { servers_.reset(); }

    void SetUp() override { ASSERT_TRUE(failure_.empty()) << failure_; }

    // Downloads `url` with a manager whose handler answers `disposition` (with a login, or a
    // trust in what it is shown, for UseCredential); no handler at all when `disposition` is
    // none.
    PelmarImageResult download(const std::string& url, std::optional<Disposition> disposition) {
        auto manager = PelmarRemoteImageManager::create(std::nullopt, nullptr, nullptr,
                                                        std::nullopt, recorder_);
        if (disposition) {
            std::promise<void> set;
            manager->setAuthenticationChallenge(
                    [this, disposition](const PelmarDataTask& task,
                                        const net::URLAuthenticationChallenge& challenge,
                                        net::URLSessionChallengeCompletion completion) {
                        {
                            std::lock_guard lock(mutex_);
                            seen_.push_back({challenge.protectionSpace.authenticationMethod,
                                             task != nullptr});
                        }
                        std::optional<net::URLCredential> credential;
                        if (*disposition == Disposition::UseCredential) {
                            credential =
                                    challenge.serverTrust
                                            ? net::URLCredential::forTrust(*challenge.serverTrust)
                                            : net::URLCredential::withUser("ann", "s3cret");
                        }
                        completion(*disposition, std::move(credential));
                    },
                    [&set] { set.set_value(); });
            set.get_future().wait();
        }
        test::Outcome<PelmarImageResult> outcome;
        manager->downloadImageWithURL(
                url, kPelmarImageRequestOptionNoRetry,
                [outcome](const PelmarImageResult& result) { outcome.set(result); });
        return outcome.get("no completion");
    }

    std::vector<Seen> seen() {
        std::lock_guard lock(mutex_);
        return seen_;
    }

    static inline std::unique_ptr<test::NginxChallengeServers> servers_;
    static inline test::NginxHttpServer* basic_ = nullptr;
    static inline test::NginxHttpServer* tls_ = nullptr;
    static inline std::string failure_;
    std::shared_ptr<PelmarSpeedRecorder> recorder_ =
            std::make_shared<PelmarSpeedRecorder>([] { return std::optional<uint32_t>(); });
    std::mutex mutex_;
    std::vector<Seen> seen_;
};

TEST_F(PelmarRemoteImageManagerChallengesIntegrationTest, TheHostAnswersBasicAndTrustChallenges) {
    struct Case {
        const char* name;
        bool tls;
        std::optional<Disposition> disposition;
        std::string domain;  // empty: the picture arrives
        long code;
    };

    const std::string http(kPelmarURLErrorDomain);
    const std::string net(net::kURLErrorDomain);
    const Case cases[] = {
            {"login accepted", false, Disposition::UseCredential, "", 0},
            {"login refused", false, Disposition::PerformDefaultHandling, http, 401},
            {"no handler", false, std::nullopt, http, 401},
            {"login cancelled", false, Disposition::CancelAuthenticationChallenge, net,
             net::kURLErrorCancelled},
            {"trust accepted", true, Disposition::UseCredential, "", 0},
            {"trust refused", true, Disposition::RejectProtectionSpace, net,
             net::kURLErrorServerCertificateUntrusted},
            {"no trust handler", true, std::nullopt, net, net::kURLErrorServerCertificateUntrusted},
            {"trust cancelled", true, Disposition::CancelAuthenticationChallenge, net,
             net::kURLErrorCancelled},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        {
            std::lock_guard lock(mutex_);
            seen_.clear();
        }
        const auto result = download(c.tls ? tls_->Url("/a.jpg") : basic_->Url("/private/a.jpg"),
                                     c.disposition);
        ASSERT_TRUE(result);
        if (c.domain.empty()) {
            ASSERT_TRUE(result->image()) << *result->error();
            EXPECT_EQ(result->image()->width(), 40);
        } else {
            EXPECT_FALSE(result->image());
            EXPECT_THAT(result->error(), IsError(c.domain, c.code));
        }
        const auto asked = seen();
        ASSERT_EQ(asked.size(), c.disposition ? 1u : 0u);
        if (!asked.empty()) {
            EXPECT_EQ(asked[0].method, c.tls ? net::URLAuthenticationMethod::ServerTrust
                                             : net::URLAuthenticationMethod::HTTPBasic);
            // Server trust concerns the connection: it reaches the handler without a task.
            EXPECT_EQ(asked[0].hasTask, !c.tls);
        }
    }
}

}  // namespace
}  // namespace pelmar
