#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

// GalleryMedia: the local media the screen gallery opens its screens with, written here: a JPEG
// photo (the SDK's image encoder), an animated GIF (giflib), a short tone as a WAV file, and the
// picture of a QR code (zxing-cpp's writer) for the camera to see.
// Ownership: functions; the files and pictures belong to the caller.
// Threads: thread-safe.
// Errors: each writer returns a message when the file cannot be written, std::nullopt on success.

namespace pelmar::media {
class PixelBuffer;
}

namespace pelmar::demo {

// A landscape of sky, sun and hills, `width` x `height`; `variant` turns its colours.
std::optional<std::string> writeGalleryJpeg(const std::filesystem::path& file,
                                            int width,
                                            int height,
                                            int variant = 0);

// Eight frames of a coloured ball crossing a square, 0.1 s each, looping.
std::optional<std::string> writeGalleryGif(const std::filesystem::path& file, int side);

// A 440 Hz tone, 16-bit mono PCM at 44.1 kHz.
std::optional<std::string> writeGalleryWav(const std::filesystem::path& file, double seconds);

// A `width` x `height` BGRA camera picture of a QR code holding `text` on a desk; null when no
// picture of that size can be made.
std::shared_ptr<media::PixelBuffer> galleryCodePicture(const std::string& text,
                                                       int width,
                                                       int height);

}  // namespace pelmar::demo
