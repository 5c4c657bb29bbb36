#pragma once

#include <exception>
#include <memory>
#include <string>

namespace pelmar::ui {
class ViewController;
}

// The error alert of the audio screens: title "Error", the error's description as the message
// and one "OK" button that closes it.
// Threads: thread-safe: the alert is built on the calling thread and presented on the main queue
//     (from `controller`, if it still exists by then).
// Errors: none.
namespace pelmar {

void showAlert(const std::shared_ptr<ui::ViewController>& controller, std::string description);

// The message is the description of the exception `error` holds.
void showAlert(const std::shared_ptr<ui::ViewController>& controller, std::exception_ptr error);

}  // namespace pelmar
