#include "pelmar/platform/net/URLSession.h"

#include <atomic>
#include <stdexcept>
#include <utility>
#include <vector>

#include "pelmar/platform/net/FileBodySource.h"

namespace pelmar::net {

namespace {

uint64_t nextTaskIdentifier() {
    static std::atomic<uint64_t> next{1};
    return next.fetch_add(1);
}

}  // namespace

const std::shared_ptr<URLSession>& URLSession::shared() {
    static const std::shared_ptr<URLSession> session =
            create(URLSessionConfiguration::defaultConfiguration(), {},
                   dispatch::Queue::serial("com.pelmar.net.shared-session"));
    return session;
}

std::shared_ptr<URLSession> URLSession::create(URLSessionConfiguration configuration,
                                               std::weak_ptr<URLSessionDelegate> delegate,
                                               std::shared_ptr<dispatch::Queue> delegateQueue) {
    if (!delegateQueue) {
        delegateQueue = dispatch::Queue::serial("com.pelmar.net.session."
                                                + configuration.identifier.value_or("default"));
    }
    return std::make_shared<URLSession>(Private{}, std::move(configuration), std::move(delegate),
                                        std::move(delegateQueue));
}

URLSession::URLSession(Private,
                       URLSessionConfiguration configuration,
                       std::weak_ptr<URLSessionDelegate> delegate,
                       std::shared_ptr<dispatch::Queue> delegateQueue)
    : configuration_(std::move(configuration)),
      delegate_(std::move(delegate)),
      delegateQueue_(std::move(delegateQueue)) {}

URLSession::Task URLSession::dataTask(URLRequest request, DataCompletionHandler completion) {
    return makeTask(URLSessionTask::Kind::Data, std::move(request), nullptr, std::move(completion),
                    {});
}

URLSession::Task URLSession::uploadTask(URLRequest request,
                                        const std::filesystem::path& fromFile,
                                        DataCompletionHandler completion) {
    return uploadTask(std::move(request), std::make_shared<FileBodySource>(fromFile),
                      std::move(completion));
}

URLSession::Task URLSession::uploadTask(URLRequest request,
                                        std::shared_ptr<BodySource> body,
                                        DataCompletionHandler completion) {
    if (!body) {
        throw std::invalid_argument("uploadTask needs a body source");
    }
    request.httpBody.reset();
    return makeTask(URLSessionTask::Kind::Upload, std::move(request), std::move(body),
                    std::move(completion), {});
}

URLSession::Task URLSession::downloadTask(URLRequest request,
                                          DownloadCompletionHandler completion) {
    return makeTask(URLSessionTask::Kind::Download, std::move(request), nullptr, {},
                    std::move(completion));
}

URLSession::Task URLSession::makeTask(URLSessionTask::Kind kind,
                                      URLRequest request,
                                      std::shared_ptr<BodySource> body,
                                      DataCompletionHandler dataCompletion,
                                      DownloadCompletionHandler downloadCompletion) {
    const uint64_t identifier = nextTaskIdentifier();
    auto task = std::make_shared<URLSessionTask>(
            URLSessionTask::Private{}, identifier, kind, std::move(request), shared_from_this(),
            std::move(body), std::move(dataCompletion), std::move(downloadCompletion));
    MutexLock lock(mutex_);
    if (invalidated_) {
        throw std::logic_error("a task was made on an invalidated URL session");
    }
    tasks_.emplace(identifier, task);
    return task;
}

void URLSession::finishTasksAndInvalidate() {
    MutexLock lock(mutex_);
    invalidated_ = true;
}

void URLSession::invalidateAndCancel() {
    std::vector<Task> unfinished;
    {
        MutexLock lock(mutex_);
        invalidated_ = true;
        for (const auto& [identifier, weak] : tasks_) {
            if (auto task = weak.lock()) {
                unfinished.push_back(std::move(task));
            }
        }
    }
    for (const auto& task : unfinished) {
        task->cancel();
    }
}

bool URLSession::isInvalidated() const {
    MutexLock lock(mutex_);
    return invalidated_;
}

void URLSession::deliver(dispatch::Queue::Block block) const {
    delegateQueue_->async(std::move(block));
}

void URLSession::taskEnded(uint64_t taskIdentifier) {
    MutexLock lock(mutex_);
    tasks_.erase(taskIdentifier);
}

}  // namespace pelmar::net
