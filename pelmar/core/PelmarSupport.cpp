// The facade's hardware and permission checks and its support mail.

#include <charconv>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "pelmar/core/Pelmar.h"
#include "pelmar/core/Utils.h"
#include "pelmar/platform/av/AudioSession.h"
#include "pelmar/platform/av/CaptureDevice.h"
#include "pelmar/platform/av/ImagePickerCameraSource.h"
#include "pelmar/platform/dispatch/Clock.h"
#include "pelmar/platform/dispatch/Queue.h"
#include "pelmar/platform/foundation/FileManager.h"
#include "pelmar/platform/foundation/Sandbox.h"
#include "pelmar/platform/foundation/URL.h"
#include "pelmar/platform/messageui/MailComposeViewController.h"
#include "pelmar/platform/photos/PhotoLibrary.h"
#include "pelmar/platform/ui/ImagePickerController.h"
#include "pelmar/platform/ui/ViewController.h"

namespace pelmar {

namespace {

bool hasCamera() {
    av::ImagePickerCameraSource::install();
    return ui::ImagePickerController::isSourceTypeAvailable(ui::ImagePickerSourceType::Camera);
}

bool hasMicrophone() {
    for (const auto& input : av::AudioSession::shared().availableInputs()) {
        if (input.portType == av::kAudioSessionPortBuiltInMic
            || input.portType == av::kAudioSessionPortHeadsetMic) {
            return true;
        }
    }
    return false;
}

// The shortest decimal text that reads back as `value`, always with a decimal point.
std::string shortestDecimal(double value) {
    char buffer[64];
    const auto [end, ec] =
            std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed);
    std::string text = ec == std::errc() ? std::string(buffer, end) : std::to_string(value);
    if (text.find('.') == std::string::npos) {
        text += ".0";
    }
    return text;
}

std::optional<std::vector<uint8_t>> readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return std::nullopt;
    }
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                               std::istreambuf_iterator<char>());
    if (in.bad()) {
        return std::nullopt;
    }
    return bytes;
}

}  // namespace

void Pelmar::runHardwarePermissionChecks() {
    auto delegate = hardwarePermissionDelegate();
    if (delegate) {
        delegate->checkHasCamera(hasCamera());
        delegate->checkHasMicrophone(hasMicrophone());
        delegate->checkCameraPermission(av::CaptureDevice::authorizationStatus(av::MediaType::Video)
                                        == av::AuthorizationStatus::Authorized);
    }
    // The two questions are asked even without a delegate; the answers are reported on the main
    // queue, to the delegate set at that time.
    auto self = shared_from_this();
    photos::PhotoLibrary::requestAuthorization([self](photos::AuthorizationStatus status) {
        dispatch::Queue::main()->async([self, status] {
            if (auto d = self->hardwarePermissionDelegate()) {
                d->checkPhotoLibraryPermission(status == photos::AuthorizationStatus::Authorized);
            }
        });
    });
    std::weak_ptr<Pelmar> weak = self;
    av::AudioSession::shared().requestRecordPermission([weak](bool granted) {
        dispatch::Queue::main()->async([weak, granted] {
            auto facade = weak.lock();
            if (auto d = facade ? facade->hardwarePermissionDelegate() : nullptr) {
                d->checkMicrophonePermission(granted);
            }
        });
    });
}

void Pelmar::sendReport(const std::vector<std::string>& lines) {
    std::string text;
    for (size_t i = 0; i < lines.size(); ++i) {
        if (i > 0) {
            text += '\n';
        }
        text += lines[i];
    }
    const auto documents = foundation::Sandbox::documentsDirectory();
    std::error_code ec;
    if (documents.empty() || !std::filesystem::is_directory(documents, ec)) {
        return;
    }
    const auto file = documents / kSupportLogFileName;
    bool removed = true;
    if (std::filesystem::exists(file, ec)) {
        removed = std::filesystem::remove(file, ec) && !ec;
    }
    if (removed) {
        // A failed write leaves no file; the mail then goes without the attachment.
        (void)foundation::FileManager::writeAtomically(file, std::string_view(text),
                                                       foundation::FileManager::Access::OwnerOnly);
    }
    const double now = dispatch::clock().wallNow();
    const std::string name = "PelmarLogs_" + shortestDecimal(now) + ".log";
    sendEmailToSupport(
            kSupportReportSubject, "",
            FileInfoData::fromURL(foundation::fileURLFromPath(file), "text/plain", name));
}

void Pelmar::sendEmailToSupport(const std::string& subject,
                                const std::string& messageBody,
                                const std::optional<FileInfoData>& file) {
    if (!messageui::MailComposeViewController::canSendMail()) {
        return;
    }
    auto composer = std::make_shared<messageui::MailComposeViewController>();
    composer->setToRecipients({config().supportEmailAddress()});
    composer->setSubject(subject);
    composer->setMessageBody(messageBody, true);
    composer->setMailComposeDelegate(
            std::static_pointer_cast<messageui::MailComposeViewControllerDelegate>(
                    shared_from_this()));
    if (file && file->path && file->mimeType && file->name) {
        // The descriptor's path may be a "file://" URL; its decoded path is read.
        if (auto path = Utils::localPath(*file->path)) {
            if (auto bytes = readFile(*path)) {
                composer->addAttachmentData(std::move(*bytes), *file->mimeType, *file->name);
            }
        }
    }
    if (auto parent = getParentViewController()) {
        parent->present(composer, true);
    }
}

void Pelmar::mailComposeController(messageui::MailComposeViewController&,
                                   messageui::MailComposeResult,
                                   const std::optional<Error>&) {
    if (auto parent = getParentViewController()) {
        parent->dismiss(true);
    }
}

}  // namespace pelmar
