#include "pelmar/platform/watch/FolderWatcher.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>

#include "pelmar/platform/sync/Mutex.h"
#include "testing/Matchers.h"
#include "testing/TempSandbox.h"

namespace pelmar::watch {
namespace {

using namespace std::chrono_literals;

struct Calls {
    Mutex mutex;
    CondVar changed;
    int count PELMAR_GUARDED_BY(mutex) = 0;
    int running PELMAR_GUARDED_BY(mutex) = 0;
    int maxRunning PELMAR_GUARDED_BY(mutex) = 0;

    void call() {
        {
            MutexLock lock(mutex);
            ++running;
            maxRunning = std::max(maxRunning, running);
            ++count;
        }
        {
            MutexLock lock(mutex);
            --running;
        }
        changed.notifyAll();
    }

    // Waits until at least `n` calls came (a guard against hangs, not a timing check).
    bool waitFor(int n) {
        const auto deadline = std::chrono::steady_clock::now() + 30s;
        MutexLock lock(mutex);
        while (count < n) {
            if (!changed.waitUntil(mutex, deadline)) {
                return count >= n;
            }
        }
        return true;
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
        MutexLock lock(calls.mutex);
        seen = calls.count;
    }
    std::filesystem::remove(folder / "in.mp4");
    ASSERT_TRUE(calls.waitFor(seen + 1));
    MutexLock lock(calls.mutex);
    EXPECT_EQ(calls.maxRunning, 1);
}

TEST(FolderWatcherTest, AFileCannotBeWatched) {
    test::TempSandbox sandbox;
    const auto file = sandbox.root() / "file";
    std::ofstream(file) << "x";
    std::optional<Error> error;
    EXPECT_FALSE(FolderWatcher::start(
            file, [] {}, &error));
    EXPECT_THAT(error, test::IsError(kFileErrorDomain, ENOTDIR,
                                     "cannot watch " + file.string() + ": Not a directory"));
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
