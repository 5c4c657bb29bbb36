#pragma once

#include <functional>
#include <memory>

#include "pelmar/platform/ui/Button.h"
#include "pelmar/platform/ui/Color.h"
#include "pelmar/platform/ui/ImageView.h"
#include "pelmar/platform/ui/Rect.h"
#include "pelmar/platform/ui/View.h"

// Pieces shared by the audio screens' interface files.
// Threads: main thread only.
namespace pelmar::audio::internal {

// A round control area: an image in the middle and, over the whole area, a button that sends
// `action` on a tap.
struct ControlArea {
    std::shared_ptr<ui::View> container;
    std::shared_ptr<ui::ImageView> image;
    std::shared_ptr<ui::Button> button;
};

ControlArea makeControlArea(ui::Rect frame, ui::Color colour, std::function<void()> action);

// An action that calls `method` on the owner while it exists.
template <typename Owner>
std::function<void()> weakAction(const std::weak_ptr<Owner>& owner, void (Owner::*method)()) {
    return [owner, method] {
        if (auto self = owner.lock()) {
            ((*self).*method)();
        }
    };
}

}  // namespace pelmar::audio::internal
