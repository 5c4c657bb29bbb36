#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "testing/TempDir.h"
#include "testing/internal/ServiceState.h"

// DataDir: the emulator's data folder and the service state kept in it. The folder is either
// given (borrowed: left in place) or a fresh temporary one (owned: removed with everything in it
// on destruction). It lays the folder out ("incoming" for uploads being received, "files" for
// stored ones) and names the incoming files.
// Ownership: made by the emulator's start(); owns the ServiceState, and the folder when it made it.
// Threads: thread-safe (state() is; incomingFile() numbers atomically).
// Errors: the constructor throws std::runtime_error when the folder or its layout cannot be made,
//     or when the folder holds service records that cannot be read (it then changes nothing in
//     it), after removing a temporary folder it made.

namespace pelmar::test::internal {

class DataDir {
public:
    // `given` empty: a fresh folder under the system's temporary directory.
    explicit DataDir(const std::filesystem::path& given);

    DataDir(const DataDir&) = delete;
    DataDir& operator=(const DataDir&) = delete;

    // Absolute.
    const std::filesystem::path& path() const { return path_; }

    ServiceState& state() { return state_; }

    const ServiceState& state() const { return state_; }

    // A path under "incoming" for a part file of upload `uploadId`, never handed out before by
    // this folder.
    std::filesystem::path incomingFile(const std::string& uploadId);

private:
    // The temporary folder when it was made here (removed with everything in it on
    // destruction), ahead of the state, so that it is removed also when the state's constructor
    // or the layout throws.
    const std::optional<TempDir> made_;
    const std::filesystem::path path_;
    std::atomic<uint64_t> incomingFiles_{0};
    ServiceState state_;
};

}  // namespace pelmar::test::internal
