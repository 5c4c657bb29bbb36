#include "pelmar/core/VideoRecorderConfig.h"

namespace pelmar {

VideoRecorderConfig::VideoRecorderConfig(bool isLiveStreaming_,
                                         bool blurMode_,
                                         bool shouldSendImmediately_,
                                         bool shouldDisableCameraSwitch_,
                                         bool shouldEnableCoverShot_,
                                         bool shouldAutoStartRecording_,
                                         bool shouldShowFaceOutline_,
                                         int64_t facing_,
                                         int64_t startDelay_,
                                         int64_t videoQuality_,
                                         std::optional<int64_t> maxDuration_)
    : isLiveStreaming(isLiveStreaming_),
      blurMode(blurMode_),
      shouldSendImmediately(shouldSendImmediately_),
      shouldDisableCameraSwitch(shouldDisableCameraSwitch_),
      shouldEnableCoverShot(shouldEnableCoverShot_),
      startDelay(startDelay_),
      shouldAutoStartRecording(shouldAutoStartRecording_),
      videoQuality(videoQuality_),
      shouldShowFaceOutline(shouldShowFaceOutline_),
      facing(facing_),
      maxDuration(maxDuration_) {}

Json VideoRecorderConfig::encode() const {
    Json json = Json::object();
    json["isLiveStreaming"] = isLiveStreaming;
    json["blurMode"] = blurMode;
    json["shouldSendImmediately"] = shouldSendImmediately;
    json["shouldDisableCameraSwitch"] = shouldDisableCameraSwitch;
    json["shouldEnableCoverShot"] = shouldEnableCoverShot;
    json["startDelay"] = startDelay;
    json["shouldAutoStartRecording"] = shouldAutoStartRecording;
    json["videoQuality"] = videoQuality;
    json["shouldShowFaceOutline"] = shouldShowFaceOutline;
    json["facing"] = facing;
    json["maxDuration"] = maxDuration ? Json(*maxDuration) : Json(nullptr);
    return json;
}

}  // namespace pelmar
