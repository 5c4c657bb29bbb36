#include "pelmar/platform/net/URLSessionTask.h"

#include <unistd.h>

#include <cerrno>
#include <system_error>
#include <utility>

#include "pelmar/platform/net/URLError.h"
#include "pelmar/platform/net/URLSession.h"
#include "pelmar/platform/net/internal/Transport.h"

namespace pelmar::net {

URLSessionTask::URLSessionTask(Private,
                               uint64_t identifier,
                               Kind kind,
                               URLRequest request,
                               std::shared_ptr<URLSession> session,
                               std::shared_ptr<BodySource> body,
                               DataCompletionHandler dataCompletion,
                               DownloadCompletionHandler downloadCompletion)
    : identifier_(identifier),
      kind_(kind),
      request_(std::move(request)),
      session_(std::move(session)),
      body_(std::move(body)),
      dataCompletion_(std::move(dataCompletion)),
      downloadCompletion_(std::move(downloadCompletion)) {}

URLSessionTask::~URLSessionTask() {
    if (downloadFd_ >= 0) {
        ::close(downloadFd_);
    }
    if (!downloadPath_.empty()) {
        std::error_code ignored;
        std::filesystem::remove(downloadPath_, ignored);
    }
    session_->taskEnded(identifier_);
}

URLSessionTask::State URLSessionTask::state() const {
    MutexLock lock(mutex_);
    return state_;
}

URLSessionTask::Response URLSessionTask::response() const {
    MutexLock lock(mutex_);
    return response_;
}

std::optional<Error> URLSessionTask::error() const {
    MutexLock lock(mutex_);
    return error_;
}

int64_t URLSessionTask::countOfBytesSent() const {
    MutexLock lock(mutex_);
    return bytesSent_;
}

int64_t URLSessionTask::countOfBytesExpectedToSend() const {
    MutexLock lock(mutex_);
    return bytesExpectedToSend_;
}

int64_t URLSessionTask::countOfBytesReceived() const {
    MutexLock lock(mutex_);
    return bytesReceived_;
}

int64_t URLSessionTask::countOfBytesExpectedToReceive() const {
    MutexLock lock(mutex_);
    return bytesExpectedToReceive_;
}

URLRequest URLSessionTask::currentRequest() const {
    URLRequest request = request_;
    MutexLock lock(mutex_);
    if (response_) {
        request.url = response_->url();
    }
    return request;
}

double URLSessionTask::priority() const {
    MutexLock lock(mutex_);
    return priority_;
}

void URLSessionTask::setPriority(double priority) {
    MutexLock lock(mutex_);
    priority_ = priority >= 0 ? (priority <= 1 ? priority : 1.0) : 0.0;
}

void URLSessionTask::resume() {
    {
        MutexLock lock(mutex_);
        if (state_ != State::Suspended) {
            return;
        }
        state_ = State::Running;
        if (body_) {
            bytesExpectedToSend_ = body_->size();
        } else if (request_.httpBody) {
            bytesExpectedToSend_ = static_cast<int64_t>(request_.httpBody->size());
        }
    }
    internal::Transport::instance().start(shared_from_this());
}

void URLSessionTask::cancel() {
    bool wasSuspended = false;
    {
        MutexLock lock(mutex_);
        if (state_ == State::Completed || state_ == State::Canceling) {
            return;
        }
        wasSuspended = state_ == State::Suspended;
        // Also for a suspended task: a resume() racing with this call must not hand the task to
        // the transport, which would send it and touch its answer state while it completes here.
        state_ = State::Canceling;
    }
    if (wasSuspended) {
        // Never handed to the transport, so nothing else can complete it.
        complete(urlError(kURLErrorCancelled, "cancelled"));
    } else {
        internal::Transport::instance().cancel(identifier_);
    }
}

int64_t URLSessionTask::maximumResponseBytes() const {
    return session_->configuration().maximumResponseBytes;
}

int64_t URLSessionTask::maximumDownloadBytes() const {
    return session_->configuration().maximumDownloadBytes;
}

void URLSessionTask::setResponse(Response response, int64_t expectedToReceive) {
    bool toDelegate = false;
    {
        MutexLock lock(mutex_);
        response_ = response;
        bytesExpectedToReceive_ = expectedToReceive;
        toDelegate = kind_ != Kind::Download && !dataCompletion_;
    }
    if (toDelegate) {
        session_->deliver([self = shared_from_this(), response = std::move(response)] {
            if (auto delegate = self->session_->delegate()) {
                delegate->didReceiveResponse(*self->session_, self, response);
            }
        });
    }
}

void URLSessionTask::collectMetrics(URLSessionTaskMetrics metrics) {
    session_->deliver([self = shared_from_this(), metrics = std::move(metrics)] {
        if (auto delegate = self->session_->delegate()) {
            delegate->didFinishCollectingMetrics(*self->session_, self, metrics);
        }
    });
}

void URLSessionTask::challenge(URLAuthenticationChallenge challenge,
                               URLSessionChallengeCompletion completion) {
    session_->deliver([self = shared_from_this(), challenge = std::move(challenge),
                       completion = std::move(completion)] {
        if (auto delegate = self->session_->delegate()) {
            delegate->didReceiveChallenge(*self->session_, self, challenge, completion);
        } else {
            completion(URLSessionAuthChallengeDisposition::PerformDefaultHandling, std::nullopt);
        }
    });
}

std::optional<Error> URLSessionTask::receive(const char* data, size_t size) {
    bool toDelegate = false;
    int64_t received = 0;
    {
        MutexLock lock(mutex_);
        bytesReceived_ += static_cast<int64_t>(size);
        received = bytesReceived_;
        toDelegate = kind_ != Kind::Download && !dataCompletion_;
    }
    if (kind_ == Kind::Download) {
        if (received > maximumDownloadBytes()) {
            return urlError(kURLErrorDataLengthExceedsMaximum,
                            "the download is larger than " + std::to_string(maximumDownloadBytes())
                                    + " bytes");
        }
        while (size > 0) {
            const ssize_t written = ::write(downloadFd_, data, size);
            if (written < 0) {
                if (errno == EINTR) {
                    continue;
                }
                return urlError(kURLErrorCannotWriteToFile,
                                "cannot write " + downloadPath_.string() + ": "
                                        + std::generic_category().message(errno));
            }
            data += written;
            size -= static_cast<size_t>(written);
        }
        return std::nullopt;
    }
    if (toDelegate) {
        if (countOfBytesReceived() > maximumResponseBytes()) {
            return urlError(kURLErrorDataLengthExceedsMaximum,
                            "the answer is larger than " + std::to_string(maximumResponseBytes())
                                    + " bytes");
        }
        session_->deliver([self = shared_from_this(), chunk = std::string(data, size)] {
            if (auto delegate = self->session_->delegate()) {
                delegate->didReceiveData(*self->session_, self, chunk);
            }
        });
        return std::nullopt;
    }
    if (static_cast<int64_t>(data_.size() + size) > maximumResponseBytes()) {
        return urlError(
                kURLErrorDataLengthExceedsMaximum,
                "the answer is larger than " + std::to_string(maximumResponseBytes()) + " bytes");
    }
    data_.append(data, size);
    return std::nullopt;
}

void URLSessionTask::bodySent(int64_t totalBytesSent, int64_t totalBytesExpectedToSend) {
    {
        MutexLock lock(mutex_);
        bytesSent_ = totalBytesSent;
        bytesExpectedToSend_ = totalBytesExpectedToSend;
        if (progressPending_) {
            return;  // the queued event will report the newest count
        }
        progressPending_ = true;
    }
    session_->deliver([self = shared_from_this()] { self->deliverProgress(); });
}

void URLSessionTask::deliverProgress() {
    int64_t delta = 0;
    int64_t total = 0;
    int64_t expected = 0;
    {
        MutexLock lock(mutex_);
        progressPending_ = false;
        total = bytesSent_;
        expected = bytesExpectedToSend_;
        delta = total - bytesSentReported_;
        bytesSentReported_ = total;
    }
    if (delta == 0) {
        return;
    }
    if (auto delegate = session_->delegate()) {
        delegate->didSendBodyData(*session_, shared_from_this(), delta, total, expected);
    }
}

void URLSessionTask::complete(std::optional<Error> error) {
    DataCompletionHandler dataCompletion;
    DownloadCompletionHandler downloadCompletion;
    Response response;
    {
        MutexLock lock(mutex_);
        if (state_ == State::Completed) {
            return;
        }
        state_ = State::Completed;
        error_ = error;
        response = response_;
        dataCompletion = std::move(dataCompletion_);
        downloadCompletion = std::move(downloadCompletion_);
    }
    if (downloadFd_ >= 0) {
        if (::close(downloadFd_) != 0 && !error) {
            error = urlError(kURLErrorCannotWriteToFile,
                             "cannot write " + downloadPath_.string() + ": "
                                     + std::generic_category().message(errno));
            MutexLock lock(mutex_);
            error_ = error;
        }
        downloadFd_ = -1;
    }
    if (error && !downloadPath_.empty()) {
        // A failed download leaves nothing behind (an oversized one may have written a lot).
        std::error_code ignored;
        std::filesystem::remove(downloadPath_, ignored);
        downloadPath_.clear();
    }
    std::optional<std::string> data;
    if (!error) {
        data = std::move(data_);
    }
    data_.clear();
    session_->deliver([self = shared_from_this(), error = std::move(error),
                       response = std::move(response), data = std::move(data),
                       dataCompletion = std::move(dataCompletion),
                       downloadCompletion = std::move(downloadCompletion)]() mutable {
        if (self->kind_ == Kind::Download) {
            std::optional<std::filesystem::path> location;
            if (!error && !self->downloadPath_.empty()) {
                location = self->downloadPath_;
            }
            if (downloadCompletion) {
                downloadCompletion(location, response, error);
            } else if (auto delegate = self->session_->delegate()) {
                delegate->didCompleteWithError(*self->session_, self, error);
            }
            if (!self->downloadPath_.empty()) {
                std::error_code ignored;
                std::filesystem::remove(self->downloadPath_, ignored);
                self->downloadPath_.clear();
            }
        } else if (dataCompletion) {
            dataCompletion(std::move(data), response, error);
        } else if (auto delegate = self->session_->delegate()) {
            delegate->didCompleteWithError(*self->session_, self, error);
        }
        // Drop the handlers' captures now, not when the last reference to the task goes.
        dataCompletion = nullptr;
        downloadCompletion = nullptr;
    });
}

}  // namespace pelmar::net
