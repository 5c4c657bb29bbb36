#include "pelmar/platform/av/AssetExportSession.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <system_error>

#include "pelmar/platform/av/URLAsset.h"
#include "pelmar/platform/av/internal/ExportTranscoder.h"
#include "pelmar/platform/av/internal/LibavInput.h"
#include "pelmar/platform/dispatch/Queue.h"
#include "pelmar/platform/libav/LibavHandles.h"

namespace pelmar::av {

namespace {

Error exportError(long code, std::string message) {
    return Error{std::string(kAssetExportErrorDomain), code, std::move(message)};
}

const std::string_view kPresets[] = {kAssetExportPresetLowQuality, kAssetExportPresetMediumQuality,
                                     kAssetExportPresetHighestQuality,
                                     kAssetExportPresetPassthrough};

}  // namespace

bool videoAtPathIsCompatibleWithSavedPhotosAlbum(const std::filesystem::path& path) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec)) {
        return false;
    }
    std::optional<Error> error;
    auto input = internal::LibavInput::open(path.string(), false, nullptr, error);
    if (!input) {
        return false;
    }
    const AVCodec* codec = nullptr;
    const int index = av_find_best_stream(input.get(), AVMEDIA_TYPE_VIDEO, -1, -1, &codec, 0);
    return index >= 0 && codec != nullptr
           && (input->streams[index]->disposition & AV_DISPOSITION_ATTACHED_PIC) == 0;
}

std::vector<std::string> AssetExportSession::exportPresets(const std::shared_ptr<Asset>& asset) {
    if (!std::dynamic_pointer_cast<URLAsset>(asset) || !asset->isPlayable()) {
        return {};
    }
    return {std::begin(kPresets), std::end(kPresets)};
}

std::shared_ptr<AssetExportSession> AssetExportSession::create(std::shared_ptr<Asset> asset,
                                                               std::string_view presetName) {
    if (!asset) {
        return nullptr;
    }
    const auto presets = exportPresets(asset);
    if (std::find(presets.begin(), presets.end(), presetName) == presets.end()) {
        return nullptr;
    }
    return std::make_shared<AssetExportSession>(Key{}, std::move(asset), std::string(presetName));
}

AssetExportSession::AssetExportSession(Key, std::shared_ptr<Asset> asset, std::string preset)
    : asset_(std::move(asset)), preset_(std::move(preset)) {}

// An export under way holds the session, so the destructor never races its work.
AssetExportSession::~AssetExportSession() = default;

void AssetExportSession::setOutputURL(std::filesystem::path url) {
    MutexLock lock(mutex_);
    outputURL_ = std::move(url);
}

void AssetExportSession::setOutputFileType(std::string type) {
    MutexLock lock(mutex_);
    outputFileType_ = std::move(type);
}

void AssetExportSession::setTimeRange(TimeRange range) {
    MutexLock lock(mutex_);
    timeRange_ = range;
}

void AssetExportSession::setShouldOptimizeForNetworkUse(bool optimize) {
    MutexLock lock(mutex_);
    optimizeForNetwork_ = optimize;
}

std::filesystem::path AssetExportSession::outputURL() const {
    MutexLock lock(mutex_);
    return outputURL_;
}

std::string AssetExportSession::outputFileType() const {
    MutexLock lock(mutex_);
    return outputFileType_;
}

TimeRange AssetExportSession::timeRange() const {
    MutexLock lock(mutex_);
    return timeRange_;
}

AssetExportSession::Status AssetExportSession::status() const {
    MutexLock lock(mutex_);
    return status_;
}

std::optional<Error> AssetExportSession::error() const {
    MutexLock lock(mutex_);
    return error_;
}

float AssetExportSession::progress() const {
    return progress_.load();
}

