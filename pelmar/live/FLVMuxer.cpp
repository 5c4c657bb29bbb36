#include "pelmar/live/FLVMuxer.h"

#include <algorithm>
#include <exception>
#include <stdexcept>
#include <utility>

#include "pelmar/live/AACDataFormatter.h"
#include "pelmar/live/AVCCParser.h"
#include "pelmar/live/AVCDataFormatter.h"
#include "pelmar/live/AudioSpecificConfig.h"
#include "pelmar/live/MetadataFormatter.h"

namespace pelmar::live {

FLVMuxer::FLVMuxer(std::shared_ptr<IReceiver<FLVFrame>> output) : output_(std::move(output)) {}

FLVMuxer::~FLVMuxer() {
    try {
        CloseImpl();
    } catch (...) {
        // A destructor must not throw; the output reports its own failures when used directly.
    }
}

unsigned FLVMuxer::AddTrackImpl(MediaDescriptor descriptor) {
    std::shared_ptr<FLVTagFormatter> formatter;
    if (descriptor.type == MediaType::Audio) {
        if (descriptor.codec != MediaCodec::AAC) {
            throw std::runtime_error("unsupported audio codec");
        }
        formatter = std::make_shared<AACDataFormatter>(output_);
        hasAudio_ = true;
    } else if (descriptor.type == MediaType::Video) {
        if (descriptor.codec != MediaCodec::H264) {
            throw std::runtime_error("unsupported video codec");
        }
        formatter = std::make_shared<AVCDataFormatter>(output_);
        hasVideo_ = true;
    } else {
        throw std::runtime_error("unknown media type");
    }
    formatter->SetTimeOrigin(timeOrigin_);
    tracks_.push_back(std::move(formatter));
    trackTypes_.push_back(descriptor.type);
    return static_cast<unsigned>(tracks_.size() - 1);
}

void FLVMuxer::PutFrameImpl(MediaFrame frame, unsigned track) {
    if (headerSent_) {
        if (track >= tracks_.size()) {
            throw std::runtime_error("unknown track ID");
        }
        tracks_[track]->PutFrame(frame);
        return;
    }
    if (track < tracks_.size()) {
        LearnFrom(frame, track);
        held_.emplace_back(frame, track);
        if (!ReadyToStart()) {
            return;
        }
        Start();
        return;
    }
    // A frame of no track: what is held goes out first, as any frame would start the stream.
    if (held_.empty()) {
        held_.emplace_back(frame, track);
    }
    Start();
    throw std::runtime_error("unknown track ID");
}

void FLVMuxer::CloseImpl() {
    if (!headerSent_ && !held_.empty()) {
        Start();
    }
    if (output_) {
        output_->Close();
    }
}

void FLVMuxer::LearnFrom(const MediaFrame& frame, unsigned track) {
    for (const auto& held : held_) {
        if (held.second == track) {
            return;  // only a track's first frame describes it
        }
    }
    if (trackTypes_[track] == MediaType::Video && frame.KeyFrame()) {
        AVCCParser parser;
        parser.ExtractSpsPps(frame.Data());
        if (!parser.SPS().empty()) {
            if (const auto size = AVCCParser::ReadPictureSize(parser.SPS().front())) {
                learned_.width = size->width;
                learned_.height = size->height;
            }
        }
    } else if (trackTypes_[track] == MediaType::Audio) {
        if (const auto audio = ReadAudioSpecificConfig(frame.Data())) {
            learned_.audioSampleRate = audio->sampleRate;
            if (audio->channels > 0) {
                learned_.stereo = audio->channels >= 2;
            }
        }
    }
}

bool FLVMuxer::ReadyToStart() const {
    if (held_.size() >= kMaxHeldFrames
        || held_.back().first.PTS() - held_.front().first.PTS() >= kMaxHeldSeconds) {
        return true;
    }
    std::vector<bool> started(tracks_.size(), false);
    for (const auto& held : held_) {
        started[held.second] = true;
    }
    return std::find(started.begin(), started.end(), false) == started.end();
}

void FLVMuxer::Start() {
    // Every track counts time from the first frame, so a stream starts at 0.
    timeOrigin_ = held_.front().first.PTS();
    for (auto& formatter : tracks_) {
        formatter->SetTimeOrigin(timeOrigin_);
    }
    SendHeader();
    SendMetadata();
    auto held = std::move(held_);
    held_.clear();
    std::exception_ptr failure;
    for (auto& [frame, track] : held) {
        if (track >= tracks_.size()) {
            continue;
        }
        try {
            tracks_[track]->PutFrame(frame);
        } catch (...) {
            // The other held frames still go out; the caller hears of the first failure.
            if (!failure) {
                failure = std::current_exception();
            }
        }
    }
    if (failure) {
        std::rethrow_exception(failure);
    }
}

void FLVMuxer::SendHeader() {
    headerSent_ = true;
    FLVFrame header(MediaType::None, MediaCodec::None, kFLVTagFileHeader);
    const uint8_t flags = static_cast<uint8_t>((hasAudio_ ? 0x04 : 0) | (hasVideo_ ? 0x01 : 0));
    header.Data() = {'F', 'L', 'V', 1, flags, 0, 0, 0, 9, 0, 0, 0, 0};
    if (output_) {
        output_->PutFrame(header);
    }
}

void FLVMuxer::SendMetadata() {
    FLVMetadata metadata = metadata_;
    metadata.width = metadata.width ? metadata.width : learned_.width;
    metadata.height = metadata.height ? metadata.height : learned_.height;
    metadata.audioSampleRate =
            metadata.audioSampleRate ? metadata.audioSampleRate : learned_.audioSampleRate;
    metadata.stereo = metadata.stereo ? metadata.stereo : learned_.stereo;
    MetadataFormatter formatter(output_, hasVideo_, hasAudio_, metadata);
    formatter.PutFrame(MediaFrame(MediaType::None, MediaCodec::None));
}

}  // namespace pelmar::live
