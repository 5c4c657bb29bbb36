#pragma once

#include <atomic>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "pelmar/platform/av/Asset.h"
#include "pelmar/platform/av/TimeRange.h"
#include "pelmar/platform/foundation/Error.h"
#include "pelmar/platform/sync/Mutex.h"

// AssetExportSession: writes a time range of a file or http(s) asset to a new MPEG-4 movie. The
// quality presets re-encode with H.264 (libx264) and AAC, scaled to fit the preset's longest side
// (never up-scaled); the passthrough preset copies the streams when the range starts at the
// beginning and re-encodes at the source size otherwise, so the movie always starts at the range
// start. Packets are streamed: memory does not grow with the length of the movie.
// Ownership: made by create() and held by shared_ptr; an export under way keeps its session (and
//     asset) alive until its completion has run. A failed or cancelled export removes the partial
//     file; an existing file at outputURL is never touched.
// Threads: thread-safe. exportAsynchronously() works on the global queue and calls its completion
//     there once; cancelExport() may be called from any thread and stops the work at the next
//     packet (or blocked network read).
// Errors: error() in kAssetExportErrorDomain with the codes below, once status() is Failed or
//     Cancelled.

namespace pelmar::av {

inline constexpr std::string_view kAssetExportPresetLowQuality = "AssetExportPresetLowQuality";
inline constexpr std::string_view kAssetExportPresetMediumQuality =
        "AssetExportPresetMediumQuality";
inline constexpr std::string_view kAssetExportPresetHighestQuality =
        "AssetExportPresetHighestQuality";
inline constexpr std::string_view kAssetExportPresetPassthrough = "AssetExportPresetPassthrough";

// The MPEG-4 file type; the only one the session writes.
inline constexpr std::string_view kFileTypeMPEG4 = "public.mpeg-4";

inline constexpr std::string_view kAssetExportErrorDomain = "pelmar.av.export";
inline constexpr long kAssetExportErrorFileExists = 1;        // outputURL already exists
inline constexpr long kAssetExportErrorInvalidOutput = 2;     // no outputURL, or another file type
inline constexpr long kAssetExportErrorInvalidTimeRange = 3;  // empty or past the end of the asset
inline constexpr long kAssetExportErrorSource = 4;            // the asset cannot be read or decoded
inline constexpr long kAssetExportErrorEncode = 5;            // encoding or writing failed
inline constexpr long kAssetExportErrorCancelled = 6;         // cancelExport() stopped it

// True when `path` is a movie that opens and has a video track FFmpeg can decode (what a photo
// library would accept as a video).
bool videoAtPathIsCompatibleWithSavedPhotosAlbum(const std::filesystem::path& path);

class AssetExportSession : public std::enable_shared_from_this<AssetExportSession> {
public:
    enum class Status : int {
        Unknown = 0,
        Waiting = 1,
        Exporting = 2,
        Completed = 3,
        Failed = 4,
        Cancelled = 5
    };

    // Longest side of the pictures of each quality preset.
    static constexpr int kLowQualityLongestSide = 240;
    static constexpr int kMediumQualityLongestSide = 480;

    // The presets for `asset` (loading it when needed): all four for a file or http(s) asset
    // that loads with a video or audio track, none otherwise (compositions included).
    static std::vector<std::string> exportPresets(const std::shared_ptr<Asset>& asset);

    // Null when `presetName` is not one of the presets compatible with `asset`.
    static std::shared_ptr<AssetExportSession> create(std::shared_ptr<Asset> asset,
                                                      std::string_view presetName);

    ~AssetExportSession();

    AssetExportSession(const AssetExportSession&) = delete;
    AssetExportSession& operator=(const AssetExportSession&) = delete;

    // Settings, read when the export starts.
    void setOutputURL(std::filesystem::path url);
    void setOutputFileType(std::string type);
    // An invalid range (the default) exports the whole asset; a range running past the end is cut
    // at the end.
    void setTimeRange(TimeRange range);
    // Moves the movie index to the front of the file when the streams are copied.
    void setShouldOptimizeForNetworkUse(bool optimize);

    std::filesystem::path outputURL() const;
    std::string outputFileType() const;
    TimeRange timeRange() const;

    const std::string& presetName() const { return preset_; }

    const std::shared_ptr<Asset>& asset() const { return asset_; }

    Status status() const;
    std::optional<Error> error() const;

    // 0..1, the share of the range written so far.
    float progress() const;

    // Starts the export; `completion` runs once on the global queue when it has ended. Once per
    // session: a later call leaves the export alone and runs its own completion at once (on the
    // global queue), with status() and error() as they stand.
    void exportAsynchronously(std::function<void()> completion);

    void cancelExport();

private:
    struct Key {};

public:
    AssetExportSession(Key, std::shared_ptr<Asset> asset, std::string preset);

private:
    void run();
    void finish(Status status, std::optional<Error> error);

    const std::shared_ptr<Asset> asset_;
    const std::string preset_;
    std::atomic<bool> cancelled_{false};
    std::atomic<float> progress_{0.0f};

    mutable Mutex mutex_;
    std::filesystem::path outputURL_ PELMAR_GUARDED_BY(mutex_);
    std::string outputFileType_ PELMAR_GUARDED_BY(mutex_);
    TimeRange timeRange_ PELMAR_GUARDED_BY(mutex_);
    bool optimizeForNetwork_ PELMAR_GUARDED_BY(mutex_) = false;
    Status status_ PELMAR_GUARDED_BY(mutex_) = Status::Unknown;
    std::optional<Error> error_ PELMAR_GUARDED_BY(mutex_);
    std::function<void()> completion_ PELMAR_GUARDED_BY(mutex_);
};

}  // namespace pelmar::av
