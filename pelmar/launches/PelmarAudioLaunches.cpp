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
    AudioURLs urls;
    urls.urls.reserve(tokens.size());
    for (const auto& token : tokens) {
        urls.urls.push_back(audios_->getAudioUrl(token));
    }
    startAudioPlayer(std::move(urls));
}

void Pelmar::startAudioPlayer(AudioURLs urls) {
    if (urls.urls.empty()) {
        return;
    }
    auto screen = PelmarAudioPlayer::create(shared_from_this(), urls.urls);
    screen->setModalPresentationStyle(ui::ModalPresentationStyle::FullScreen);
    if (auto parent = getParentViewController()) {
        parent->present(screen, true);
    }
}

}  // namespace pelmar
