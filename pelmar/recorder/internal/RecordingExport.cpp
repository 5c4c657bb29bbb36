#include "pelmar/recorder/internal/RecordingExport.h"

#include <cmath>
#include <system_error>

namespace pelmar::internal {

std::filesystem::path exportPath(const std::filesystem::path& folder, double absoluteSeconds) {
    const std::string seconds = std::to_string(static_cast<long long>(std::floor(absoluteSeconds)));
    std::error_code ec;
    auto path = folder / (seconds + ".mp4");
    for (int n = 1; std::filesystem::exists(path, ec); ++n) {
        path = folder / (seconds + "-" + std::to_string(n) + ".mp4");
    }
    return path;
}

ExportOutcome exportOutcome(av::AssetExportSession::Status status,
                            const std::optional<Error>& error) {
    ExportOutcome outcome;
    switch (status) {
        case av::AssetExportSession::Status::Completed:
            outcome.completed = true;
            break;
        case av::AssetExportSession::Status::Failed:
            outcome.logError = "Export failed: " + (error ? error->description() : "nil");
            break;
        case av::AssetExportSession::Status::Cancelled:
            outcome.log = "Export canceled";
            break;
        default:
            break;
    }
    return outcome;
}

}  // namespace pelmar::internal
