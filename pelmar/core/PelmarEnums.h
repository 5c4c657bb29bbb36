#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>
#include <utility>

// PelmarEnums: the public enumerations of statuses, callback keys, theme keys, media kinds and
// recording quality, each with its raw value and `fromRaw<E>(raw)`, which yields none for a raw
// value outside the enumeration (raw strings compare case-sensitively).
// Ownership: value types.
// Threads: thread-safe.
// Errors: none; an unknown raw value gives std::nullopt.

namespace pelmar {

enum class Pelmar_Status_Type {
    STATUS_EMPTY,
    STATUS_DELETED,
    STATUS_VERIFIED,
    STATUS_PROCESSING,
    STATUS_FAILED,
    STATUS_READY,
};

enum class Pelmar_Key_Type {
    BYTES_SENT,
    BYTES_TOTAL,
    FILE_NAME,
    PATH,
    QR,
    TOKEN,
    PERMISSIONS,
    SOUND_LEVEL,
    SECONDS_LEFT,
    MILLIS_PASSED,
    MILLIS,
    FILES,
    VALUE,
    MEDIA_TYPES,
    BLUR_EFFECT,
    CLIENT_AUTH,
    SERVER_AUTH,
    TAGS,
};

enum class Pelmar_Theme_Key_Type {
    KEY_HIDE_RECORDER_CONTROLS,
    KEY_HIDE_PLAYER_CONTROLS,
};

enum class Media_Type {
    Video,
    Audio,
    Image,
};

enum class Media_Type_Int : int64_t {
    Video = 1,
    Audio = 2,
    Image = 4,
};

enum class RecordingQuality : int64_t {
    LowQuality = 0,
    MediumQuality = 1,
    HighestQuality = 2,
};

// Raw-value tables. Each enumeration E has `enumRawValues(E{})` listing every case with its raw
// value; `rawValue` and `fromRaw` are built on them.
namespace core::internal {

template <class E, class Raw, size_t N>
using RawTable = std::array<std::pair<E, Raw>, N>;

}  // namespace core::internal

constexpr auto enumRawValues(Pelmar_Status_Type) {
    using E = Pelmar_Status_Type;
    return core::internal::RawTable<E, std::string_view, 6>{{
            {E::STATUS_EMPTY, "EMPTY"},
            {E::STATUS_DELETED, "DELETED"},
            {E::STATUS_VERIFIED, "VERIFIED"},
            {E::STATUS_PROCESSING, "PROCESSING"},
            {E::STATUS_FAILED, "FAILED"},
            {E::STATUS_READY, "READY"},
    }};
}

constexpr auto enumRawValues(Pelmar_Key_Type) {
    using E = Pelmar_Key_Type;
    return core::internal::RawTable<E, std::string_view, 18>{{
            {E::BYTES_SENT, "bytesSent"},
            {E::BYTES_TOTAL, "totalBytes"},
            {E::FILE_NAME, "fileName"},
            {E::PATH, "path"},
            {E::QR, "qr"},
            {E::TOKEN, "token"},
            {E::PERMISSIONS, "permissions"},
            {E::SOUND_LEVEL, "sound_level"},
            {E::SECONDS_LEFT, "seconds_left"},
            {E::MILLIS_PASSED, "millis_passed"},
            {E::MILLIS, "millis"},
            {E::FILES, "files"},
            {E::VALUE, "value"},
            {E::MEDIA_TYPES, "media_types"},
            {E::BLUR_EFFECT, "blur_effect"},
            {E::CLIENT_AUTH, "client_auth"},
            {E::SERVER_AUTH, "server_auth"},
            {E::TAGS, "tags"},
    }};
}

constexpr auto enumRawValues(Pelmar_Theme_Key_Type) {
    using E = Pelmar_Theme_Key_Type;
    return core::internal::RawTable<E, std::string_view, 2>{{
            {E::KEY_HIDE_RECORDER_CONTROLS, "hideRecorderControls"},
            {E::KEY_HIDE_PLAYER_CONTROLS, "hidePlayerControls"},
    }};
}

constexpr auto enumRawValues(Media_Type) {
    using E = Media_Type;
    return core::internal::RawTable<E, std::string_view, 3>{{
            {E::Video, "video"},
            {E::Audio, "audio"},
            {E::Image, "image"},
    }};
}

constexpr auto enumRawValues(Media_Type_Int) {
    using E = Media_Type_Int;
    return core::internal::RawTable<E, int64_t, 3>{{{E::Video, 1}, {E::Audio, 2}, {E::Image, 4}}};
}

constexpr auto enumRawValues(RecordingQuality) {
    using E = RecordingQuality;
    return core::internal::RawTable<E, int64_t, 3>{
            {{E::LowQuality, 0}, {E::MediumQuality, 1}, {E::HighestQuality, 2}}};
}

// The raw value of a case.
template <class E>
constexpr auto rawValue(E value) {
    for (const auto& [candidate, raw] : enumRawValues(E{})) {
        if (candidate == value) {
            return raw;
        }
    }
    return decltype(enumRawValues(E{})[0].second){};
}

// The case whose raw value equals `raw`, or none.
template <class E, class Raw>
constexpr std::optional<E> fromRaw(const Raw& raw) {
    for (const auto& [candidate, candidateRaw] : enumRawValues(E{})) {
        if (candidateRaw == raw) {
            return candidate;
        }
    }
    return std::nullopt;
}

}  // namespace pelmar
