#include "testing/NginxChallengeServers.h"

#include <exception>
#include <fstream>

namespace pelmar::test {

std::string NginxChallengeServers::Start(const std::string& picture) {
    try {
        basic = std::make_unique<NginxHttpServer>();
        basic->RequireBasicAuth(kRealm, kUser, kPassword);
        basic->Start();
        tls = std::make_unique<NginxHttpServer>();
        tls->UseTLS();
        tls->Start();
        for (auto* server : {basic.get(), tls.get()}) {
            std::ofstream(server->root() / "a.jpg", std::ios::binary) << picture;
        }
    } catch (const std::exception& e) {
        return e.what();
    }
    return {};
}

}  // namespace pelmar::test
