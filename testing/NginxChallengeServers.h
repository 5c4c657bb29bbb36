#pragma once

#include <memory>
#include <string>

#include "testing/NginxHttpServer.h"

// NginxChallengeServers: the two servers that challenge their clients, for tests of
// authentication: `basic` serves its files under "/private/" only to kUser with kPassword (realm
// kRealm), `tls` serves them over HTTPS with a self-signed certificate. Both serve "/a.jpg".
// Ownership: owns both servers.
// Threads: thread-compatible.
// Errors: Start returns the reason when a server does not come up (empty on success).

namespace pelmar::test {

struct NginxChallengeServers {
    static constexpr const char* kRealm = "Pictures";
    static constexpr const char* kUser = "ann";
    static constexpr const char* kPassword = "s3cret";

    // Starts both with `picture` as "a.jpg".
    std::string Start(const std::string& picture);

    std::unique_ptr<NginxHttpServer> basic;
    std::unique_ptr<NginxHttpServer> tls;
};

}  // namespace pelmar::test
