#include <memory>
#include <string>

#include "pelmar/core/Pelmar.h"
#include "pelmar/core/PelmarConstants.h"
#include "pelmar/platform/ui/ModalPresentationStyle.h"
#include "pelmar/qr/PelmarQRCodeReaderViewController.h"

namespace pelmar {

namespace {

void presentScanner(Pelmar& facade, bool closeAfterSuccessfulScan) {
    auto scanner = std::make_shared<PelmarQRCodeReaderViewController>();
    scanner->qrScannerDelegate = facade.qrScannerDelegate();
    scanner->setModalPresentationStyle(ui::ModalPresentationStyle::FullScreen);
    scanner->closeAfterSuccessfulScan = closeAfterSuccessfulScan;
    if (auto parent = facade.getParentViewController()) {
        parent->present(scanner, true);
    }
}

}  // namespace

void Pelmar::startQrScanner(const std::optional<Json>& dict) {
    bool close = true;
    if (dict && dict->is_object()) {
        auto it = dict->find(std::string(CLOSE_AFTER_SUCCESS_FUL_SCAN));
        if (it != dict->end() && it->is_boolean()) {
            close = it->get<bool>();
        }
    }
    presentScanner(*this, close);
}

void Pelmar::startQrScanner() {
    presentScanner(*this, getQrScannerConfig()->shouldCloseAfterSuccessfulScan);
}

}  // namespace pelmar
