#include "pelmar/audio/AudioFileURL.h"

#include <cmath>
#include <system_error>

#include "pelmar/audio/AudioNotifications.h"
#include "pelmar/platform/foundation/Sandbox.h"

namespace pelmar {

float meteringLevel(float averagePowerDecibels) {
    return std::pow(10.0f, 0.05f * averagePowerDecibels);
}

namespace AudioFileURL {

bool checkPath(const std::filesystem::path& path) {
    std::error_code ec;
    return !path.empty() && std::filesystem::exists(path, ec);
}

std::optional<std::filesystem::path> documentsPath(const std::string& fileName) {
    const auto documents = foundation::Sandbox::documentsDirectory();
    std::error_code ec;
    if (documents.empty() || !std::filesystem::is_directory(documents, ec)) {
        return std::nullopt;
    }
    return documents / fileName;
}

std::string absoluteString(const std::filesystem::path& path) {
    return "file://" + path.string();
}

}  // namespace AudioFileURL
}  // namespace pelmar
