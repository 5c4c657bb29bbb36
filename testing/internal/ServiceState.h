#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "pelmar/platform/sync/Mutex.h"
#include "testing/ServiceEmulator.h"
#include "testing/ServiceTypes.h"
#include "testing/internal/Answer.h"
#include "testing/internal/ServiceRecords.h"

// ServiceState: the emulated service's data: sessions, videos/audios/images with their streams, the
// upload slots handed out with upload URLs, stored files, covers and "/debugger" reports. It
// answers the API operations once the HTTP layer has routed and checked a request. The
// resources, streams, files, covers, slots and token counters are kept in the data folder's
// records (ServiceRecords) after every change and read back on construction, so a service
// started again on the same folder serves what it stored and never hands out a token twice;
// sessions, debugger reports and the list of uploads() are this run's only.
// Ownership: owned by the emulator's DataDir; owns the files it stores under dataDir/files.
// Threads: thread-safe (one mutex, held only for in-memory work, renames and the records' write).
// Errors: the constructor throws std::runtime_error for records that cannot be read (see
//     RecordsFile::load). Refusals are Answers with an error status (404 unknown resource, 409 no
//     file, 500 when the records cannot be written, ...).
// Limits: covers up to the request body cap of the HTTP layer.

namespace pelmar::test::internal {

class ServiceState {
public:
    explicit ServiceState(std::filesystem::path dataDir);

    void setStorageBase(std::string base);
    void setUploadFields(Json fields);

    std::string issueSession();
    bool isSession(const std::string& token) const;
    std::vector<std::string> sessionTokens() const;

    Answer create(MediaKind kind, const std::string& app, const FieldList& params);
    Answer createStream(const std::string& app, const std::string& token);
    Answer index(MediaKind kind, const std::string& app) const;
    Answer get(MediaKind kind, const std::string& app, const std::string& token) const;
    Answer update(MediaKind kind,
                  const std::string& app,
                  const std::string& token,
                  const std::string& stream,
                  const FieldList& params);
    Answer remove(MediaKind kind,
                  const std::string& app,
                  const std::string& token,
                  const std::string& stream);
    Answer confirm(MediaKind kind,
                   const std::string& app,
                   const std::string& token,
                   const std::string& stream);
    Answer recorderSubmit(const std::string& app,
                          const std::string& token,
                          const std::string& stream) const;
    Answer attachCover(const std::string& app,
                       const std::string& token,
                       const std::string& stream,
                       std::string jpeg);
    Answer thumbnail(const std::string& app, const std::string& token) const;
    Answer download(MediaKind kind, const std::string& app, const std::string& token) const;

    std::optional<UploadTarget> uploadTarget(const std::string& id) const;
    // Moves `incomingFile` into place as the stream's file and records the upload.
    Answer storeUpload(const UploadTarget& target,
                       StoredUpload record,
                       const std::filesystem::path& incomingFile);
    std::vector<StoredUpload> uploads() const;

    void addDebugReport(DebugReport report);
    std::vector<DebugReport> debugReports() const;

    std::optional<Json> resourceJson(const std::string& token) const;
    SeededResource seed(MediaKind kind, const std::string& app, const std::filesystem::path& file);

private:
    using Stream = RecordedStream;
    using Resource = RecordedResource;

    // The helpers below run with mutex_ held.
    Resource* find(MediaKind kind, const std::string& app, const std::string& token)
            PELMAR_REQUIRES(mutex_);
    const Resource* find(MediaKind kind, const std::string& app, const std::string& token) const
            PELMAR_REQUIRES(mutex_);
    static const Stream* defaultStream(const Resource& resource);
    static Json model(const Resource& resource);
    static Json wrapped(const Resource& resource);
    Json issueUpload(Resource& resource, const std::string& stream) PELMAR_REQUIRES(mutex_);
    Json createAnswer(Resource& resource, const std::string& stream) PELMAR_REQUIRES(mutex_);
    void removeStreamFile(Stream& stream);
    // Writes the records; `done` when they were written, else a 500 refusal.
    Answer saved(Answer done) PELMAR_REQUIRES(mutex_);

    const std::filesystem::path dataDir_;
    const RecordsFile recordsFile_;
    mutable Mutex mutex_;
    std::string storageBase_ PELMAR_GUARDED_BY(mutex_);
    std::optional<Json> uploadFields_ PELMAR_GUARDED_BY(mutex_);
    std::vector<std::string> sessions_ PELMAR_GUARDED_BY(mutex_);
    ServiceRecords records_ PELMAR_GUARDED_BY(mutex_);
    std::vector<StoredUpload> uploads_ PELMAR_GUARDED_BY(mutex_);
    std::vector<DebugReport> debugReports_ PELMAR_GUARDED_BY(mutex_);
};

}  // namespace pelmar::test::internal
