#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "pelmar/platform/net/HTTPURLResponse.h"

// URLAuthenticationChallenge: what a server asks before it answers: a user and password for an
// HTTP realm (Basic or Digest, named by a 401 answer's WWW-Authenticate field), or a decision on
// a TLS certificate that did not verify (server trust). URLCredential is what an answer gives.
// Ownership: plain values.
// Threads: thread-compatible.
// Errors: none.

namespace pelmar::net {

enum class URLAuthenticationMethod { HTTPBasic, HTTPDigest, ServerTrust };

// Where the challenge comes from.
struct URLProtectionSpace {
    std::string host;
    int port = 0;
    std::string protocol;  // "http" or "https"
    std::string realm;     // the 401's realm; empty for server trust
    URLAuthenticationMethod authenticationMethod = URLAuthenticationMethod::HTTPBasic;
};

// The certificates a TLS server presented (PEM, its own first) and why they did not verify.
struct URLServerTrust {
    std::vector<std::string> certificates;
    std::string error;
    // The base64 SHA-256 of the server certificate's public key (DER SubjectPublicKeyInfo): a
    // credential for this trust admits that key only.
    std::string publicKeySHA256;
};

struct URLCredential {
    std::string user;
    std::string password;
    // Set: the server's certificate is accepted for the challenged task.
    std::optional<URLServerTrust> trust;

    static URLCredential withUser(std::string user, std::string password) {
        return URLCredential{std::move(user), std::move(password), std::nullopt};
    }

    static URLCredential forTrust(URLServerTrust trust) {
        return URLCredential{{}, {}, std::move(trust)};
    }
};

struct URLAuthenticationChallenge {
    URLProtectionSpace protectionSpace;
    // How many credentials this task has already offered for the space and the server refused.
    int previousFailureCount = 0;
    // The 401 answer head; null for server trust.
    std::shared_ptr<const HTTPURLResponse> failureResponse;
    // Set for server trust only.
    std::optional<URLServerTrust> serverTrust;
};

// The values of the answers, as the platform numbers them.
enum class URLSessionAuthChallengeDisposition : int {
    // Go on with the credential given (none: as PerformDefaultHandling).
    UseCredential = 0,
    // No credential: a 401 is delivered as the answer, an untrusted server fails the task with
    // kURLErrorServerCertificateUntrusted.
    PerformDefaultHandling = 1,
    // The task ends with kURLErrorCancelled.
    CancelAuthenticationChallenge = 2,
    // As PerformDefaultHandling: there is no other protection space to try.
    RejectProtectionSpace = 3,
};

using URLSessionChallengeCompletion =
        std::function<void(URLSessionAuthChallengeDisposition, std::optional<URLCredential>)>;

}  // namespace pelmar::net
