#include "pelmar/platform/av/URLAsset.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <filesystem>
#include <numbers>
#include <optional>
#include <string_view>

#include "pelmar/platform/av/internal/ByteCache.h"
#include "pelmar/platform/av/internal/LibavInput.h"
#include "pelmar/platform/foundation/URL.h"

namespace pelmar::av {

namespace {

bool startsWithNoCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size()
           && std::equal(prefix.begin(), prefix.end(), text.begin(), [](char a, char b) {
                  return std::tolower(static_cast<unsigned char>(a)) == b;
              });
}

media::Time streamTime(int64_t value, AVRational base) {
    if (value == AV_NOPTS_VALUE || base.num <= 0 || base.den <= 0) {
        return media::Time::invalid();
    }
    return media::Time::make(value * base.num, base.den);
}

// The upright-making transform of a stream's display matrix, in quarter turns; the translation
// keeps the turned picture in the positive quadrant, as players expect.
ui::AffineTransform preferredTransform(const AVStream& stream, double width, double height) {
    switch (internal::LibavInput::quarterTurns(stream)) {
        case 1:
            return {0, 1, -1, 0, height, 0};
        case 2:
            return {-1, 0, 0, -1, width, height};
        case 3:
            return {0, -1, 1, 0, 0, width};
        default:
            return ui::AffineTransform::identity();
    }
}

// Why the local file at `location` cannot be read as media whatever its contents: missing, not
// readable, or a folder; none when it is a readable file.
std::optional<Error> localFileProblem(const std::string& location) {
    std::error_code ec;
    if (!std::filesystem::exists(location, ec)) {
        return internal::LibavInput::errorFor(AVERROR(ENOENT), location);
    }
    if (::access(location.c_str(), R_OK) != 0 || std::filesystem::is_directory(location, ec)) {
        return internal::LibavInput::errorFor(AVERROR(EACCES), location);
    }
    return std::nullopt;
}

}  // namespace

std::shared_ptr<URLAsset> URLAsset::create(std::string url) {
    return std::make_shared<URLAsset>(Key{}, std::move(url));
}

URLAsset::URLAsset(Key, std::string url) : url_(std::move(url)) {
    if (startsWithNoCase(url_, "http://") || startsWithNoCase(url_, "https://")) {
        remote_ = true;
        location_ = url_;
    } else if (startsWithNoCase(url_, "file://")) {
        location_ = foundation::pathFromFileURL(url_).value_or("");
    } else if (url_.find("://") == std::string::npos) {
        location_ = url_;
    }
}

void URLAsset::readThrough(std::shared_ptr<internal::ByteCache> cache) {
    MutexLock lock(mutex_);
    cache_ = std::move(cache);
}

Asset::LoadResult URLAsset::load(const std::function<bool()>& cancelled) const {
    LoadResult result;
    if (location_.empty()) {
        result.error = Error{std::string(kAssetErrorDomain), kAssetErrorBadURL,
                             "cannot open \"" + url_ + "\": not a file or http(s) URL"};
        return result;
    }
    // The item's cache serves this one load; afterwards the asset holds nothing of it.
    std::shared_ptr<internal::ByteCache> cache;
    {
        MutexLock lock(mutex_);
        cache = std::move(cache_);
        cache_.reset();
    }
    std::optional<internal::ByteCacheInput> input;
    if (cache) {
        input.emplace(cache, &cancelled);
    }
    auto format = internal::LibavInput::open(location_, remote_, &cancelled, result.error,
                                             input ? input->context() : nullptr);
    if (!format && cache && cache->failure() == AVERROR_EXIT && !cancelled()) {
        // The item that fetched for this asset was dropped, not this load: fetch for itself.
        input.reset();
        result.error.reset();
        format = internal::LibavInput::open(location_, remote_, &cancelled, result.error);
    } else if (!format && cache && cache->failure() != 0) {
        // The fetch's own failure (a 404, a refused connection, an untrusted certificate)
        // explains the missing bytes.
        result.error = internal::LibavInput::errorFor(cache->failure(), location_);
        if (!cache->failureText().empty()) {
            result.error->message += " (" + cache->failureText() + ")";
        }
    }
    if (!format) {
        if (!remote_) {
            // A missing or unreadable file is told apart from bad contents whatever the demuxer
            // reported. Looked at only after a failed open, so a readable movie costs no more
            // than the open itself.
            if (auto problem = localFileProblem(location_)) {
                result.error = std::move(problem);
            }
        }
        return result;
    }
    media::Time longest = media::Time::zero();
    const unsigned count = std::min(format->nb_streams, static_cast<unsigned>(kMaxTracks));
    for (unsigned i = 0; i < count; ++i) {
        const AVStream& stream = *format->streams[i];
        const AVCodecParameters& par = *stream.codecpar;
        AssetTrack::Description d;
        if (par.codec_type == AVMEDIA_TYPE_VIDEO
            && (stream.disposition & AV_DISPOSITION_ATTACHED_PIC) == 0) {
            d.mediaType = TrackMediaType::Video;
            d.naturalSize = {static_cast<double>(par.width), static_cast<double>(par.height)};
            d.preferredTransform = preferredTransform(stream, par.width, par.height);
            const AVRational rate =
                    stream.avg_frame_rate.num > 0 ? stream.avg_frame_rate : stream.r_frame_rate;
            d.nominalFrameRate = rate.den > 0 ? av_q2d(rate) : 0;
        } else if (par.codec_type == AVMEDIA_TYPE_AUDIO) {
            d.mediaType = TrackMediaType::Audio;
            d.sampleRate = par.sample_rate;
            d.channels = par.ch_layout.nb_channels;
        } else if (par.codec_type == AVMEDIA_TYPE_SUBTITLE) {
            d.mediaType = TrackMediaType::Text;
        } else {
            continue;
        }
        d.trackID = stream.id > 0 ? stream.id : static_cast<int>(i) + 1;
        d.codec = avcodec_get_name(par.codec_id);
        d.sourceURL = location_;
        d.streamIndex = static_cast<int>(i);
        media::Time start = streamTime(stream.start_time, stream.time_base);
        if (!start.isNumeric() || start < media::Time::zero()) {
            start = media::Time::zero();
        }
        media::Time duration = streamTime(stream.duration, stream.time_base);
        if (!duration.isNumeric() && format->duration != AV_NOPTS_VALUE) {
            duration = media::Time::make(format->duration, AV_TIME_BASE);
        }
        if (!duration.isNumeric()) {
            duration = media::Time::zero();
        }
        d.timeRange = TimeRange::make(start, duration);
        if (longest < d.timeRange.end()) {
            longest = d.timeRange.end();
        }
        result.contents.tracks.push_back(std::make_shared<const AssetTrack>(std::move(d)));
    }
    if (result.contents.tracks.empty()) {
        result.error = Error{std::string(kAssetErrorDomain), kAssetErrorUnparsable,
                             "no audio, video or text track in " + location_};
        result.contents = {};
        return result;
    }
    result.contents.duration = format->duration != AV_NOPTS_VALUE && format->duration > 0
                                       ? media::Time::make(format->duration, AV_TIME_BASE)
                                       : longest;
    return result;
}

}  // namespace pelmar::av
