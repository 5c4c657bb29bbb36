#pragma once

#include <optional>

#include "pelmar/platform/foundation/Error.h"

namespace pelmar::messageui {

class MailComposeViewController;

// How the user ended a mail screen.
enum class MailComposeResult : int { Cancelled = 0, Saved = 1, Sent = 2, Failed = 3 };

// MailComposeViewControllerDelegate: hears when the user ends a mail screen; it dismisses the
// screen. Ownership: held weakly by the screen. Threads: main thread only. Errors: none.
class MailComposeViewControllerDelegate {
public:
    virtual ~MailComposeViewControllerDelegate() = default;

    virtual void mailComposeController(MailComposeViewController& controller,
                                       MailComposeResult result,
                                       const std::optional<Error>& error) = 0;
};

}  // namespace pelmar::messageui
