#include "pelmar/platform/watch/FolderWatcher.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <fstream>
#include <mutex>

#include "pelmar/platform/foundation/testing/TempSandbox.h"

namespace pelmar::watch {
namespace {

using namespace std::chrono_literals;

struct Calls {
    std::mutex mutex;
    std::condition_variable changed;
    int count = 0;       // guarded by mutex
    int running = 0;     // guarded by mutex
    int maxRunning = 0;  // guarded by mutex

    void call() {
        {
            std::lock_guard lock(mutex);
            ++running;
            maxRunning = std::max(maxRunning, running);
            ++count;
        }
        {
            std::lock_guard lock(mutex);
            --running;
        }
        changed.notify_all();
    }

    // Waits until at least `n` calls came (a guard against hangs, not a timing check).
    bool waitFor(int n) {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, 30s, [&] { return count >= n; });
    }
};

TEST(FolderWatcherTest, ReportsFilesMovedInWrittenAndRemoved) {
    test::TempSandbox sandbox;
    const auto folder = sandbox.root() / "watched";
    std::filesystem::create_directories(folder);
    Calls calls;
    auto watcher = FolderWatcher::start(folder, [&] { calls.call(); });
    ASSERT_TRUE(watcher);

    std::ofstream(sandbox.root() / "outside.mp4") << "movie";
    std::filesystem::rename(sandbox.root() / "outside.mp4", folder / "in.mp4");
    ASSERT_TRUE(calls.waitFor(1));
    int seen = 0;
    {
        std::lock_guard lock(calls.mutex);
        seen = calls.count;
    }
    std::filesystem::remove(folder / "in.mp4");
    ASSERT_TRUE(calls.waitFor(seen + 1));
    std::lock_guard lock(calls.mutex);
    EXPECT_EQ(calls.maxRunning, 1);
}

TEST(FolderWatcherTest, MissingFolderCannotBeWatched) {
    test::TempSandbox sandbox;
    std::optional<Error> error;
    EXPECT_FALSE(FolderWatcher::start(
            sandbox.root() / "missing", [] {}, &error));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->domain, kFileErrorDomain);
}

}  // namespace
}  // namespace pelmar::watch
