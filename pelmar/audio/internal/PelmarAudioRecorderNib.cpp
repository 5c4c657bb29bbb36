#include "pelmar/audio/internal/PelmarAudioRecorderNib.h"

#include <initializer_list>
#include <memory>
#include <mutex>

#include "pelmar/audio/AudioVisualizationView.h"
#include "pelmar/audio/PelmarAudioRecorder.h"
#include "pelmar/audio/internal/AudioScreenParts.h"
#include "pelmar/platform/ui/Button.h"
#include "pelmar/platform/ui/Label.h"
#include "pelmar/platform/ui/Nib.h"
#include "pelmar/platform/ui/Slider.h"

namespace pelmar::audio::internal {

namespace {

// Top to bottom: the close button, the status, the elapsed time, the waveform, the slider with
// the duration, and the row of controls: record again, the main button, pause/resume, send.
std::shared_ptr<ui::View> build(ui::ViewController& owner) {
    auto& recorder = dynamic_cast<PelmarAudioRecorder&>(owner);
    std::weak_ptr<PelmarAudioRecorder> weak =
            std::static_pointer_cast<PelmarAudioRecorder>(recorder.shared_from_this());
    auto root = std::make_shared<ui::View>(ui::Rect{0, 0, 390, 844});
    root->layer()->setBackgroundColor(ui::Color::white());

    auto close = std::make_shared<ui::Button>(ui::Rect{16, 56, 44, 44});
    close->setTitle("Close");
    close->setTitleColor(ui::Color{0.3, 0.3, 0.3, 1}, ui::ControlState::Normal);
    close->setTitleFont(ui::Font::systemFont(12, ui::FontWeight::Medium));
    close->layer()->setBorderColor(ui::Color{0.3, 0.3, 0.3, 1});
    close->layer()->setBorderWidth(2);
    close->layer()->setCornerRadius(22);
    close->addTarget(ui::ControlEvent::TouchUpInside,
                     weakAction(weak, &PelmarAudioRecorder::onClose));

    // The status and the time stand centred over the centred main button.
    auto status = std::make_shared<ui::Label>(ui::Rect{95, 180, 200, 30});
    status->setTextAlignment(ui::TextAlignment::Center);
    auto time = std::make_shared<ui::Label>(ui::Rect{115, 220, 160, 50});
    time->setTextAlignment(ui::TextAlignment::Center);
    auto waveform = std::make_shared<AudioVisualizationView>(ui::Rect{20, 320, 350, 160});
    auto slider = std::make_shared<ui::Slider>(ui::Rect{20, 520, 260, 30});
    slider->addTarget(ui::ControlEvent::ValueChanged,
                      weakAction(weak, &PelmarAudioRecorder::timeChanged));
    auto duration = std::make_shared<ui::Label>(ui::Rect{290, 520, 80, 30});

    const ui::Color grey{0.88, 0.88, 0.88, 1};
    auto reload = makeControlArea({30, 690, 60, 60}, grey,
                                  weakAction(weak, &PelmarAudioRecorder::onRerecord));
    auto record = makeControlArea({155, 675, 80, 80}, ui::Color{0.9, 0.15, 0.15, 1},
                                  weakAction(weak, &PelmarAudioRecorder::onRecord));
    auto resume = makeControlArea({250, 690, 60, 60}, grey,
                                  weakAction(weak, &PelmarAudioRecorder::onPauseOrResume));
    auto upload = makeControlArea({315, 690, 60, 60}, ui::Color{0.2, 0.5, 0.9, 1},
                                  weakAction(weak, &PelmarAudioRecorder::onUpload));
    reload.image->setImage(PelmarAudioRecorder::getImageFromResource("audio-rerecord-black"));
    upload.image->setImage(PelmarAudioRecorder::getImageFromResource("audio-upload-black"));

    for (const auto& view : std::initializer_list<std::shared_ptr<ui::View>>{
                 close, status, time, waveform, slider, duration, reload.container,
                 record.container, resume.container, upload.container}) {
        root->addSubview(view);
    }

    recorder.statusLabel = status;
    recorder.timeLabel = time;
    recorder.audioVisualizationView = waveform;
    recorder.timeSlider = slider;
    recorder.durationLabel = duration;
    recorder.reloadContainerView = reload.container;
    recorder.reloadImageView = reload.image;
    recorder.resumeContainerView = resume.container;
    recorder.resumeImageview = resume.image;
    recorder.recordContainerView = record.container;
    recorder.recordImageView = record.image;
    recorder.uploadContainerView = upload.container;
    recorder.uploadImageView = upload.image;
    return root;
}

template <typename V>
ui::Nib::Outlet<ui::ViewController> outlet(const char* name,
                                           std::weak_ptr<V> PelmarAudioRecorder::*member) {
    return {name, [member](const ui::ViewController& owner) {
                return !(dynamic_cast<const PelmarAudioRecorder&>(owner).*member).expired();
            }};
}

}  // namespace

void registerPelmarAudioRecorderNib() {
    static std::once_flag once;
    std::call_once(once, [] {
        ui::Nib::registerBuilder<ui::ViewController>(
                "PelmarAudioRecorder", build,
                {outlet("statusLabel", &PelmarAudioRecorder::statusLabel),
                 outlet("timeLabel", &PelmarAudioRecorder::timeLabel),
                 outlet("audioVisualizationView", &PelmarAudioRecorder::audioVisualizationView),
                 outlet("timeSlider", &PelmarAudioRecorder::timeSlider),
                 outlet("durationLabel", &PelmarAudioRecorder::durationLabel),
                 outlet("reloadContainerView", &PelmarAudioRecorder::reloadContainerView),
                 outlet("reloadImageView", &PelmarAudioRecorder::reloadImageView),
                 outlet("resumeContainerView", &PelmarAudioRecorder::resumeContainerView),
                 outlet("resumeImageview", &PelmarAudioRecorder::resumeImageview),
                 outlet("recordContainerView", &PelmarAudioRecorder::recordContainerView),
                 outlet("recordImageView", &PelmarAudioRecorder::recordImageView),
                 outlet("uploadContainerView", &PelmarAudioRecorder::uploadContainerView),
                 outlet("uploadImageView", &PelmarAudioRecorder::uploadImageView)});
    });
}

}  // namespace pelmar::audio::internal
