#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <type_traits>
#include <utility>

namespace pelmar::dispatch {

// Queue: runs blocks in submission order on threads of its choosing. The main queue runs them on
// the main thread from the main run loop (RunLoop); a serial queue runs one block at a time on the
// shared pool, holding no thread while idle; a concurrent queue runs its blocks side by side on the
// shared pool, bounded at 64 worker threads.
// Ownership: reference object made by the factories and held by shared_ptr. A queue stays alive
//     while it has queued or delayed blocks; it owns each block until the block has run.
// Threads: thread-safe. Lock discipline of the dispatch layer: every object guards its state with
//     one mutex of its own, held only briefly; no block, timer action or callback ever runs under a
//     dispatch lock, and the only nesting is the timekeeper's lock over the clock's.
// Errors: a block on a pool thread must not throw (std::terminate); one on the main queue leaves
//     the RunLoop call that ran it. sync() rethrows what its block threw, and aborts on a sync that
//     would deadlock (see sync()).
// Example:
//     auto work = dispatch::Queue::serial("work");
//     work->async([] { /* runs off the caller's thread, in order */ });
//     int answer = work->sync([] { return 42; });  // waits for the blocks queued before it
class Queue : public std::enable_shared_from_this<Queue> {
public:
    using Block = std::function<void()>;

    Queue(const Queue&) = delete;
    Queue& operator=(const Queue&) = delete;
    virtual ~Queue();

    // The queue of the main run loop; runs on the main thread.
    static std::shared_ptr<Queue> main();

    // The shared concurrent queue of default priority. It cannot be suspended.
    static std::shared_ptr<Queue> global();

    static std::shared_ptr<Queue> serial(std::string label);

    static std::shared_ptr<Queue> concurrent(std::string label);

    // The queue whose block the calling thread is running (the innermost one under nested sync
    // calls); the main queue on the main thread outside any block; otherwise null.
    static std::shared_ptr<Queue> current();

    const std::string& label() const { return label_; }

    // True when the calling thread is running a block of this queue (at any depth of nested sync
    // calls). For the main queue: true on the main thread.
    virtual bool isCurrent() const;

    // Queues `block` and returns at once. On the main queue, a block posted from the main thread
    // runs on a later turn of the run loop, never inline.
    virtual void async(Block block) = 0;

    // Queues `block` once `seconds` have passed on the installed clock (negative counts as 0;
    // +infinity never). Throws std::invalid_argument for NaN.
    virtual void asyncAfter(double seconds, Block block);

    // Runs `fn` on this queue and waits for it; returns what it returns and rethrows what it
    // throws. Serial and concurrent queues run it on the calling thread once it is their turn;
    // the main queue runs it on the main thread, so a sync from elsewhere waits for the main run
    // loop to be pumped. A sync onto a queue the caller is already running on (main from the main
    // thread, or a serial queue from one of its own blocks, however nested) aborts the process
    // with a message, since it would deadlock; a cycle through two serial queues is not detected.
    template <class F>
    std::invoke_result_t<F&> sync(F&& fn) {
        using Result = std::invoke_result_t<F&>;
        static_assert(!std::is_reference_v<Result>, "sync cannot return a reference");
        if constexpr (std::is_void_v<Result>) {
            runSync([&fn] { fn(); });
        } else {
            std::optional<Result> result;
            runSync([&fn, &result] { result.emplace(fn()); });
            return std::move(*result);
        }
    }

    // Counted: blocks stop starting after the running ones until as many resume() calls as
    // suspend() calls were made. Delayed blocks that come due meanwhile wait in the queue.
    virtual void suspend() = 0;

    // An unbalanced resume() is ignored with a warning on stderr.
    virtual void resume() = 0;

    virtual bool isSuspended() const = 0;

protected:
    explicit Queue(std::string label);

    // Runs `fn` as described for sync().
    virtual void runSync(const std::function<void()>& fn) = 0;

private:
    const std::string label_;
};

// True on the main thread: the thread that runs the main run loop, or, until one has, the
// process's initial thread.
bool isMainThread();

// True when no block waits for or runs on a background queue (serial, concurrent and operation
// queues; blocks of a suspended queue and delayed blocks not yet due do not count). The main
// queue is not looked at. A snapshot: work submitted a moment later changes it. Thread-safe.
bool backgroundQueuesAreIdle();

}  // namespace pelmar::dispatch
