#pragma once

#include "pelmar/platform/foundation/Json.h"

// QRCodeReaderConfig: the QR reader's option: whether the scanner stops at the first accepted code.
// Ownership: reference object held by std::shared_ptr; the facade replaces it whole.
// Threads: thread-compatible.
// Errors: none.

namespace pelmar {

class QRCodeReaderConfig {
public:
    QRCodeReaderConfig() = default;

    explicit QRCodeReaderConfig(bool closeAfterSuccessfulScan)
        : shouldCloseAfterSuccessfulScan(closeAfterSuccessfulScan) {}

    // {"shouldCloseAfterSuccessfulScan": flag}.
    Json encode() const;

    // {"closeAfterSuccessfulScan": flag}: the option-dictionary form, whose key differs from the
    // encoding key.
    Json getMap() const;

    bool shouldCloseAfterSuccessfulScan = true;
};

}  // namespace pelmar
