#include "pelmar/platform/watch/FolderWatcher.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

namespace pelmar::watch {

namespace {

constexpr uint32_t kEvents =
        IN_CREATE | IN_CLOSE_WRITE | IN_MOVED_TO | IN_MOVED_FROM | IN_DELETE | IN_ATTRIB;

}  // namespace

std::unique_ptr<FolderWatcher> FolderWatcher::start(const std::filesystem::path& folder,
                                                    Changed changed,
                                                    std::optional<Error>* error) {
    auto fail = [&](int errnum) -> std::unique_ptr<FolderWatcher> {
        if (error != nullptr) {
            *error = fileError(errnum, "cannot watch " + folder.string());
        }
        return nullptr;
    };
    std::error_code ec;
    if (!std::filesystem::is_directory(folder, ec)) {
        return fail(ENOTDIR);
    }
    const int inotifyFd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (inotifyFd < 0) {
        return fail(errno);
    }
    if (inotify_add_watch(inotifyFd, folder.c_str(), kEvents | IN_ONLYDIR) < 0) {
        const int errnum = errno;
        close(inotifyFd);
        return fail(errnum);
    }
    const int wakeFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (wakeFd < 0) {
        const int errnum = errno;
        close(inotifyFd);
        return fail(errnum);
    }
    auto watcher =
            std::make_unique<FolderWatcher>(Private{}, inotifyFd, wakeFd, std::move(changed));
    watcher->folder_ = folder;
    watcher->thread_ = std::thread([raw = watcher.get()] { raw->run(); });
    return watcher;
}

FolderWatcher::FolderWatcher(Private, int inotifyFd, int wakeFd, Changed changed)
    : inotifyFd_(inotifyFd), wakeFd_(wakeFd), shared_(std::make_shared<Shared>()) {
    shared_->changed = std::move(changed);
    queue_.setMaxConcurrentOperationCount(1);
}

FolderWatcher::~FolderWatcher() {
    const uint64_t one = 1;
    (void)!write(wakeFd_, &one, sizeof one);
    if (thread_.joinable()) {
        thread_.join();
    }
    queue_.cancelAllOperations();
    close(inotifyFd_);
    close(wakeFd_);
}

void FolderWatcher::run() {
    alignas(inotify_event) char buffer[16 * 1024];
    for (;;) {
        pollfd fds[2] = {{inotifyFd_, POLLIN, 0}, {wakeFd_, POLLIN, 0}};
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            return;
        }
        if ((fds[1].revents & POLLIN) != 0) {
            return;
        }
        if ((fds[0].revents & POLLIN) == 0) {
            continue;
        }
        bool any = false;
        while (read(inotifyFd_, buffer, sizeof buffer) > 0) {
            any = true;  // which entry changed does not matter: the owner looks at the folder
        }
        if (any) {
            notify();
        }
    }
}

void FolderWatcher::notify() {
    if (shared_->pending.exchange(true)) {
        return;  // the queued call will see this change too
    }
    queue_.addOperation([shared = shared_] {
        shared->pending = false;
        if (shared->changed) {
            shared->changed();
        }
    });
}

}  // namespace pelmar::watch
