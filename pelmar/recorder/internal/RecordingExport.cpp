#include "pelmar/recorder/internal/RecordingExport.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <system_error>
#include <utility>

#include "pelmar/platform/av/URLAsset.h"
#include "pelmar/platform/dispatch/Clock.h"
#include "pelmar/platform/foundation/Sandbox.h"

namespace pelmar::recorder::internal {

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

bool startRecordingExport(
        const std::filesystem::path& path,
        const std::function<void(const std::filesystem::path&)>& exportingTo,
        std::function<void(const std::shared_ptr<av::AssetExportSession>&)> finished) {
    auto asset = av::URLAsset::create(path.string());
    const auto presets = av::AssetExportSession::exportPresets(asset);
    // The low preset is the one asked about; the medium one is used.
    if (std::find(presets.begin(), presets.end(), av::kAssetExportPresetLowQuality)
        == presets.end()) {
        return false;
    }
    auto session = av::AssetExportSession::create(asset, av::kAssetExportPresetMediumQuality);
    const auto output =
            exportPath(foundation::Sandbox::documentsDirectory(), dispatch::absoluteTime());
    exportingTo(output);
    if (!session) {
        return false;
    }
    session->setOutputURL(output);
    session->setOutputFileType(std::string(av::kFileTypeMPEG4));
    std::weak_ptr<av::AssetExportSession> weakSession = session;
    session->exportAsynchronously([weakSession, finished = std::move(finished)] {
        if (auto s = weakSession.lock()) {
            finished(s);
        }
    });
    return true;
}

}  // namespace pelmar::recorder::internal
