// record-then-upload: opens the SDK's camera recorder, records two seconds with the synthetic
// camera and microphone, and uploads the recording from the recorder's preview screen, as a user
// would: a tap on the record button, the limit stops it, a tap on "Upload".
//
//   pelmar-service &           # prints: api URL, cdn-api URL, dev-api URL, file-server URL
//   record-then-upload --api URL --cdn-api URL --dev-api URL --file-server URL
//
// Exits 0 once the service has the video, 1 when a step does not happen.
#include <atomic>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>

#include "ServiceOptions.h"
#include "pelmar/core/Pelmar.h"
#include "pelmar/core/PelmarUploadingDelegate.h"
#include "pelmar/host/ScreenHost.h"
#include "pelmar/platform/ui/Button.h"
#include "pelmar/recorder/PelmarRecordedVideoPreview.h"
#include "pelmar/recorder/PelmarRecorder.h"

namespace {

// Prints what the uploading delegate hears.
class Uploads : public pelmar::PelmarUploadingDelegate {
public:
    void uploadStarted(const std::string& path,
                       const std::string& token,
                       const std::string&,
                       const std::shared_ptr<pelmar::net::URLSessionTask>&) override {
        std::printf("uploading %s as video %s\n", path.c_str(), token.c_str());
    }

    void failedToUpload(const std::string& path) override {
        std::printf("failed to upload %s\n", path.c_str());
        failed = true;
    }

    void uploadProcessed(const std::string&,
                         const std::string& token,
                         const std::string&) override {
        std::printf("the service has video %s\n", token.c_str());
        processed = true;
    }

    std::atomic<bool> failed{false};
    std::atomic<bool> processed{false};
};

// The first button titled `title` under `view`.
std::shared_ptr<pelmar::ui::Button> buttonTitled(pelmar::ui::View& view, const std::string& title) {
    if (auto* button = dynamic_cast<pelmar::ui::Button*>(&view);
        button && button->title() == title) {
        return std::static_pointer_cast<pelmar::ui::Button>(view.shared_from_this());
    }
    for (const auto& sub : view.subviews()) {
        if (auto found = buttonTitled(*sub, title)) {
            return found;
        }
    }
    return nullptr;
}

int fail(const char* step) {
    std::fprintf(stderr, "record-then-upload: %s\n", step);
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    const auto service = example::ServiceOptions::parse(argc, argv);
    if (!service) {
        return 2;
    }
    pelmar::ScreenHost host;
    // The phone's cameras and microphone, and the user's yes to both.
    host.devices().addBackCamera().addFrontCamera().addMicrophone();
    host.permissions().grant(pelmar::av::MediaType::Video).grant(pelmar::av::MediaType::Audio);

    auto sdk = std::make_shared<pelmar::Pelmar>("example-app");
    service->apply(*sdk);
    auto uploads = std::make_shared<Uploads>();
    sdk->setUploadingDelegate(uploads);
    sdk->setVideoRecorderConfig(pelmar::Json{{"startDelay", 0}, {"maxDuration", 2}});
    sdk->record();

    std::shared_ptr<pelmar::PelmarRecorder> recorder;
    if (!host.runUntil([&] {
            recorder = std::dynamic_pointer_cast<pelmar::PelmarRecorder>(host.topViewController());
            auto button = recorder ? recorder->recordButton.lock() : nullptr;
            return button && button->isEnabled() && recorder->isSessionRunning();
        })) {
        return fail("the recorder did not open");
    }
    if (auto refused = host.tap(*recorder->recordButton.lock())) {
        return fail(refused->c_str());
    }
    std::printf("recording...\n");
    // The two-second limit stops the recording; the preview comes with the export.
    std::shared_ptr<pelmar::PelmarRecordedVideoPreview> preview;
    if (!host.runUntil(
                [&] {
                    preview = std::dynamic_pointer_cast<pelmar::PelmarRecordedVideoPreview>(
                            host.topViewController());
                    return preview && preview->isAppeared();
                },
                60)) {
        return fail("the preview did not open");
    }
    auto upload = buttonTitled(*preview->view(), "Upload");
    if (!upload) {
        return fail("the preview has no Upload button");
    }
    if (auto refused = host.tap(*upload)) {
        return fail(refused->c_str());
    }
    if (!host.runUntil([&] { return uploads->processed || uploads->failed; }, 120)
        || !uploads->processed) {
        return fail("the upload did not complete");
    }
    return 0;
}
