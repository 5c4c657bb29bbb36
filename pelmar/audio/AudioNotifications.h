#pragma once

#include <string_view>

// The notifications of the audio managers on the default notification centre; their object is
// the posting manager. The two update notifications carry the level (a float, 1.0 = full scale)
// under kAudioPercentageUserInfoKey; the others carry nothing.
namespace pelmar {

inline constexpr std::string_view kAudioRecorderManagerMeteringLevelDidUpdateNotification =
        "AudioRecorderManagerMeteringLevelDidUpdateNotification";
inline constexpr std::string_view kAudioRecorderManagerMeteringLevelDidFinishNotification =
        "AudioRecorderManagerMeteringLevelDidFinishNotification";
inline constexpr std::string_view kAudioRecorderManagerMeteringLevelDidFailNotification =
        "AudioRecorderManagerMeteringLevelDidFailNotification";
inline constexpr std::string_view kAudioPlayerManagerMeteringLevelDidUpdateNotification =
        "AudioPlayerManagerMeteringLevelDidUpdateNotification";
inline constexpr std::string_view kAudioPlayerManagerMeteringLevelDidFinishNotification =
        "AudioPlayerManagerMeteringLevelDidFinishNotification";

inline constexpr std::string_view kAudioPercentageUserInfoKey = "percentage";

// The level of a meter reading in dB: 10^(0.05 * power), in single precision.
float meteringLevel(float averagePowerDecibels);

}  // namespace pelmar
