#include <memory>
#include <string>
#include <vector>

#include "pelmar/audio/PelmarAudioRecorder.h"
#include "pelmar/core/Pelmar.h"
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

}  // namespace pelmar
