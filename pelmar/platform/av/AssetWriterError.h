#pragma once

#include <string_view>

namespace pelmar::av {

// Error domain and codes of the asset writer.
inline constexpr std::string_view kAssetWriterErrorDomain = "pelmar.av.writer";
inline constexpr long kAssetWriterErrorCannotOpen = 1;  // file or muxer could not be made
inline constexpr long kAssetWriterErrorFileExists = 2;  // the output file already exists
inline constexpr long kAssetWriterErrorEncoder = 3;     // an encoder failed
inline constexpr long kAssetWriterErrorMuxer = 4;       // writing the file failed
inline constexpr long kAssetWriterErrorNotStarted = 5;  // finished before startWriting
inline constexpr long kAssetWriterErrorInjected = 6;    // a test made it fail

}  // namespace pelmar::av
