// Creates the facade from an installed SDK, checks the region switch, encodes a picture from the
// H.264 encoder's pool, and loads a named picture from the installed resource folder (wherever
// the prefix lies now).
#include <cstdio>
#include <memory>

#include "LiveEncoderCheck.h"
#include "pelmar/core/Pelmar.h"
#include "pelmar/platform/ui/Image.h"
#include "pelmar/platform/ui/Resources.h"

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
    const auto picture = pelmar::ui::Image::named("play-white");
    if (!picture || !picture->bitmap()) {
        std::printf("no picture \"play-white\" in %s\n",
                    pelmar::ui::Resources::installed().folder().c_str());
        return 1;
    }
    std::printf("consumer ok: %s, pictures from %s\n", second->config().serverAPIUrl().c_str(),
                pelmar::ui::Resources::installed().folder().c_str());
    return 0;
}
