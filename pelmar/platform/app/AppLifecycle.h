#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

// AppLifecycle: the application's run state (active, inactive, background) and its background
// tasks. The host app (or a test) reports state changes; each change is posted on the default
// notification centre. Background tasks are counted ids that code takes while it must finish work
// after the app leaves the foreground.
// Ownership: static; the state lives for the whole process.
// Threads: thread-safe. Notifications are posted and expiration handlers run on the thread that
//     made the change, never under the internal lock.
// Errors: ending an unknown or already ended task is ignored.

namespace pelmar::app {

enum class ApplicationState { Active, Inactive, Background };

using BackgroundTaskIdentifier = uint64_t;

// Never returned by beginBackgroundTask.
inline constexpr BackgroundTaskIdentifier kInvalidBackgroundTask = 0;

class AppLifecycle {
public:
    // Posted on the default notification centre when the state changes to Background, and when
    // it leaves Background for the foreground.
    static constexpr std::string_view kDidEnterBackgroundNotification =
            "ApplicationDidEnterBackground";
    static constexpr std::string_view kWillEnterForegroundNotification =
            "ApplicationWillEnterForeground";
    // Posted on the default notification centre when the system runs short of memory: caches
    // should let go of what they can rebuild.
    static constexpr std::string_view kDidReceiveMemoryWarningNotification =
            "ApplicationDidReceiveMemoryWarning";

    AppLifecycle() = delete;

    static ApplicationState state();

    // Moves to `state` and posts the matching notification when it changes to or from Background.
    static void setState(ApplicationState state);

    // `expirationHandler` (may be empty) runs if the tasks are expired before the task ends;
    // it should end the task.
    static BackgroundTaskIdentifier beginBackgroundTask(
            std::string name, std::function<void()> expirationHandler = {});

    static void endBackgroundTask(BackgroundTaskIdentifier identifier);

    // Tasks begun and not yet ended.
    static int64_t backgroundTaskCount();

    // The platform's time is up: runs the expiration handler of every live task (oldest first)
    // and then ends the tasks whose handler did not. Returns how many it had to end so: a real
    // system would end the app for each.
    static int64_t expireBackgroundTasks();

    // The system is short of memory: posts kDidReceiveMemoryWarningNotification on the calling
    // thread.
    static void receiveMemoryWarning();

    // Back to Active with no background tasks, and no notification (tests).
    static void reset();
};

}  // namespace pelmar::app
