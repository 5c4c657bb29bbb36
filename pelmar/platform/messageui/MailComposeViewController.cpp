#include "pelmar/platform/messageui/MailComposeViewController.h"

#include <atomic>
#include <utility>

namespace pelmar::messageui {

namespace {

std::atomic<bool>& canSend() {
    static std::atomic<bool> can{false};
    return can;
}

}  // namespace

bool MailComposeViewController::canSendMail() {
    return canSend().load();
}

void MailComposeViewController::setCanSendMail(bool can) {
    canSend().store(can);
}

MailComposeViewController::MailComposeViewController() = default;

void MailComposeViewController::addAttachmentData(std::vector<uint8_t> data,
                                                  std::string mimeType,
                                                  std::string fileName) {
    attachments_.push_back({std::move(data), std::move(mimeType), std::move(fileName)});
}

void MailComposeViewController::finish(MailComposeResult result,
                                       const std::optional<Error>& error) {
    if (auto delegate = delegate_.lock()) {
        delegate->mailComposeController(*this, result, error);
    }
}

}  // namespace pelmar::messageui
