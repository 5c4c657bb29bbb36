#include "pelmar/core/QRCodeReaderConfig.h"

#include <string>

#include "pelmar/core/PelmarConstants.h"

namespace pelmar {

Json QRCodeReaderConfig::encode() const {
    return Json{{"shouldCloseAfterSuccessfulScan", shouldCloseAfterSuccessfulScan}};
}

Json QRCodeReaderConfig::getMap() const {
    return Json{{std::string(CLOSE_AFTER_SUCCESS_FUL_SCAN), shouldCloseAfterSuccessfulScan}};
}

}  // namespace pelmar
