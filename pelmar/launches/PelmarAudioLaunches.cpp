#include <memory>
#include <string>
#include <vector>

#include "pelmar/audio/PelmarAudioPlayer.h"
#include "pelmar/audio/PelmarAudioRecorder.h"
#include "pelmar/core/Pelmar.h"
#include "pelmar/core/PelmarAudios.h"
#include "pelmar/platform/ui/ModalPresentationStyle.h"
#include "pelmar/platform/ui/ViewController.h"

namespace pelmar {

void Pelmar::startAudioRecorder() {
    auto screen = PelmarAudioRecorder::create(shared_from_this());
    screen->setModalPresentationStyle(ui::ModalPresentationStyle::FullScreen);
    if (auto parent = getParentViewController()) {
        parent->present(screen, true);
    }
}

void Pelmar::startAudioPlayer(const std::vector<std::string>& tokens) {
    if (tokens.empty() || !audios_) {
        return;
    }
    std::vector<std::string> urls;
    urls.reserve(tokens.size());
    for (const auto& token : tokens) {
        urls.push_back(audios_->getAudioUrl(token));
    }
    startAudioPlayerFromUrls(urls);
}

void Pelmar::startAudioPlayerFromUrls(const std::vector<std::string>& urls) {
    if (urls.empty()) {
        return;
    }
    auto screen = PelmarAudioPlayer::create(shared_from_this(), urls);
    screen->setModalPresentationStyle(ui::ModalPresentationStyle::FullScreen);
    if (auto parent = getParentViewController()) {
        parent->present(screen, true);
    }
}

}  // namespace pelmar
