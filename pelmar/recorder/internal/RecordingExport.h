#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "pelmar/platform/av/AssetExportSession.h"
#include "pelmar/platform/foundation/Error.h"

// The decisions of the recorder's export step. Threads: thread-safe.

namespace pelmar::recorder::internal {

// Where the export of a recording goes: "<folder>/<whole seconds>.mp4", or, when that file
// exists already (two recordings in one second), "<seconds>-1.mp4", "<seconds>-2.mp4", ...
std::filesystem::path exportPath(const std::filesystem::path& folder, double absoluteSeconds);

// What an ended export leads to: the recording is shown or uploaded (completed), or tidied away
// with a line for the log (failed: an error report; cancelled: a debug line).
struct ExportOutcome {
    bool completed = false;
    std::optional<std::string> log;
    std::optional<std::string> logError;
};

ExportOutcome exportOutcome(av::AssetExportSession::Status status,
                            const std::optional<Error>& error);

// Starts the export of the movie at `path` into the Documents folder (medium quality, MPEG-4),
// when the asset offers the low preset. `exportingTo` hears the export's path before the export
// session is made; `finished` is called once the export ends, while its session lives. False
// when no export was started.
bool startRecordingExport(
        const std::filesystem::path& path,
        const std::function<void(const std::filesystem::path&)>& exportingTo,
        std::function<void(const std::shared_ptr<av::AssetExportSession>&)> finished);

}  // namespace pelmar::recorder::internal
