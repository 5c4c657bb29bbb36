// Creates the facade from an installed SDK and checks the region switch, and encodes a picture
// from the H.264 encoder's pool.
#include <cstdio>
#include <memory>

#include "LiveEncoderCheck.h"
#include "pelmar/core/Pelmar.h"

int main() {
    auto defaults = std::make_shared<pelmar::Pelmar>("app");
    auto second = std::make_shared<pelmar::Pelmar>("r1app");
    if (defaults->config().serverAPIUrl() == second->config().serverAPIUrl()) {
        std::puts("region switch missing");
        return 1;
    }
    if (const auto failure = consumer::checkLiveEncoder(); !failure.empty()) {
        std::printf("live encoder: %s\n", failure.c_str());
        return 1;
    }
    std::printf("consumer ok: %s\n", second->config().serverAPIUrl().c_str());
    return 0;
}
