#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "testing/ServiceTypes.h"

// ServiceRecords: what the emulated service keeps across restarts: its videos, audios and images
// with their streams (state, stored file, size, SHA-256), covers, the upload slots handed out and
// the counters its tokens come from. RecordsFile reads and writes them as the data folder's
// "records.json", replaced whole (written aside, then renamed over) on every save, so a reader
// never finds half a file.
// Ownership: plain values; RecordsFile names a file and holds nothing open.
// Threads: thread-compatible (the service state saves under its own lock).
// Errors: RecordsFile::load() throws std::runtime_error for records that cannot be read, and for
//     a folder that holds stored files but no records (they would be overwritten); save() reports
//     a failed write by its result.

namespace pelmar::test::internal {

struct UploadTarget {
    std::string id;
    std::string app;
    MediaKind kind = MediaKind::Video;
    std::string token;
    std::string stream;
    Json fields;
};

struct RecordedStream {
    std::string token;
    std::string state = "EMPTY";
    std::filesystem::path file;  // absolute; empty before a file is stored
    bool ownsFile = false;       // stored in the data folder, not served in place
    uint64_t size = 0;
    std::string sha256;
    uint64_t confirmedAt = 0;  // order of confirmation; 0 = never
};

struct RecordedResource {
    MediaKind kind = MediaKind::Video;
    std::string app;
    std::string token;
    std::string title;
    std::string description;
    int64_t created = 0;
    uint64_t serial = 0;
    std::vector<RecordedStream> streams;
    std::filesystem::path cover;  // absolute; empty without an attached cover
};

struct ServiceRecords {
    std::map<std::string, RecordedResource> resources;  // by token
    std::map<std::string, UploadTarget> slots;          // by upload id
    uint64_t serials = 0;                               // serials and confirmations
    uint64_t videos = 0;
    uint64_t audios = 0;
    uint64_t images = 0;
    uint64_t streams = 0;
    uint64_t uploads = 0;
};

class RecordsFile {
public:
    static constexpr const char* kFileName = "records.json";

    explicit RecordsFile(std::filesystem::path dataDir);

    const std::filesystem::path& path() const { return path_; }

    // The records kept in the folder; empty ones for a folder that has none yet.
    ServiceRecords load() const;

    // Writes `records` in place of the kept ones; false when they could not be written (the kept
    // ones then stay as they were).
    bool save(const ServiceRecords& records) const;

private:
    const std::filesystem::path dataDir_;
    const std::filesystem::path path_;
};

}  // namespace pelmar::test::internal
