#include "pelmar/live/FLVMuxer.h"

#include <stdexcept>
#include <utility>

#include "pelmar/live/AACDataFormatter.h"
#include "pelmar/live/AVCCParser.h"
#include "pelmar/live/AVCDataFormatter.h"
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
    if (!headerSent_) {
        // Every track counts time from the first frame, so a stream starts at 0.
        timeOrigin_ = frame.PTS();
        for (auto& formatter : tracks_) {
            formatter->SetTimeOrigin(timeOrigin_);
        }
        SendHeader();
        SendMetadata(frame, track);
    }
    if (track >= tracks_.size()) {
        throw std::runtime_error("unknown track ID");
    }
    tracks_[track]->PutFrame(frame);
}

void FLVMuxer::CloseImpl() {
    if (output_) {
        output_->Close();
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

void FLVMuxer::SendMetadata(const MediaFrame& first, unsigned track) {
    FLVMetadata metadata = metadata_;
    if ((!metadata.width || !metadata.height) && track < tracks_.size()
        && trackTypes_[track] == MediaType::Video && first.KeyFrame()) {
        AVCCParser parser;
        parser.ExtractSpsPps(first.Data());
        if (!parser.SPS().empty()) {
            if (const auto size = AVCCParser::ReadPictureSize(parser.SPS().front())) {
                metadata.width = metadata.width.value_or(size->width);
                metadata.height = metadata.height.value_or(size->height);
            }
        }
    }
    MetadataFormatter formatter(output_, hasVideo_, hasAudio_, metadata);
    formatter.PutFrame(MediaFrame(MediaType::None, MediaCodec::None));
}

}  // namespace pelmar::live
