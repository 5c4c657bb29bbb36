#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

// AVCCParser: finds the H.264 parameter sets (SPS, type 7; PPS, type 8) among the length-prefixed
// NAL units of an access unit and builds the AVCDecoderConfigurationRecord (ISO/IEC 14496-15) that
// an FLV AVC sequence header carries; also reads the picture size an SPS announces.
// Ownership: plain value; keeps copies of the units found.
// Threads: thread-compatible.
// Errors: std::runtime_error from GetDecoderConfigurationRecord: "no sps defined", "too many sps
//         units" (over kMaxSpsUnits), "too many pps units" (over kMaxPpsUnits), "parameter set too
//         long" (a unit over kMaxParameterSetLength bytes). ExtractSpsPps and PictureSize never
//         throw on malformed data (beyond std::bad_alloc).
// Limits: the record's fields: kMaxSpsUnits SPS and kMaxPpsUnits PPS units of at most
//         kMaxParameterSetLength bytes each; an SPS shorter than kMinSpsLength bytes (no profile
//         and level to copy) is not taken.

namespace pelmar::live {

class AVCCParser {
public:
    static constexpr size_t kMaxSpsUnits = 31;
    static constexpr size_t kMaxPpsUnits = 255;
    static constexpr size_t kMaxParameterSetLength = 0xFFFF;
    static constexpr size_t kMinSpsLength = 4;

    struct PictureSize {
        uint32_t width = 0;
        uint32_t height = 0;
    };

    AVCCParser() = default;

    virtual ~AVCCParser() = default;

    AVCCParser(const AVCCParser&) = default;
    AVCCParser& operator=(const AVCCParser&) = default;

    // Replaces both lists with the SPS and PPS units of `data`, a run of NAL units each preceded by
    // a 32-bit big-endian length. Zero lengths are passed over; a length beyond the end ends the
    // scan.
    void ExtractSpsPps(const std::vector<uint8_t>& data);

    const std::vector<std::vector<uint8_t>>& SPS() const { return sps_; }

    const std::vector<std::vector<uint8_t>>& PPS() const { return pps_; }

    // Version 1, profile, compatibility and level from the first SPS, 4-byte NAL lengths, then
    // every SPS and every PPS found, in order.
    std::vector<uint8_t> GetDecoderConfigurationRecord() const;

    // The cropped picture size of an SPS unit (NAL header byte included), or nothing when the unit
    // is truncated or malformed.
    static std::optional<PictureSize> ReadPictureSize(const std::vector<uint8_t>& sps);

private:
    std::vector<std::vector<uint8_t>> sps_;
    std::vector<std::vector<uint8_t>> pps_;
};

}  // namespace pelmar::live
