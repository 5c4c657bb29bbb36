#include "pelmar/qr/internal/PelmarQRCodeReaderNib.h"

#include <memory>
#include <mutex>

#include "pelmar/platform/ui/Button.h"
#include "pelmar/platform/ui/Nib.h"
#include "pelmar/qr/PelmarQRCodeReaderViewController.h"

namespace pelmar::qr::internal {

namespace {

// Everything but the buttons fills the screen (the preview area, and the camera picture the
// screen puts below it); the back button sits at the top left, below the status bar.
class ScannerScreenView : public ui::View {
public:
    using ui::View::View;

    void layoutSubviews() override {
        for (const auto& v : subviews()) {
            if (!std::dynamic_pointer_cast<ui::Button>(v)) {
                v->setFrame(ui::Rect::of({}, bounds().size()));
            }
        }
    }

protected:
    std::string className() const override { return "ScannerScreenView"; }
};

std::shared_ptr<ui::View> build(ui::ViewController& controller) {
    auto& owner = dynamic_cast<PelmarQRCodeReaderViewController&>(controller);
    auto root = std::make_shared<ScannerScreenView>(ui::Rect{0, 0, 390, 844});
    auto preview = std::make_shared<ui::View>(ui::Rect{0, 0, 390, 844});
    preview->setUserInteractionEnabled(false);
    root->addSubview(preview);
    auto back = std::make_shared<ui::Button>(ui::Rect{16, 56, 72, 44});
    back->setTitle("Back");
    back->setTitleColor(ui::Color::white(), ui::ControlState::Normal);
    back->setTitleFont(ui::Font::systemFont(17, ui::FontWeight::Semibold));
    // The camera's picture behind it may be as light as its title (a code's white margin): a
    // dark pill keeps the title readable over any picture.
    back->layer()->setBackgroundColor(ui::Color{0, 0, 0, 0.55});
    back->layer()->setCornerRadius(22);
    std::weak_ptr<PelmarQRCodeReaderViewController> weak =
            std::static_pointer_cast<PelmarQRCodeReaderViewController>(owner.shared_from_this());
    back->addTarget(ui::ControlEvent::TouchUpInside, [weak] {
        if (auto self = weak.lock()) {
            self->onBack();
        }
    });
    root->addSubview(back);
    owner.preview = preview;
    owner.backButton = back;
    return root;
}

}  // namespace

void registerPelmarQRCodeReaderNib() {
    static std::once_flag once;
    std::call_once(once, [] {
        ui::Nib::registerBuilder(PelmarQRCodeReaderViewController::kNibName, build);
    });
}

}  // namespace pelmar::qr::internal
