#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "pelmar/platform/foundation/Error.h"
#include "pelmar/platform/foundation/Json.h"
#include "pelmar/platform/net/HTTPURLResponse.h"
#include "pelmar/platform/net/URLRequest.h"
#include "pelmar/platform/net/URLSessionDelegate.h"
#include "pelmar/platform/net/URLSessionTask.h"
#include "pelmar/platform/sync/Mutex.h"

// PelmarConnect: the SDK's one HTTP client. It turns a path and a parameter dictionary into a
// form-encoded request to the hosting service, attaches the session token it obtains once from
// "/session" (and the client/server auth tokens), and hands the answer back raw, as text or as
// JSON. It also runs the multipart file uploads, strictly one at a time in request order.
// Ownership: made by the facade with create() and owned by it; it refers back to the facade by
//     reference and stops using it once the facade ends (detachApplication()). Requests and uploads
//     in flight keep the client alive until their callbacks have run; the facade's end cancels
//     nothing.
// Threads: thread-safe; one mutex guards the session, the auth tokens, the upload table and the
//     upload gate, and is never held while calling out. Waiting uploads hold no thread: the end of
//     each upload starts the next. Request callbacks run on the shared URL session's delegate queue
//     (never the main queue); upload callbacks and progress run on the upload's own serial queue.
// Errors: transport failures reach callbacks as kURLErrorDomain errors (a request that cannot be
//     sent included); an HTTP error status is not an error here. Uploads also fail with
//     kMultipartErrorDomain errors for unsafe form fields and with file errors for a missing or
//     changing source. Undecodable text or JSON gives an absent value without an error.

