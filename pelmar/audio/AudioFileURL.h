#pragma once

#include <filesystem>
#include <optional>
#include <string>

// File helpers of the audio managers.
// Threads: thread-safe. Errors: none.
namespace pelmar::AudioFileURL {

// True when a file exists at `path`.
bool checkPath(const std::filesystem::path& path);

// `fileName` inside the app's Documents folder, when that folder exists; the file itself need
// not exist.
std::optional<std::filesystem::path> documentsPath(const std::string& fileName);

// The "file://" URL text of a path.
std::string absoluteString(const std::filesystem::path& path);

}  // namespace pelmar::AudioFileURL
