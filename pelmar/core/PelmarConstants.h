#pragma once

#include <cstdint>
#include <string_view>

// PelmarConstants: the option keys and values a host app passes in the facade's option
// dictionaries, and the integer option values.
// Ownership: compile-time constants; no state.
// Threads: thread-safe.
// Errors: none.

namespace pelmar {

// `setCamera` recognises the text "REAR_CAMERA", not the value of `REAR_CAMERA`; host apps rely on
// that.
inline constexpr std::string_view REAR_CAMERA = "rearCamera";
inline constexpr std::string_view FRONT_CAMERA = "frontCamera";
inline constexpr std::string_view HIGH_QUALITY = "highQuality";
inline constexpr std::string_view MEDIUM_QUALITY = "mediumQuality";
inline constexpr std::string_view LOW_QUALITY = "lowQuality";

inline constexpr int64_t defaultStartDelay = 0;
// High to low, while `RecordingQuality` runs low to high; host apps rely on both orders.
inline constexpr int64_t qualityHigh = 0;
inline constexpr int64_t qualityMedium = 1;
inline constexpr int64_t qualityLow = 2;
inline constexpr int64_t facingBack = 0;
inline constexpr int64_t facingFront = 1;

inline constexpr std::string_view ERR_UNKNOWN = "ERR_UNKNOWN";
inline constexpr std::string_view ERR_DURATION_EXCEEDED = "ERR_DURATION_EXCEEDED";
inline constexpr std::string_view ERR_FILE_DOES_NOT_EXIST = "ERR_FILE_DOES_NOT_EXIST";
inline constexpr std::string_view ERR_PERMISSION_DENIED = "ERR_PERMISSION_DENIED";

inline constexpr std::string_view MAX_DURATION = "maxDuration";
inline constexpr std::string_view ENFORCE_DURATION = "enforce_duration";
inline constexpr std::string_view CLOSE_AFTER_SUCCESS_FUL_SCAN = "closeAfterSuccessfulScan";
inline constexpr std::string_view IS_LIFE_STREAMING = "isLiveStreaming";
inline constexpr std::string_view BLUR_MODE = "blurMode";
inline constexpr std::string_view SHOULD_SEND_IMMEDIATELY = "shouldSendImmediately";
inline constexpr std::string_view SHOULD_DISABLE_CAMERA_SWITCH = "shouldDisableCameraSwitch";
inline constexpr std::string_view SHOULD_ENABLE_COVER_SHOT = "shouldEnableCoverShot";
inline constexpr std::string_view STERT_DELAY = "startDelay";
inline constexpr std::string_view SHOULD_AUTO_START_RECORDING = "shouldAutoStartRecording";
inline constexpr std::string_view VIDEO_QUALITY = "videoQuality";
inline constexpr std::string_view SHOULD_SHOW_FACE_OUTLINE = "shouldShowFaceOutline";
inline constexpr std::string_view FACING = "facing";
inline constexpr std::string_view SHOULD_SHOW_SUBTITLES = "shouldShowSubtitles";
inline constexpr std::string_view IS_MUTED = "isMuted";
inline constexpr std::string_view VIDEO_PLAYER_STYLE = "playerStyle";
inline constexpr std::string_view CONTROLLERS_STYLE = "controllerStyle";
inline constexpr std::string_view CONTROLLERS_TEXT_COLOR_STYLE = "textColor";
inline constexpr std::string_view CONTROLLERS_UNPLAYED_COLOR_STYLE = "unplayedColor";
inline constexpr std::string_view CONTROLLERS_PLAYED_COLOR_STYLE = "playedColor";
inline constexpr std::string_view CONTROLLERS_TINT_COLOR_STYLE = "tintColor";
// Crosswise on purpose, as host apps rely on it: `CONTROLLERS_MUTE_ON_STYLE` names the mute-off
// image key and `CONTROLLERS_MUTE_OFF_STYLE` the mute-on one.
inline constexpr std::string_view CONTROLLERS_MUTE_ON_STYLE = "muteOffImageDrawable";
inline constexpr std::string_view CONTROLLERS_MUTE_OFF_STYLE = "muteOnImageDrawable";
inline constexpr std::string_view MEDIA_TYPE = "media_type";

// The platform's uniform type identifiers that the file selector offers by default.
inline constexpr std::string_view kUTTypeMovie = "public.movie";
inline constexpr std::string_view kUTTypeVideo = "public.video";
inline constexpr std::string_view kUTTypeAudio = "public.audio";
inline constexpr std::string_view kUTTypeImage = "public.image";

}  // namespace pelmar
