#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

// Utils: the file and folder operations shared by the screens and the screen-recording hand-over
// (Documents, the app group's shared folders, move, copy, remove, size), and presenting a screen
// over whatever the app shows.
// Ownership: static functions; nothing is kept.
// Threads: thread-safe, except `showPresentViewController` (main thread only).
// Errors: an absent result or -1; `moveFile` and `copyFileToTemporaryDirectory` also print a line
//     to standard output.

namespace pelmar::ui {
class ViewController;
}  // namespace pelmar::ui

namespace pelmar {

class Utils {
public:
    Utils() = delete;

    // Presents `controller` animated over the top of the key window's chain of presented
    // controllers; nothing happens without a key window and root controller.
    static void showPresentViewController(const std::shared_ptr<ui::ViewController>& controller);

    static std::filesystem::path getDocumentsDirectory();

    // The group's shared container + "Library/Caches"; none for a group the app does not belong
    // to. Nothing is created.
    static std::optional<std::filesystem::path> getWritableSharedDirectory(
            std::string_view appGroup);

    // The shared folder + "com.pelmar.screen-recording", created when missing (a failure to
    // create it is ignored); none for an unknown group.
    static std::optional<std::filesystem::path> getSharedScreenRecordingDirectory(
            std::string_view appGroup);

    // Moves `file` into `folder` under its own name and returns the new path. Never replaces an
    // existing file: on any failure prints "Unexpected error: <description>." and returns none.
    static std::optional<std::filesystem::path> moveFile(const std::filesystem::path& file,
                                                         const std::filesystem::path& folder);

    // Copies `sourcePath` into the temporary folder as "<absolute seconds>_<random>.mp4" and
    // returns the new path; prints what it did either way.
    static std::optional<std::string> copyFileToTemporaryDirectory(const std::string& sourcePath);

    // Removes the file; errors are ignored.
    static void removeFile(const std::filesystem::path& file);

    // The file's size in bytes, or -1 when it cannot be read.
    static int64_t fileSize(const std::filesystem::path& file);

    // The local path a string names: a "file://" URL becomes its percent-decoded path; any other
    // string is taken as a path as it stands. None for a malformed "file://" URL.
    static std::optional<std::string> localPath(std::string_view pathOrFileURL);
};

}  // namespace pelmar
