#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "testing/RequestLog.h"
#include "testing/ServiceTypes.h"

// ServiceEmulator: the hosting service on loopback, for tests and for tools/pelmar-service. It
// serves the API, CDN API, regional API (under "/embed"), media file server and storage host on
// 127.0.0.1 ... 127.0.0.5, keeps a request log, stores multipart uploads on disk (size and SHA-256
// recorded) and can be scripted per route with faults (status and body, delay, hold, connection cut
// in the request body or in the answer). The videos, audios and images, their streams, states,
// stored files and covers, the upload URLs handed out and the token counters are kept in the data
// folder ("records.json" beside "files"), so an emulator started again on the same folder lists
// and serves what an earlier one stored and hands out only new tokens; sessions, the request log,
// uploads() and debugReports() belong to one run.
// Ownership: owns its five HTTP servers, their threads and (unless Options::dataDir is given) a
//     temporary data folder that the destructor removes. The destructor stops everything.
// Threads: thread-safe, except that start() and stop() belong to the owner (not concurrent with
//     each other). Requests are served on worker threads that grow with the connections; a delayed
//     or held request parks only its own worker.
// Errors: start() throws std::runtime_error when an address cannot be bound, the data folder
//     cannot be made, or it holds records that cannot be read (or stored files without records):
//     such a folder is left as it is. A change whose records cannot be written is answered 500.
//     addFault() throws std::regex_error for a bad path pattern.
// Limits: non-upload request bodies up to kMaxBodyBytes (413 above); uploads up to kMaxUploadBytes;
//     the log keeps RequestLog::kMaxEntries entries and debugReports() the newest kMaxDebugReports.

namespace pelmar::test {

// A multipart upload the storage host accepted and stored.
struct StoredUpload {
    std::string uploadId;
    MediaKind kind = MediaKind::Video;
    std::string appToken;
    std::string token;
    std::string streamToken;
    FieldList fields;
    std::string fileName;
    std::string contentType;
    uint64_t size = 0;
    std::string sha256;
    std::filesystem::path storedFile;
};

// One "/debugger" request: its body, and the decoded events or why decoding failed.
struct DebugReport {
    std::string appToken;
    std::string body;
    std::optional<Json> events;
    std::string error;
};

struct SeededResource {
    std::string token;
    std::string streamToken;
};

class ServiceEmulator {
public:
    struct Options {
        // Where uploads and the records are kept; empty: a fresh temporary folder removed by the
        // destructor.
        std::filesystem::path dataDir;
        // 0: every address gets its own free port; otherwise all five addresses bind this port.
        uint16_t port = 0;
        // With port 0: one free port for all five addresses (as a fixed port gives), so that a
        // client knowing the API base knows them all.
        bool onePort = false;
        bool requireSession = true;
    };

    // A scripted deviation for requests whose method, role and raw path match. The first
    // matching fault (in the order added) applies; a non-persistent one is used up by it.
    struct Fault {
        std::string method;                  // "GET", "POST", ...; "" for any
        std::optional<Role> role;            // std::nullopt for any
        std::string pathPattern;             // ECMAScript regex over the whole raw path
        bool persistent = false;             // false: applies to one request only
        std::chrono::milliseconds delay{0};  // wait before handling
        bool hold = false;  // park the request until releaseHeld() (after the delay)
        // Close the connection once this many body bytes were read (or after a shorter body),
        // without answering and without handling the request.
        std::optional<uint64_t> cutRequestAfter;
        // Answer with this status and body instead of handling the request (the body is read).
        int status = 0;
        std::string body;
        std::string contentType = "application/json";
        // Send the status line, the headers (with the full Content-Length) and only this many
        // bytes of the answer body, then close.
        std::optional<uint64_t> cutResponseAfter;
        // Send the status line, the headers and this many bytes of the answer body, then park
        // the answer (counted by heldCount()) until releaseHeld(); the rest follows. Ignored
        // with cutResponseAfter.
        std::optional<uint64_t> holdResponseAfter;
    };

    static constexpr std::string_view kSessionKeyPrefix = "w3n8tq5ykd2mzh7rp4vxc9bj";
    static constexpr uint64_t kMaxBodyBytes = 16 * 1024 * 1024;
    static constexpr uint64_t kMaxUploadBytes = 64ULL * 1024 * 1024 * 1024;
    static constexpr size_t kMaxDebugReports = 10000;

    // The name under which requests carry the session token of `appToken`.
    static std::string sessionKeyFor(std::string_view appToken);

    ServiceEmulator();
    explicit ServiceEmulator(Options options);
    ~ServiceEmulator();
    ServiceEmulator(const ServiceEmulator&) = delete;
    ServiceEmulator& operator=(const ServiceEmulator&) = delete;

