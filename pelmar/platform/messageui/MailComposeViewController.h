#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "pelmar/platform/foundation/Error.h"
#include "pelmar/platform/messageui/MailComposeViewControllerDelegate.h"
#include "pelmar/platform/ui/ViewController.h"

namespace pelmar::messageui {

// MailComposeViewController: the system's mail screen, here a stand-in that keeps what the app
// filled in (recipients, subject, body and whether it is HTML, attachments) for tests and the
// demo to read, and sends nothing. Whether the device can send mail at all is a process-wide
// setting (false until set: a fresh machine has no mail account). finish() plays the user's end.
// Ownership: reference object made with std::make_shared and presented like any screen; holds
// its delegate weakly.
// Threads: main thread only; the can-send-mail setting is thread-safe.
// Errors: none; a screen made while mail cannot be sent still works but sends nothing.
class MailComposeViewController : public ui::ViewController {
public:
    struct Attachment {
        std::vector<uint8_t> data;
        std::string mimeType;
        std::string fileName;
    };

    static bool canSendMail();

    static void setCanSendMail(bool can);

    MailComposeViewController();

    void setToRecipients(std::vector<std::string> recipients) {
        toRecipients_ = std::move(recipients);
    }

    void setSubject(std::string subject) { subject_ = std::move(subject); }

    void setMessageBody(std::string body, bool isHTML) {
        messageBody_ = std::move(body);
        isHTML_ = isHTML;
    }

    void addAttachmentData(std::vector<uint8_t> data, std::string mimeType, std::string fileName);

    void setMailComposeDelegate(std::weak_ptr<MailComposeViewControllerDelegate> delegate) {
        delegate_ = std::move(delegate);
    }

    const std::vector<std::string>& toRecipients() const { return toRecipients_; }

    const std::string& subject() const { return subject_; }

    const std::string& messageBody() const { return messageBody_; }

    bool isHTML() const { return isHTML_; }

    const std::vector<Attachment>& attachments() const { return attachments_; }

    // The user ends the screen (sends, saves, cancels or meets a failure): the delegate hears it.
    void finish(MailComposeResult result, const std::optional<Error>& error = std::nullopt);

private:
    std::vector<std::string> toRecipients_;
    std::string subject_;
    std::string messageBody_;
    bool isHTML_ = false;
    std::vector<Attachment> attachments_;
    std::weak_ptr<MailComposeViewControllerDelegate> delegate_;
};

}  // namespace pelmar::messageui
