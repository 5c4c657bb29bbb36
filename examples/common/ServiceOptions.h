#pragma once

// ServiceOptions: the hosting service an example talks to, from its command line. pelmar-service
// prints the four base URLs on start ("api URL", "cdn-api URL", "dev-api URL", "file-server
// URL"); give them as --api URL --cdn-api URL --dev-api URL --file-server URL.

#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

#include "pelmar/core/Pelmar.h"
#include "pelmar/core/PelmarConfig.h"

namespace example {

struct ServiceOptions {
    std::string api, cdnApi, devApi, fileServer;

    // The options from argv, or nothing (with a message on stderr) when one is missing.
    static std::optional<ServiceOptions> parse(int argc, char** argv) {
        ServiceOptions options;
        for (int i = 1; i + 1 < argc; i += 2) {
            const std::string_view flag = argv[i];
            std::string* value = flag == "--api"           ? &options.api
                                 : flag == "--cdn-api"     ? &options.cdnApi
                                 : flag == "--dev-api"     ? &options.devApi
                                 : flag == "--file-server" ? &options.fileServer
                                                           : nullptr;
            if (value == nullptr) {
                break;
            }
            *value = argv[i + 1];
        }
        if (options.api.empty() || options.cdnApi.empty() || options.devApi.empty()
            || options.fileServer.empty()) {
            std::fprintf(stderr,
                         "usage: %s --api URL --cdn-api URL --dev-api URL --file-server URL\n"
                         "(the base URLs pelmar-service prints when it starts)\n",
                         argv[0]);
            return std::nullopt;
        }
        return options;
    }

    // Points the facade's service base URLs at this service.
    void apply(pelmar::Pelmar& sdk) const {
        auto& config = sdk.config();
        config.setServerAPIUrl(api);
        config.setCdnAPIUrl(cdnApi);
        config.setDevServerApiUrl(devApi);
        config.setFileServerUrl(fileServer);
    }
};

}  // namespace example
