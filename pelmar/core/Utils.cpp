#include "pelmar/core/Utils.h"

#include <cinttypes>
#include <cstdio>
#include <random>

#include "pelmar/platform/dispatch/Clock.h"
#include "pelmar/platform/foundation/Console.h"
#include "pelmar/platform/foundation/FileManager.h"
#include "pelmar/platform/foundation/Sandbox.h"
#include "pelmar/platform/foundation/URL.h"
#include "pelmar/platform/ui/Application.h"
#include "pelmar/platform/ui/ViewController.h"
#include "pelmar/platform/ui/Window.h"

namespace pelmar {
namespace {

constexpr std::string_view kSharedCachesFolder = "Library/Caches";
constexpr std::string_view kScreenRecordingFolder = "com.pelmar.screen-recording";
constexpr std::string_view kFileURLScheme = "file://";

uint32_t randomNameNumber() {
    thread_local std::mt19937 generator{std::random_device{}()};
    std::uniform_int_distribution<uint32_t> distribution(0, 4294967294u);
    return distribution(generator);
}

}  // namespace

void Utils::showPresentViewController(const std::shared_ptr<ui::ViewController>& controller) {
    auto window = ui::Application::shared().keyWindow();
    if (!window || !window->rootViewController()) {
        return;
    }
    auto top = window->rootViewController();
    while (auto presented = top->presentedViewController()) {
        if (presented == top) {
            break;
        }
        top = std::move(presented);
    }
    top->present(controller, /*animated=*/true, nullptr);
}

std::filesystem::path Utils::getDocumentsDirectory() {
    return foundation::Sandbox::documentsDirectory();
}

std::optional<std::filesystem::path> Utils::getWritableSharedDirectory(std::string_view appGroup) {
    auto container = foundation::Sandbox::containerForAppGroup(appGroup);
    if (!container) {
        return std::nullopt;
    }
    return *container / kSharedCachesFolder;
}

std::optional<std::filesystem::path> Utils::getSharedScreenRecordingDirectory(
        std::string_view appGroup) {
    auto shared = getWritableSharedDirectory(appGroup);
    if (!shared) {
        return std::nullopt;
    }
    auto folder = *shared / kScreenRecordingFolder;
    (void)foundation::FileManager::createDirectory(folder, /*intermediates=*/true);
    return folder;
}

std::optional<std::filesystem::path> Utils::moveFile(const std::filesystem::path& file,
                                                     const std::filesystem::path& folder) {
    const auto destination = folder / file.filename();
    if (auto error = foundation::FileManager::moveItem(file, destination)) {
        foundation::Console::print("Unexpected error: " + error->description() + ".");
        return std::nullopt;
    }
    return destination;
}

std::optional<std::string> Utils::copyFileToTemporaryDirectory(const std::string& sourcePath) {
    const auto seconds = static_cast<int64_t>(dispatch::absoluteTime());
    char name[64];
    std::snprintf(name, sizeof name, "%" PRId64 "_%" PRIu32 ".mp4", seconds, randomNameNumber());
    const std::string destination = (foundation::Sandbox::temporaryDirectory() / name).string();
    if (auto error = foundation::FileManager::copyItem(sourcePath, destination)) {
        foundation::Console::print("Failed to copy file " + sourcePath + " to temporary file "
                                   + destination + ": " + error->description());
        return std::nullopt;
    }
    foundation::Console::print("Copied file " + sourcePath + " to temporary file " + destination);
    return destination;
}

void Utils::removeFile(const std::filesystem::path& file) {
    (void)foundation::FileManager::removeItem(file);
}

int64_t Utils::fileSize(const std::filesystem::path& file) {
    auto size = foundation::FileManager::fileSize(file);
    return size ? static_cast<int64_t>(*size) : -1;
}

std::optional<std::string> Utils::localPath(std::string_view pathOrFileURL) {
    if (!pathOrFileURL.starts_with(kFileURLScheme)) {
        return std::string(pathOrFileURL);
    }
    return foundation::pathFromFileURL(pathOrFileURL);
}

}  // namespace pelmar
