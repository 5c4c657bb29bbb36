#pragma once

#include <string>

// PelmarQRScannerDelegate: what the host app hears from the QR reader. Optional methods.
// Ownership: held strongly by the facade and by each QR reader screen it opens.
// Threads: main queue.
// Errors: none.

namespace pelmar {

class PelmarQRScannerDelegate {
public:
    virtual ~PelmarQRScannerDelegate() = default;

    // The text of the scanned code.
    virtual void qrCodeScaned(const std::string& /*text*/) {}

    virtual void qrCodeScanCancelledByUser() {}
};

}  // namespace pelmar
