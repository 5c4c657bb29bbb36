#pragma once

#include <atomic>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <thread>

#include "pelmar/platform/dispatch/OperationQueue.h"
#include "pelmar/platform/foundation/Error.h"

// FolderWatcher: tells its owner when the entries of a folder change (a file created, written and
// closed, moved in or out, removed), with inotify. It stands in for presenting a folder to the
// platform's file coordination: the change calls arrive one at a time on an operation queue of one,
// and changes that come while a call is waiting to run are folded into it.
// Ownership: made by start() and owned by the caller; owns its inotify descriptor, its watch thread
//     and its operation queue. The destructor stops the thread and drops calls not yet started; a
//     call already running finishes on its own (it must not use the watcher).
// Threads: thread-safe; `changed` runs on a pool thread, never two at once.
// Errors: start() gives null and an Error in kFileErrorDomain (errno) when the folder cannot be
//     watched (missing, not a folder, no inotify).

namespace pelmar::watch {

class FolderWatcher {
    struct Private {};

public:
    using Changed = std::function<void()>;

    static std::unique_ptr<FolderWatcher> start(const std::filesystem::path& folder,
                                                Changed changed,
                                                std::optional<Error>* error = nullptr);

    FolderWatcher(Private, int inotifyFd, int wakeFd, Changed changed);

    ~FolderWatcher();

    FolderWatcher(const FolderWatcher&) = delete;
    FolderWatcher& operator=(const FolderWatcher&) = delete;

    const std::filesystem::path& folder() const { return folder_; }

private:
    void run();

    void notify();

    std::filesystem::path folder_;
    const int inotifyFd_;
    const int wakeFd_;  // an eventfd that ends run()

    struct Shared {
        Changed changed;
        std::atomic<bool> pending{false};  // a call is queued and has not started
    };

    const std::shared_ptr<Shared> shared_;
    dispatch::OperationQueue queue_;
    std::thread thread_;
};

}  // namespace pelmar::watch
