#include "pelmar/platform/replaykit/SystemBroadcastPickerView.h"

#include "pelmar/platform/foundation/NotificationCenter.h"

namespace pelmar::replaykit {

std::shared_ptr<SystemBroadcastPickerView> SystemBroadcastPickerView::make(ui::Rect frame) {
    auto picker = std::make_shared<SystemBroadcastPickerView>(frame);
    auto button = std::make_shared<ui::Button>(ui::Rect{0, 0, frame.width, frame.height});
    std::weak_ptr<SystemBroadcastPickerView> weak = picker;
    button->addTarget(ui::ControlEvent::TouchUpInside, [weak] {
        if (auto self = weak.lock()) {
            self->showBroadcastSheet();
        }
    });
    picker->addSubview(button);
    return picker;
}

void SystemBroadcastPickerView::showBroadcastSheet() {
    Json info = Json::object();
    info["preferredExtension"] = preferredExtension_ ? Json(*preferredExtension_) : Json(nullptr);
    foundation::NotificationCenter::defaultCenter().post(kBroadcastSheetNotification,
                                                         std::move(info));
}

}  // namespace pelmar::replaykit