    // The routes it serves (all answers are JSON unless said otherwise; errors are {"error":
    // "<reason>"}):
    // - Every API path is "/v1/applications/<app>/..." on 127.0.0.1 (videos, "/session",
    //   "/debugger") or "/embed/v1/applications/<app>/..." on 127.0.0.3 (audios, images). Any app
    //   token of [A-Za-z0-9._~-] is accepted; resources belong to the app that created them. Tokens
    //   in paths must use the same characters (400 otherwise). Unknown paths 404, wrong methods
    //   405.
    // - Session: POST "/session" answers 200 {"token": "sess-<n>"}, a new token per call, valid for
    //   the emulator's life. With requireSession (the default), every other API request must carry
    //   "w3n8tq5ykd2mzh7rp4vxc9bj" + app = an issued token, in the query or the form body;
    //   otherwise 401. File downloads, the CDN image and the storage host never need it.
    // - Tokens: videos "vid-<n>", audios "aud-<n>", images "img-<n>", streams "str-<n>", uploads
    //   "up-<n>" (one counter each, from 1 in a new data folder, going on from the recorded ones
    //   in a folder used before).
    // - Create (video: POST ".../videos/videos-upload-url?create_stream=true" or ".../videos";
    //   audio/image: POST the bare collection) answers 200 {"<kind>": model, "<stream key>":
    //   {"token", "state_string"}, "url_data": {"url": "<storage>/upload/up-<n>", "fields": {...}}}
    //   with stream keys "stream", "audio_stream", "image_stream". Form "title" and "description"
    //   set the model's fields. Default upload fields are "key", "policy" and "signature"
    //   (setUploadFields replaces them).
    // - A model is {"token", "key" ("<kind>s/<token>"), "title", "description", "state_string",
    //   "created" (Unix seconds), "duration" (0), "streams": [{"token", "state_string", "size",
    //   "sha256"}]}; videos add "default_stream" {"token"} and "original_stream" {"token",
    //   "audio_transcription": {"words": [], "times": []}}. States: "EMPTY" when created,
    //   "VERIFIED" once storage holds the file, "READY" once confirmed.
    // - Storage: POST "/upload/<id>" with Content-Length (411 without) and a multipart/form-data
    //   body exactly as MultipartStreamParser describes: the fields must equal the ones handed out
    //   (non-string values as their compact JSON text) else 403; exactly one file part, last;
    //   malformed bodies 400 with the reason. Success 201 {"upload", "size", "sha256"}.
    // - Confirm (video ".../streams/<s>/confirm-video", audio/image ".../<t>/confirm") answers like
    //   get; 409 when storage has no file yet. Get answers the video model itself, {"audio": model}
    //   or {"image": model}; update (POST ".../<t>" or ".../<t>/streams/<s>") and recordersubmit
    //   answer the model; delete answers {"deleted": true, "token"[, "stream"]}; index answers an
    //   array of models in creation order.
    // - Downloads: CDN ".../videos/<t>/video.mp4", file server ".../audios/<t>/audio.aac" and
    //   ".../images/<t>/image.jpg" serve the newest confirmed file with Content-Length (404
    //   before).
    //   ".../videos/<t>/image" (API and CDN) serves the attached cover or a tiny JPEG;
    //   ".../imageattach" stores its raw body as the cover.
    // - "/debugger": the raw body must be one form field "events=" + percent-encoded JSON; it is
    //   decoded ('+' is a blank) and recorded (200 {"received": <events>}), or the failure is
    //   recorded (400).
    void start();
    // Wakes delayed and held requests, stops the servers and joins their threads. Idempotent.
    void stop();

    // Base URLs ("http://127.0.0.1:<port>", ...; devApiBase() ends in "/embed"). Valid after
    // start().
    std::string apiBase() const;
    std::string cdnApiBase() const;
    std::string devApiBase() const;
    std::string fileServerBase() const;
    std::string storageBase() const;
    std::string base(Role role) const;
    std::string address(Role role) const;
    int port(Role role) const;
    const std::filesystem::path& dataDir() const;

    void setRequireSession(bool required);
    int64_t sessionCalls() const;
    std::vector<std::string> sessionTokens() const;
    // Shorthands for faults on POST ".../session"; return the fault id.
    int delaySession(std::chrono::milliseconds delay, bool persistent = true);
    int failSession(int status, std::string body, bool persistent = true);

    // The form fields handed out with later upload URLs (a JSON object; order kept). After
    // start(); throws std::invalid_argument for a non-object.
    void setUploadFields(Json fields);

    int addFault(Fault fault);
    void removeFault(int id);
    void clearFaults();
    size_t heldCount() const;
    // Waits until at least `count` requests are held; false on time-out.
    bool waitForHeld(size_t count, std::chrono::milliseconds timeout) const;
    void releaseHeld();

    std::vector<LoggedRequest> requests() const;
    std::vector<LoggedRequest> requestsTo(const std::string& pathPattern) const;
    std::vector<LoggedRequest> requestsMatching(std::string_view method,
                                                const std::string& pathPattern) const;
    bool waitForRequests(const std::function<bool(const std::vector<LoggedRequest>&)>& predicate,
                         std::chrono::milliseconds timeout) const;
    void clearRequests();

    std::vector<StoredUpload> uploads() const;
    // Most storage uploads that were being received at the same time.
    size_t maxConcurrentUploads() const;
    std::vector<DebugReport> debugReports() const;
    // The model of a resource as get answers it (unwrapped), or std::nullopt.
    std::optional<Json> resource(const std::string& token) const;
    // A confirmed resource whose file is `file` (served in place: it must stay, and it is never
    // modified or removed by the emulator). After start().
    SeededResource seedResource(MediaKind kind,
                                const std::string& appToken,
                                const std::filesystem::path& file);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace pelmar::test
