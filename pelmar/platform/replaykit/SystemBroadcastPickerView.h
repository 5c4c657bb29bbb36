#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "pelmar/platform/ui/Button.h"
#include "pelmar/platform/ui/Color.h"
#include "pelmar/platform/ui/View.h"

namespace pelmar::replaykit {

// SystemBroadcastPickerView: the system's button that opens the broadcast sheet, where the user
// picks a broadcast extension (the preferred one preselected) and starts recording the screen.
// The sheet belongs to the system: opening it posts kBroadcastSheetNotification on the default
// notification centre with userInfo {"preferredExtension": the identifier, or null}.
// Ownership: reference object made with make(); owns its button.
// Threads: main thread only.
// Errors: none.
class SystemBroadcastPickerView : public ui::View {
public:
    static constexpr std::string_view kBroadcastSheetNotification =
            "SystemBroadcastPickerViewShowsBroadcastSheet";

    // A picker filling `frame`, with its button as its one subview.
    static std::shared_ptr<SystemBroadcastPickerView> make(ui::Rect frame);

    explicit SystemBroadcastPickerView(ui::Rect frame) : ui::View(frame) {}

    const std::optional<std::string>& preferredExtension() const { return preferredExtension_; }

    void setPreferredExtension(std::optional<std::string> identifier) {
        preferredExtension_ = std::move(identifier);
    }

    bool showsMicrophoneButton() const { return showsMicrophoneButton_; }

    void setShowsMicrophoneButton(bool shows) { showsMicrophoneButton_ = shows; }

    // Whether layout takes the frame as it is (true) or leaves it to constraints (false).
    bool translatesAutoresizingMaskIntoConstraints() const { return translatesMask_; }

    void setTranslatesAutoresizingMaskIntoConstraints(bool translates) {
        translatesMask_ = translates;
    }

    // The button's image tint (the system's own when none is set).
    std::optional<ui::Color> buttonImageTintColor() const { return tint_; }

    void setButtonImageTintColor(std::optional<ui::Color> tint) { tint_ = tint; }

protected:
    std::string className() const override { return "SystemBroadcastPickerView"; }

private:
    void showBroadcastSheet();

    std::optional<std::string> preferredExtension_;
    bool showsMicrophoneButton_ = true;
    bool translatesMask_ = true;
    std::optional<ui::Color> tint_;
};

}  // namespace pelmar::replaykit