namespace pelmar {

class Pelmar;

class PelmarConnect : public net::URLSessionDelegate,
                      public std::enable_shared_from_this<PelmarConnect> {
    struct Private {};

public:
    using Task = std::shared_ptr<net::URLSessionTask>;
    using Response = std::shared_ptr<const net::HTTPURLResponse>;
    // (answer bytes, response, error); the bytes are absent after an error.
    using DataCallback =
            std::function<void(std::optional<std::string>, Response, std::optional<Error>)>;
    // (UTF-8 text, response, error).
    using StringCallback =
            std::function<void(std::optional<std::string>, Response, std::optional<Error>)>;
    // (JSON dictionary or array, response, error).
    using JsonCallback = std::function<void(std::optional<Json>, Response, std::optional<Error>)>;
    // (total bytes sent, total bytes expected to send).
    using ProgressCallback = std::function<void(int64_t, int64_t)>;
    // Takes the completed parameter dictionary and returns the task it started, if any.
    using SessionDataCallback = std::function<Task(std::optional<Json>)>;
    // Takes the session parameter's name and value and returns the task it started, if any.
    using SessionCallback =
            std::function<Task(std::optional<std::string>, std::optional<std::string>)>;

    // The session parameter's name is this text followed directly by the application token.
    static constexpr std::string_view kSessionKeyPrefix = "w3n8tq5ykd2mzh7rp4vxc9bj";
    static constexpr std::string_view kSessionPath = "/session";
    static constexpr double kRequestTimeoutSeconds = 60.0;
    // The status with which the service refuses a session token it does not know.
    static constexpr long kUnauthorizedStatus = 401;
    // The only identifier appWakeupSignalTaskComplete acts on.
    static constexpr std::string_view kWakeupSessionIdentifier = "uploadingSession";
    static constexpr std::string_view kReturnNoticeTitle = "App Needs To Run in Foreground";
    static constexpr std::string_view kReturnNoticeBody =
            "Please switch back to this app to continue the video upload";
    static constexpr double kReturnNoticeDelaySeconds = 10.0;

    static std::shared_ptr<PelmarConnect> create(Pelmar& application);

    PelmarConnect(Private, Pelmar& application);

    ~PelmarConnect() override;

    PelmarConnect(const PelmarConnect&) = delete;
    PelmarConnect& operator=(const PelmarConnect&) = delete;

    // Sent as "client_auth" and "server_auth" with every service request while set.
    std::optional<std::string> clientAuthToken() const;

    void setClientAuthToken(std::optional<std::string> token);

    std::optional<std::string> serverAuthToken() const;

    void setServerAuthToken(std::optional<std::string> token);

    // A form-encoded request with the session parameters. For "POST" the parameters form the
    // body; for every other method they follow "?" in the URL (which then ends in "?" when there
    // are none). Returns the request's task, or, while no session token is held, the task of the
    // "/session" request that runs first. The callback runs once.
    // Only string values of `data` travel; keys and values are percent-encoded keeping only
    // A-Z a-z 0-9 - . _ ~, as "k=v&" each. `path` is a whole URL only when it begins with
    // "http://" or "https://"; otherwise it is appended to serverAPIUrl + "/v1/applications/" +
    // app token. The session parameter and "client_auth"/"server_auth" go only to URLs whose
    // scheme, host and port are those of one of the four service bases of the facade's config.
    // A request carrying any of them follows a redirect only within its own origin (scheme,
    // host and port); a redirect elsewhere ends it with kURLErrorRedirectToAnotherOrigin, and
    // nothing is sent there.
    // A 401 answer to a request that carried a session token (the service restarted, or the
    // session expired) drops that token, gets a new session and repeats the request once, as a
    // task of its own; the callback hears the repeat's answer, a second 401 included.
    Task requestWithMethod(std::string method,
                           std::string path,
                           std::optional<Json> data,
                           DataCallback callback);

    // Text: the answer decoded as UTF-8 when no error came and bytes arrived, else absent.
    Task requestStringWithMethod(std::string method,
                                 std::string path,
                                 std::optional<Json> data,
                                 StringCallback callback);

    // JSON: a transfer error gives (absent, response, error); no bytes, unparsable JSON or
    // another top-level kind give (absent, response, absent).
    Task requestJSONWithMethod(std::string method,
                               std::string path,
                               std::optional<Json> data,
                               JsonCallback callback);

    Task requestJSONArrayWithMethod(std::string method,
                                    std::string path,
                                    std::optional<Json> data,
                                    JsonCallback callback);

    Task getWithPath(std::string path, std::optional<Json> data, DataCallback callback);

    Task getStringWithPath(std::string path, std::optional<Json> data, StringCallback callback);

    Task getJsonWithPath(std::string path, std::optional<Json> data, JsonCallback callback);

    Task getJsonArrayWithPath(std::string path, std::optional<Json> data, JsonCallback callback);

    Task postWithPath(std::string path, std::optional<Json> data, DataCallback callback);

    Task postJsonWithPath(std::string path, std::optional<Json> data, JsonCallback callback);

    Task deleteWithPath(std::string path, std::optional<Json> data, DataCallback callback);

    Task deleteJsonWithPath(std::string path, std::optional<Json> data, JsonCallback callback);

    // A POST whose body is `data` (sent as application/x-www-form-urlencoded whatever it is)
    // and whose parameters, session included, follow "?" in the URL. Repeated once after a 401
    // as requestWithMethod is.
    Task postRawDataWithPath(std::string path,
                             std::string data,
                             std::optional<Json> params,
                             DataCallback callback);

    // Calls `callback` with `data` plus the session parameters a request to `path` must carry
    // (none for "/session", none for a foreign host, none while no token could be obtained), at
    // once when a token is held, else once "/session" answered. Returns the callback's task, or
    // the "/session" task.
    Task addSessionData(std::optional<Json> data, std::string path, SessionDataCallback callback);

    // Hands `callback` the session parameter's name and value: inline on the caller's thread
    // when held, else after the one "/session" request that every waiter shares (then on the
    // shared session's delegate queue). A failed or token-less answer leaves the session unset
    // (the next request tries again) and never clears a token already held; only a 401 to a
    // request that carried the token does (see requestWithMethod).
    Task getSession(SessionCallback callback);

    // The request as diagnostic text (URL, method, header fields, ASCII body).
    static std::string formatURLRequest(const net::URLRequest& request);

    // Uploads `filePath` as the file part "file" (file name `fileName` + "." + `fileExtension`,
    // type `mimeType`) after `parameters`' fields, with a POST to `url`, streamed from disk with
    // an exact Content-Length. Uploads run one at a time in request order; each starts when the
    // previous one ends (whatever its outcome). `callback` gets (answer bytes, response, error)
    // once; `progress` (total sent, body size) whenever the count grows. A missing, unreadable
    // or changing source, an unsafe form field and an unusable URL end the upload with an error.
    // `identifier` names the upload's session. Returns the upload's own task at once; while no
    // session token is held it starts once "/session" has answered (whatever the answer).
    Task uploadFileWithPath(std::string url,
                            std::optional<Json> parameters,
                            std::string identifier,
                            std::string filePath,
                            std::string fileName,
                            std::string mimeType,
                            std::string fileExtension,
                            DataCallback callback,
                            ProgressCallback progress);

    // For the host app: when uploads are in flight, asks the user (a local notification ten
    // seconds from now) to come back to the app.
    void applicationDidEnterBackground();

    // For the host app, with the identifier of a session whose background work the platform
    // finished. Upload outcomes always arrive through the uploads' own completions, so this
    // completes nothing (and never reports success for an upload).
    void appWakeupSignalTaskComplete(std::string_view identifier);

    // Uploads requested and not yet completed, in the whole process.
    static int64_t uploadsInFlight();

    // The facade ends: from now on requests fail with kURLErrorCancelled and nothing reads the
    // facade. Waits for readers of the facade that are running right now.
    void detachApplication();

    // Upload session events (the client is the delegate of every upload session it makes).
    void didReceiveData(net::URLSession& session,
                        const std::shared_ptr<net::URLSessionTask>& task,
                        const std::string& data) override;

    void didSendBodyData(net::URLSession& session,
                         const std::shared_ptr<net::URLSessionTask>& task,
                         int64_t bytesSent,
                         int64_t totalBytesSent,
                         int64_t totalBytesExpectedToSend) override;

    void didCompleteWithError(net::URLSession& session,
                              const std::shared_ptr<net::URLSessionTask>& task,
                              const std::optional<Error>& error) override;

private:
    struct BackgroundTaskContext;

    // What requests read from the facade, taken in one go.
    struct ServiceView {
        std::string appToken;
        std::string serverAPIUrl;
        std::vector<std::string> origins;  // of the four service bases
    };

    std::optional<ServiceView> serviceView() const;

    void log(std::string_view item) const;

    // The absolute URL for `path`, or std::nullopt once detached.
    std::optional<std::string> resolve(const std::string& path, const ServiceView& view) const;

    bool isServiceURL(const std::string& path) const;

    // Builds a form request and its task (suspended).
    Task makeRequestTask(const ServiceView& view,
                         const std::string& method,
                         const std::string& path,
                         const std::optional<Json>& params,
                         DataCallback callback);

    // Sends a request with the parameters `addSessionData` completed.
    using Sender = std::function<Task(const std::optional<Json>& params, DataCallback callback)>;

    // `send` with `data` plus the session parameters of `path`. With `renewOnRefusal`, a 401
    // answer to a request that carried a session token drops that token and sends once more
    // with a new session; the callback hears only the last answer.
    Task sendWithSession(std::string path,
                         std::optional<Json> data,
                         Sender send,
                         DataCallback callback,
                         bool renewOnRefusal);

    // A session token a request carried, and which of the sessions held so far it was from.
    struct SessionUse {
        std::string token;
        uint64_t generation = 0;
    };

    // The session token `params` carry under the session parameter's name, if any.
    std::optional<SessionUse> sessionUsedBy(const std::optional<Json>& params) const;

    // Forgets the session token `use` names if it is still the one held.
    void dropSession(const SessionUse& use);

    Task sendRequest(const std::string& method,
                     const std::string& path,
                     const std::optional<Json>& params,
                     DataCallback callback);

    void sessionAnswered(const std::optional<Json>& answer);

    // Builds the upload's task (suspended) and registers its context.
    Task makeUploadTask(const std::string& url,
                        const std::optional<Json>& parameters,
                        const std::string& identifier,
                        const std::string& filePath,
                        const std::string& fileName,
                        const std::string& mimeType,
                        const std::string& fileExtension,
                        DataCallback callback,
                        ProgressCallback progress);

    // The FIFO gate: starts `task` now or after the uploads queued before it; nothing for a task
    // that has already ended.
    void enqueueUpload(const Task& task);

    // `task` ended; returns the next upload to start, if any.
    Task releaseUpload(const Task& task);

    void askUserToGoBackToTheAppToContinueUpload();

    static void failLater(const DataCallback& callback, Error error);

    mutable SharedMutex applicationMutex_;
    Pelmar* application_ PELMAR_GUARDED_BY(applicationMutex_);  // null once detached

    mutable Mutex mutex_;
    std::optional<std::string> sessionValue_ PELMAR_GUARDED_BY(mutex_);
    std::optional<std::string> sessionKey_ PELMAR_GUARDED_BY(mutex_);
    uint64_t sessionGeneration_ PELMAR_GUARDED_BY(mutex_) = 0;  // tokens obtained so far
    Task sessionTask_ PELMAR_GUARDED_BY(mutex_);
    std::vector<SessionCallback> sessionWaiters_ PELMAR_GUARDED_BY(mutex_);
    std::optional<std::string> clientAuthToken_ PELMAR_GUARDED_BY(mutex_);
    std::optional<std::string> serverAuthToken_ PELMAR_GUARDED_BY(mutex_);
    // By task identifier (unique in the process), from registration to completion.
    std::map<uint64_t, std::shared_ptr<BackgroundTaskContext>> backgroundTasksContexts_
            PELMAR_GUARDED_BY(mutex_);
    Task uploadRunning_ PELMAR_GUARDED_BY(mutex_);
    std::deque<Task> uploadWaiting_ PELMAR_GUARDED_BY(mutex_);

    static std::atomic<int64_t> uploadsInFlight_;
};

}  // namespace pelmar
