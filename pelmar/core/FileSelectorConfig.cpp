#include "pelmar/core/FileSelectorConfig.h"

#include "pelmar/core/PelmarConstants.h"

namespace pelmar {

FileSelectorConfig::FileSelectorConfig() : mediaType(defaultMediaTypes()) {}

std::vector<std::string> FileSelectorConfig::defaultMediaTypes() {
    return {std::string(kUTTypeMovie), std::string(kUTTypeVideo), std::string(kUTTypeAudio),
            std::string(kUTTypeImage)};
}

}  // namespace pelmar