void AssetExportSession::exportAsynchronously(std::function<void()> completion) {
    {
        MutexLock lock(mutex_);
        if (status_ == Status::Unknown) {
            status_ = cancelled_ ? Status::Cancelled : Status::Waiting;
            completion_ = std::move(completion);
            completion = nullptr;
        }
    }
    if (completion) {
        // Started before: this call alone fails, the running export is left alone.
        dispatch::Queue::global()->async(std::move(completion));
        return;
    }
    dispatch::Queue::global()->async([self = shared_from_this()] { self->run(); });
}

void AssetExportSession::cancelExport() {
    cancelled_ = true;
}

void AssetExportSession::run() {
    std::filesystem::path output;
    std::string type;
    TimeRange range;
    bool fastStart = false;
    {
        MutexLock lock(mutex_);
        output = outputURL_;
        type = outputFileType_;
        range = timeRange_;
        fastStart = optimizeForNetwork_;
        if (status_ == Status::Waiting) {
            status_ = Status::Exporting;
        }
    }
    if (cancelled_) {
        finish(Status::Cancelled,
               exportError(kAssetExportErrorCancelled, "the export was cancelled"));
        return;
    }
    if (output.empty()) {
        finish(Status::Failed, exportError(kAssetExportErrorInvalidOutput, "no output URL is set"));
        return;
    }
    if (type != kFileTypeMPEG4) {
        finish(Status::Failed, exportError(kAssetExportErrorInvalidOutput,
                                           "cannot write the file type \"" + type + "\""));
        return;
    }
    std::error_code ec;
    if (std::filesystem::exists(std::filesystem::symlink_status(output, ec))) {
        finish(Status::Failed, exportError(kAssetExportErrorFileExists,
                                           "the file already exists: " + output.string()));
        return;
    }
    const auto* source = dynamic_cast<const URLAsset*>(asset_.get());
    const double duration = asset_->duration().seconds();
    if (source == nullptr || asset_->status() != Asset::Status::Loaded) {
        const auto why = asset_->error();
        finish(Status::Failed, exportError(kAssetExportErrorSource,
                                           why ? why->message : "the asset cannot be read"));
        return;
    }
    double start = 0;
    double end = std::isfinite(duration) && duration > 0 ? duration
                                                         : std::numeric_limits<double>::infinity();
    if (range.isValid()) {
        start = range.start.seconds();
        end = std::min(end, range.end().seconds());
        if (start < 0 || range.duration <= media::Time::zero() || start >= end) {
            finish(Status::Failed, exportError(kAssetExportErrorInvalidTimeRange,
                                               "the time range is empty or outside the asset"));
            return;
        }
    }
    internal::ExportTranscoder job;
    job.source = source->location();
    job.remote = source->isRemote();
    job.startSeconds = start;
    job.endSeconds = end;
    job.copyStreams = preset_ == kAssetExportPresetPassthrough && start == 0;
    job.longestSide = preset_ == kAssetExportPresetLowQuality      ? kLowQualityLongestSide
                      : preset_ == kAssetExportPresetMediumQuality ? kMediumQualityLongestSide
                                                                   : 0;
    job.fastStart = fastStart;
    job.output = output.string();
    job.stop = [this] { return cancelled_.load(); };
    job.progress = [this](double share) { progress_ = static_cast<float>(share); };
    auto error = job.run();
    if (!error && cancelled_) {
        error = exportError(kAssetExportErrorCancelled, "the export was cancelled");
    }
    if (error) {
        // Only what this export made is removed; a file that appeared meanwhile is left alone.
        if (error->code != kAssetExportErrorFileExists) {
            std::filesystem::remove(output, ec);
        }
        finish(error->code == kAssetExportErrorCancelled ? Status::Cancelled : Status::Failed,
               std::move(error));
        return;
    }
    progress_ = 1.0f;
    finish(Status::Completed, std::nullopt);
}

void AssetExportSession::finish(Status status, std::optional<Error> error) {
    std::function<void()> completion;
    {
        MutexLock lock(mutex_);
        status_ = status;
        error_ = std::move(error);
        completion = std::move(completion_);
        completion_ = nullptr;
    }
    if (completion) {
        completion();
    }
}

}  // namespace pelmar::av
