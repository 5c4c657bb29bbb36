#include "pelmar/recorder/internal/PelmarRecorderNib.h"

#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "pelmar/platform/ui/Button.h"
#include "pelmar/platform/ui/Image.h"
#include "pelmar/platform/ui/ImageView.h"
#include "pelmar/platform/ui/Label.h"
#include "pelmar/platform/ui/Nib.h"
#include "pelmar/platform/ui/Switch.h"
#include "pelmar/platform/ui/TapGestureRecognizer.h"
#include "pelmar/recorder/CapturePreviewView.h"
#include "pelmar/recorder/PelmarRecorder.h"

namespace pelmar::recorder::internal {

namespace {

// The screen's root view: the pictures fill it, the labels stay in its middle, the meters at its
// top left and the controls along its bottom, in either orientation.
class RecorderScreenView : public ui::View {
public:
    using ui::View::View;

    std::vector<std::shared_ptr<ui::View>> fill;
    std::vector<std::shared_ptr<ui::View>> centered;
    std::shared_ptr<ui::View> controls;
    // Controls whose place follows the middle of the bar, with their offset from it.
    std::vector<std::pair<std::shared_ptr<ui::View>, double>> middleOfBar;

    void layoutSubviews() override {
        const ui::Rect b = bounds();
        for (const auto& v : fill) {
            v->setFrame(ui::Rect::of({}, b.size()));
        }
        for (const auto& v : centered) {
            const ui::Rect f = v->frame();
            v->setFrame({(b.width - f.width) / 2, (b.height - f.height) / 2, f.width, f.height});
        }
        if (controls) {
            const double height = controls->frame().height;
            controls->setFrame({0, b.height - height, b.width, height});
        }
        for (const auto& [v, offset] : middleOfBar) {
            const ui::Rect f = v->frame();
            v->setFrame({b.width / 2 + offset, f.y, f.width, f.height});
        }
    }

protected:
    std::string className() const override { return "RecorderScreenView"; }
};

std::shared_ptr<ui::View> build(ui::ViewController& owner) {
    auto& recorder = dynamic_cast<PelmarRecorder&>(owner);
    std::weak_ptr<PelmarRecorder> weak =
            std::static_pointer_cast<PelmarRecorder>(recorder.shared_from_this());
    auto root = std::make_shared<RecorderScreenView>(ui::Rect{0, 0, 390, 844});

    auto preview = std::make_shared<CapturePreviewView>(ui::Rect{0, 0, 390, 844});
    auto blurring = std::make_shared<ui::ImageView>(ui::Rect{0, 0, 390, 844});
    auto faces = std::make_shared<FaceOutlineView>(ui::Rect{0, 0, 390, 844});
    faces->setUserInteractionEnabled(false);
    auto unavailable = std::make_shared<ui::Label>(ui::Rect{95, 400, 200, 44});
    unavailable->setText("Camera Unavailable");
    unavailable->setHidden(true);
    unavailable->setTextColor(ui::Color::white());
    unavailable->setTextAlignment(ui::TextAlignment::Center);
    auto startDelay = std::make_shared<ui::Label>(ui::Rect{145, 372, 100, 100});
    startDelay->setHidden(true);
    startDelay->setFont(ui::Font::boldSystemFont(72));
    startDelay->setTextColor(ui::Color::white());
    startDelay->setTextAlignment(ui::TextAlignment::Center);
    auto lux = LuxMeterView::create(ui::Rect{16, 60, 32, 32});
    auto level = AudioLevelView::create(ui::Rect{56, 72, 120, 8});

    auto controls = std::make_shared<ui::View>(ui::Rect{0, 700, 390, 144});
    auto duration = std::make_shared<ui::Label>(ui::Rect{155, 0, 80, 24});
    duration->setText("00:00");
    duration->setFont(ui::Font::systemFont(17, ui::FontWeight::Medium));
    duration->setTextColor(ui::Color{0.15, 0.15, 0.15, 1});
    duration->setTextAlignment(ui::TextAlignment::Center);
    auto record = std::make_shared<ui::Button>(ui::Rect{160, 40, 70, 70});
    auto pause = std::make_shared<ui::Button>(ui::Rect{260, 52, 44, 44});
    auto camera = std::make_shared<ui::Button>(ui::Rect{320, 52, 44, 44});
    auto close = std::make_shared<ui::Button>(ui::Rect{26, 52, 44, 44});
    auto blurSwitch = std::make_shared<ui::Switch>(ui::Rect{80, 58, 51, 31});
    for (const auto& view : std::initializer_list<std::shared_ptr<ui::View>>{
                 duration, record, pause, camera, close, blurSwitch}) {
        controls->addSubview(view);
    }
    for (const auto& view : std::initializer_list<std::shared_ptr<ui::View>>{
                 preview, blurring, faces, unavailable, startDelay, lux, level, controls}) {
        root->addSubview(view);
    }
    // The camera's picture sits on black; the controls are round marks on a light bar.
    preview->layer()->setBackgroundColor(ui::Color::black());
    controls->layer()->setBackgroundColor(ui::Color{1, 1, 1, 0.85});
    record->layer()->setBackgroundColor(ui::Color{0.9, 0.1, 0.1, 1});
    record->layer()->setCornerRadius(35);
    for (const auto& button : {pause, camera, close}) {
        button->layer()->setBorderColor(ui::Color{0.3, 0.3, 0.3, 1});
        button->layer()->setBorderWidth(2);
        button->layer()->setCornerRadius(22);
    }
    // Each state of a control shows its own mark: record and stop, pause and resume.
    record->setImage(ui::Image::named("recorder-record"), ui::ControlState::Normal);
    record->setImage(ui::Image::named("recorder-stop"), ui::ControlState::Selected);
    pause->setImage(ui::Image::named("recorder-pause"), ui::ControlState::Normal);
    pause->setImage(ui::Image::named("recorder-resume"), ui::ControlState::Selected);
    camera->setImage(ui::Image::named("recorder-camera-switch"), ui::ControlState::Normal);
    close->setImage(ui::Image::named("recorder-close"), ui::ControlState::Normal);
    blurSwitch->layer()->setBackgroundColor(ui::Color{0.6, 0.6, 0.6, 1});
    blurSwitch->layer()->setCornerRadius(15.5);

    root->fill = {preview, blurring, faces};
    root->centered = {unavailable, startDelay};
    root->controls = controls;
    root->middleOfBar = {{duration, -40}, {record, -35}, {pause, 65}, {camera, 125}};

    recorder.previewView = preview;
    recorder.blurringPreviewView = blurring;
    recorder.faceOutlineView = faces;
    recorder.cameraUnavailableLabel = unavailable;
    recorder.startDelayLabel = startDelay;
    recorder.luxMeterView = lux;
    recorder.audioLevelView = level;
    recorder.controlsView = controls;
    recorder.recordingDurationLabel = duration;
    recorder.recordButton = record;
    recorder.pauseButton = pause;
    recorder.cameraButton = camera;
    recorder.closeButton = close;
    recorder.blurringSwitch = blurSwitch;

    auto action = [weak](void (PelmarRecorder::*method)()) {
        return [weak, method] {
            if (auto self = weak.lock()) {
                ((*self).*method)();
            }
        };
    };
    record->addTarget(ui::ControlEvent::TouchUpInside,
                      action(&PelmarRecorder::toggleMovieRecording));
    pause->addTarget(ui::ControlEvent::TouchUpInside, action(&PelmarRecorder::toggleMoviePaused));
    camera->addTarget(ui::ControlEvent::TouchUpInside, action(&PelmarRecorder::changeCamera));
    close->addTarget(ui::ControlEvent::TouchUpInside, action(&PelmarRecorder::onCloseButtonTap));
    preview->addGestureRecognizer(
            std::make_shared<ui::TapGestureRecognizer>([weak](ui::TapGestureRecognizer& tap) {
                auto self = weak.lock();
                auto view = tap.view();
                if (self && view) {
                    self->focusAndExposeTap(tap.location(view.get()));
                }
            }));
    blurSwitch->addTarget(ui::ControlEvent::ValueChanged,
                          action(&PelmarRecorder::onChangeBlurMode));
    return root;
}

}  // namespace

void registerPelmarRecorderNib() {
    static std::once_flag once;
    std::call_once(once, [] { ui::Nib::registerBuilder("PelmarRecorder", build); });
}

}  // namespace pelmar::recorder::internal
