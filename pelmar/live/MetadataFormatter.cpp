#include "pelmar/live/MetadataFormatter.h"

#include <utility>

#include "pelmar/live/AMF0.h"

namespace pelmar::live {

MetadataFormatter::MetadataFormatter(std::shared_ptr<IReceiver<FLVFrame>> output,
                                     bool hasVideo,
                                     bool hasAudio,
                                     FLVMetadata metadata)
    : FLVTagFormatter(std::move(output)),
      hasVideo_(hasVideo),
      hasAudio_(hasAudio),
      metadata_(metadata) {}

FLVFrame MetadataFormatter::CreateOutputFrame(MediaFrame) {
    return FLVFrame(MediaType::None, MediaCodec::None, kFLVTagScriptData);
}

int MetadataFormatter::FillDataSection(MediaFrame, FLVFrame& out) {
    auto array = std::make_shared<AMFArray>();
    array->AddValue("duration", AMFValue::Number(0));
    if (hasVideo_) {
        array->AddValue("width", AMFValue::Number(metadata_.width.value_or(1920)));
        array->AddValue("height", AMFValue::Number(metadata_.height.value_or(1080)));
        array->AddValue("videodatarate", AMFValue::Number(metadata_.videoDataRate.value_or(3000)));
        array->AddValue("framerate", AMFValue::Number(metadata_.frameRate.value_or(30)));
        array->AddValue("videocodecid", AMFValue::Number(7));
    }
    if (hasAudio_) {
        array->AddValue("audiodatarate", AMFValue::Number(metadata_.audioDataRate.value_or(64)));
        array->AddValue("audiosamplerate",
                        AMFValue::Number(metadata_.audioSampleRate.value_or(44100)));
        array->AddValue("audiosamplesize", AMFValue::Number(16));
        array->AddValue("stereo", AMFValue::Bool(metadata_.stereo.value_or(true)));
        array->AddValue("audiocodecid", AMFValue::Number(10));
    }
    array->AddValue("encoder", AMFValue::String("pelmar"));
    array->AddValue("filesize", AMFValue::Number(0));

    BitstreamWriter writer(out.Data());
    writer.SeekToEnd();
    AMFString("onMetaData").WriteImpl(writer);
    array->WriteImpl(writer);
    return kTransformComplete;
}

}  // namespace pelmar::live
