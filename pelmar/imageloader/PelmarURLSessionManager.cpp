#include "pelmar/imageloader/PelmarURLSessionManager.h"

#include "pelmar/imageloader/PelmarRequestRetryStrategy.h"

namespace pelmar {

std::shared_ptr<PelmarURLSessionManager> PelmarURLSessionManager::create(
        net::URLSessionConfiguration configuration,
        std::shared_ptr<PelmarSpeedRecorder> speedRecorder) {
    auto manager = std::make_shared<PelmarURLSessionManager>(Private{}, std::move(speedRecorder));
    manager->session_ = net::URLSession::create(
            std::move(configuration), manager,
            dispatch::Queue::serial("PelmarURLSessionManager Operation Queue"));
    return manager;
}

PelmarURLSessionManager::PelmarURLSessionManager(Private,
                                                 std::shared_ptr<PelmarSpeedRecorder> speedRecorder)
    : speedRecorder_(speedRecorder ? std::move(speedRecorder)
                                   : PelmarSpeedRecorder::sharedRecorder()) {}

void PelmarURLSessionManager::setDelegate(std::weak_ptr<PelmarURLSessionManagerDelegate> delegate) {
    MutexLock lock(mutex_);
    delegate_ = std::move(delegate);
}

std::shared_ptr<PelmarURLSessionManagerDelegate> PelmarURLSessionManager::delegate() const {
    MutexLock lock(mutex_);
    return delegate_.lock();
}

PelmarDataTask PelmarURLSessionManager::dataTaskWithRequest(
        net::URLRequest request, PelmarRemoteImageManagerPriority priority, Completion completion) {
    MutexLock lock(mutex_);
    auto task = session_->dataTask(std::move(request));
    task->setPriority(PelmarURLSessionTaskPriorityForPriority(priority));
    const uint64_t identifier = task->taskIdentifier();
    if (completion) {
        completions_[identifier] = std::move(completion);
    }
    delegateQueues_[identifier] = dispatch::Queue::serial(
            "PelmarURLSessionManager delegate queue - " + std::to_string(identifier));
    return task;
}

void PelmarURLSessionManager::invalidateSessionAndCancelTasks() {
    MutexLock lock(mutex_);
    session_->invalidateAndCancel();
}

bool PelmarURLSessionManager::responseRecoverableFrom404(const net::HTTPURLResponse& response) {
    if (response.statusCode() != 404) {
        return false;
    }
    const auto type = response.value("content-type");
    return type && type->find("image") != std::string::npos;
}

std::optional<Error> PelmarURLSessionManager::finalError(
        const std::optional<Error>& transportError,
        const std::shared_ptr<const net::HTTPURLResponse>& response) {
    if (transportError) {
        return transportError;
    }
    if (response && response->statusCode() >= 400 && !responseRecoverableFrom404(*response)) {
        return Error{std::string(kPelmarURLErrorDomain), response->statusCode(),
                     "HTTP Error Response."};
    }
    return std::nullopt;
}

std::shared_ptr<dispatch::Queue> PelmarURLSessionManager::queueFor(uint64_t taskIdentifier) {
    MutexLock lock(mutex_);
    const auto it = delegateQueues_.find(taskIdentifier);
    return it == delegateQueues_.end() ? nullptr : it->second;
}

void PelmarURLSessionManager::didReceiveResponse(
        net::URLSession& /*session*/,
        const std::shared_ptr<net::URLSessionTask>& task,
        const std::shared_ptr<const net::HTTPURLResponse>& response) {
    if (auto queue = queueFor(task->taskIdentifier())) {
        queue->async([weak = weak_from_this(), task, response] {
            if (auto self = weak.lock()) {
                if (auto delegate = self->delegate()) {
                    delegate->didReceiveResponse(response, task);
                }
            }
        });
    }
}

void PelmarURLSessionManager::didReceiveData(net::URLSession& /*session*/,
                                             const std::shared_ptr<net::URLSessionTask>& task,
                                             const std::string& data) {
    if (auto queue = queueFor(task->taskIdentifier())) {
        queue->async([weak = weak_from_this(), task, data] {
            if (auto self = weak.lock()) {
                if (auto delegate = self->delegate()) {
                    delegate->didReceiveData(data, task);
                }
            }
        });
    }
}

void PelmarURLSessionManager::didFinishCollectingMetrics(
        net::URLSession& /*session*/,
        const std::shared_ptr<net::URLSessionTask>& task,
        const net::URLSessionTaskMetrics& metrics) {
    speedRecorder_->processMetrics(metrics, *task);
    if (auto queue = queueFor(task->taskIdentifier())) {
        queue->async([weak = weak_from_this(), task, metrics] {
            if (auto self = weak.lock()) {
                if (auto delegate = self->delegate()) {
                    delegate->didCollectMetrics(metrics, task->originalRequest().url);
                }
            }
        });
    }
}

void PelmarURLSessionManager::didReceiveChallenge(net::URLSession&,
                                                  const std::shared_ptr<net::URLSessionTask>& task,
                                                  const net::URLAuthenticationChallenge& challenge,
                                                  net::URLSessionChallengeCompletion completion) {
    const auto answerDefault = [](const net::URLSessionChallengeCompletion& done) {
        done(net::URLSessionAuthChallengeDisposition::PerformDefaultHandling, std::nullopt);
    };
    if (challenge.protectionSpace.authenticationMethod
        == net::URLAuthenticationMethod::ServerTrust) {
        if (auto target = delegate()) {
            target->didReceiveAuthenticationChallenge(challenge, nullptr, std::move(completion));
        } else {
            answerDefault(completion);
        }
        return;
    }
    // A task without a queue is not ignored here as its other events are: unanswered, it would
    // wait for ever.
    const auto queue = task ? queueFor(task->taskIdentifier()) : nullptr;
    if (!queue) {
        answerDefault(completion);
        return;
    }
    std::weak_ptr<PelmarURLSessionManager> weak = weak_from_this();
    queue->async([weak, task, challenge, completion = std::move(completion), answerDefault] {
        const auto self = weak.lock();
        const auto target = self ? self->delegate() : nullptr;
        if (target) {
            target->didReceiveAuthenticationChallenge(challenge, task, completion);
        } else {
            answerDefault(completion);
        }
    });
}

void PelmarURLSessionManager::didCompleteWithError(net::URLSession& /*session*/,
                                                   const std::shared_ptr<net::URLSessionTask>& task,
                                                   const std::optional<Error>& error) {
    auto queue = queueFor(task->taskIdentifier());
    if (!queue) {
        return;
    }
    auto final = finalError(error, task->response());
    queue->async([weak = weak_from_this(), task, final = std::move(final)] {
        auto self = weak.lock();
        if (!self) {
            return;
        }
        Completion completion;
        {
            MutexLock lock(self->mutex_);
            const auto it = self->completions_.find(task->taskIdentifier());
            if (it != self->completions_.end()) {
                completion = std::move(it->second);
                self->completions_.erase(it);
            }
            self->delegateQueues_.erase(task->taskIdentifier());
        }
        if (completion) {
            completion(task, final);
        }
        if (auto delegate = self->delegate()) {
            delegate->didCompleteTask(task, final);
        }
    });
}

}  // namespace pelmar
