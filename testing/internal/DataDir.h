#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <string>

#include "testing/internal/ServiceState.h"

// DataDir: the emulator's data folder and the service state kept in it. The folder is either
// given (borrowed: left in place) or a fresh temporary one (owned: removed with everything in it
// on destruction). It lays the folder out ("incoming" for uploads being received, "files" for
// stored ones) and names the incoming files.
// Ownership: made by the emulator's start(); owns the ServiceState, and the folder when it made it.
// Threads: thread-safe (state() is; incomingFile() numbers atomically).
// Errors: the constructor throws std::runtime_error when the folder or its layout cannot be made,
//     after removing a temporary folder it made.

namespace pelmar::test::internal {

class DataDir {
public:
    // `given` empty: a fresh folder under the system's temporary directory.
    explicit DataDir(const std::filesystem::path& given);

    DataDir(const DataDir&) = delete;
    DataDir& operator=(const DataDir&) = delete;

    // Absolute.
    const std::filesystem::path& path() const { return folder_.path; }

    ServiceState& state() { return state_; }

    const ServiceState& state() const { return state_; }

    // A path under "incoming" for a part file of upload `uploadId`, never handed out before by
    // this folder.
    std::filesystem::path incomingFile(const std::string& uploadId);

private:
    // The folder itself, removed with its contents on destruction when it was made here. A
    // member of its own, ahead of the state, so that it is removed also when a later member's
    // constructor (or the layout) throws.
    struct Folder {
        explicit Folder(const std::filesystem::path& given);
        ~Folder();
        Folder(const Folder&) = delete;
        Folder& operator=(const Folder&) = delete;

        const bool owned;
        const std::filesystem::path path;
    };

    const Folder folder_;
    std::atomic<uint64_t> incomingFiles_{0};
    ServiceState state_;
};

}  // namespace pelmar::test::internal
