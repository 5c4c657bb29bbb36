// Creates the facade from an installed SDK and checks the region switch.
#include <cstdio>
#include <memory>

#include "pelmar/core/Pelmar.h"

int main() {
    auto defaults = std::make_shared<pelmar::Pelmar>("app");
    auto second = std::make_shared<pelmar::Pelmar>("r1app");
    if (defaults->config().serverAPIUrl() == second->config().serverAPIUrl()) {
        std::puts("region switch missing");
        return 1;
    }
    std::printf("consumer ok: %s\n", second->config().serverAPIUrl().c_str());
    return 0;
}
