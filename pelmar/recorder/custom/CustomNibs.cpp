#include "pelmar/recorder/custom/CustomNibs.h"

#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include "pelmar/platform/ui/Button.h"
#include "pelmar/platform/ui/Image.h"
#include "pelmar/platform/ui/Label.h"
#include "pelmar/platform/ui/Nib.h"
#include "pelmar/recorder/CapturePreviewView.h"
#include "pelmar/recorder/custom/CustomVideoPlayer.h"
#include "pelmar/recorder/custom/CustomVideoRecorder.h"

namespace pelmar::recorder::internal {

namespace {

// A screen's root view: some views fill it, a bar of controls stays along its bottom and keeps
// its controls centred, in either orientation.
class BarScreenView : public ui::View {
public:
    using ui::View::View;

    std::vector<std::shared_ptr<ui::View>> fill;
    std::shared_ptr<ui::View> bar;
    // Controls whose place follows the middle of the bar, with their offset from it.
    std::vector<std::pair<std::shared_ptr<ui::View>, double>> middleOfBar;

    void layoutSubviews() override {
        const ui::Rect b = bounds();
        for (const auto& v : fill) {
            v->setFrame(ui::Rect::of({}, b.size()));
        }
        if (bar) {
            const double height = bar->frame().height;
            bar->setFrame({0, b.height - height, b.width, height});
        }
        for (const auto& [v, offset] : middleOfBar) {
            const ui::Rect f = v->frame();
            v->setFrame({b.width / 2 + offset, f.y, f.width, f.height});
        }
    }

protected:
    std::string className() const override { return "BarScreenView"; }
};

std::shared_ptr<ui::Button> roundButton(ui::Rect frame, ui::Color colour) {
    auto button = std::make_shared<ui::Button>(frame);
    button->layer()->setBackgroundColor(colour);
    button->layer()->setCornerRadius(frame.width / 2);
    return button;
}

// A round mark on the recorder's light bar: a grey ring around its picture.
std::shared_ptr<ui::Button> markButton(ui::Rect frame, std::shared_ptr<const ui::Image> picture) {
    auto button = std::make_shared<ui::Button>(frame);
    button->layer()->setBorderColor(ui::Color{0.3, 0.3, 0.3, 1});
    button->layer()->setBorderWidth(2);
    button->layer()->setCornerRadius(frame.width / 2);
    button->setImage(std::move(picture), ui::ControlState::Normal);
    return button;
}

// A pill with a white title, for the preview's ways out.
std::shared_ptr<ui::Button> titledButton(ui::Rect frame, const char* title, ui::Color colour) {
    auto button = std::make_shared<ui::Button>(frame);
    button->layer()->setBackgroundColor(colour);
    button->layer()->setCornerRadius(frame.height / 2);
    button->setTitle(title);
    button->setTitleColor(ui::Color::white(), ui::ControlState::Normal);
    button->setTitleFont(ui::Font::systemFont(15, ui::FontWeight::Semibold));
    return button;
}

template <class Owner>
std::function<void()> action(const std::weak_ptr<Owner>& weak, void (Owner::*method)()) {
    return [weak, method] {
        if (auto self = weak.lock()) {
            ((*self).*method)();
        }
    };
}

std::shared_ptr<ui::View> buildRecorder(CustomVideoRecorder& recorder) {
    std::weak_ptr<CustomVideoRecorder> weak =
            std::static_pointer_cast<CustomVideoRecorder>(recorder.shared_from_this());
    auto root = std::make_shared<BarScreenView>(ui::Rect{0, 0, 390, 844});
    auto preview = std::make_shared<CapturePreviewView>(ui::Rect{0, 0, 390, 844});
    preview->layer()->setBackgroundColor(ui::Color::black());

    auto controls = std::make_shared<ui::View>(ui::Rect{0, 700, 390, 144});
    controls->layer()->setBackgroundColor(ui::Color{1, 1, 1, 0.85});
    auto duration = std::make_shared<ui::Label>(ui::Rect{155, 4, 80, 24});
    duration->setText("00:00");
    duration->setFont(ui::Font::systemFont(17, ui::FontWeight::Medium));
    duration->setTextColor(ui::Color{0.15, 0.15, 0.15, 1});
    duration->setTextAlignment(ui::TextAlignment::Center);
    // The record button's pictures are the screen's to set as its view loads.
    auto record = roundButton({160, 40, 70, 70}, ui::Color{0.9, 0.1, 0.1, 1});
    auto camera = markButton({320, 52, 44, 44}, ui::Image::named("recorder-camera-switch"));
    auto close = markButton({26, 52, 44, 44}, ui::Image::named("recorder-close"));
    for (const auto& view : {std::shared_ptr<ui::View>(duration), std::shared_ptr<ui::View>(record),
                             std::shared_ptr<ui::View>(camera), std::shared_ptr<ui::View>(close)}) {
        controls->addSubview(view);
    }
    root->addSubview(preview);
    root->addSubview(controls);
    root->fill = {preview};
    root->bar = controls;
    root->middleOfBar = {{duration, -40}, {record, -35}, {camera, 125}};

    recorder.controlView = controls;
    recorder.previewView = preview;
    recorder.recordingDurationLabel = duration;
    recorder.recordButton = record;
    recorder.cameraButton = camera;
    recorder.closeButton = close;
    record->addTarget(ui::ControlEvent::TouchUpInside,
                      action(weak, &CustomVideoRecorder::toggleMovieRecording));
    camera->addTarget(ui::ControlEvent::TouchUpInside,
                      action(weak, &CustomVideoRecorder::changeCamera));
    close->addTarget(ui::ControlEvent::TouchUpInside,
                     action(weak, &CustomVideoRecorder::onCloseButtonTap));
    return root;
}

std::shared_ptr<ui::View> buildPlayer(CustomVideoPlayer& player) {
    std::weak_ptr<CustomVideoPlayer> weak =
            std::static_pointer_cast<CustomVideoPlayer>(player.shared_from_this());
    auto root = std::make_shared<BarScreenView>(ui::Rect{0, 0, 390, 844});
    root->layer()->setBackgroundColor(ui::Color::black());
    auto placeholder = std::make_shared<ui::View>(ui::Rect{0, 0, 390, 844});
    auto bar = std::make_shared<ui::View>(ui::Rect{0, 724, 390, 120});
    bar->layer()->setBackgroundColor(ui::Color{0, 0, 0, 0.4});
    auto remove = titledButton({15, 40, 96, 40}, "Retake", ui::Color{0.9, 0.3, 0.2, 1});
    auto play = roundButton({160, 30, 60, 60}, ui::Color{0.2, 0.2, 0.2, 0.8});
    auto upload = titledButton({279, 40, 96, 40}, "Upload", ui::Color{0.2, 0.6, 0.9, 1});
    auto close = titledButton({16, 50, 80, 36}, "Close", ui::Color{0.2, 0.2, 0.2, 0.8});
    play->setImage(CustomVideoPlayer::getImageFromResource("ic_play"), ui::ControlState::Normal);
    for (const auto& button : {remove, play, upload}) {
        bar->addSubview(button);
    }
    root->addSubview(placeholder);
    root->addSubview(bar);
    root->addSubview(close);
    root->fill = {placeholder};
    root->bar = bar;
    root->middleOfBar = {{remove, -180}, {play, -30}, {upload, 84}};

    player.deleteButton = remove;
    player.uploadButton = upload;
    player.playPauseButton = play;
    player.videoPlaceholder = placeholder;
    remove->addTarget(ui::ControlEvent::TouchUpInside, action(weak, &CustomVideoPlayer::retake));
    play->addTarget(ui::ControlEvent::TouchUpInside, action(weak, &CustomVideoPlayer::play));
    upload->addTarget(ui::ControlEvent::TouchUpInside, action(weak, &CustomVideoPlayer::upload));
    close->addTarget(ui::ControlEvent::TouchUpInside, action(weak, &CustomVideoPlayer::close));
    return root;
}

}  // namespace

void registerCustomNibs() {
    static std::once_flag once;
    std::call_once(once, [] {
        // Screens load their interface files as view controllers.
        using Outlet = ui::Nib::Outlet<ui::ViewController>;
        ui::Nib::registerBuilder<ui::ViewController>(
                "CustomVideoRecorder",
                [](ui::ViewController& owner) {
                    return buildRecorder(dynamic_cast<CustomVideoRecorder&>(owner));
                },
                std::vector<Outlet>{{"controlView",
                                     [](const ui::ViewController& o) {
                                         return !dynamic_cast<const CustomVideoRecorder&>(o)
                                                         .controlView.expired();
                                     }},
                                    {"recordButton", [](const ui::ViewController& o) {
                                         return !dynamic_cast<const CustomVideoRecorder&>(o)
                                                         .recordButton.expired();
                                     }}});
        ui::Nib::registerBuilder<ui::ViewController>(
                "CustomVideoPlayer",
                [](ui::ViewController& owner) {
                    return buildPlayer(dynamic_cast<CustomVideoPlayer&>(owner));
                },
                std::vector<Outlet>{{"playPauseButton", [](const ui::ViewController& o) {
                                         return !dynamic_cast<const CustomVideoPlayer&>(o)
                                                         .playPauseButton.expired();
                                     }}});
    });
}

}  // namespace pelmar::recorder::internal
