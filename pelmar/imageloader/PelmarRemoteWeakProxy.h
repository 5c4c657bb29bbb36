#pragma once

#include <memory>
#include <utility>

namespace pelmar {

// PelmarRemoteWeakProxy: forwards calls to a target it holds weakly, and silently drops them once
// the target is gone, so that a timer or callback holding the proxy never keeps its target alive.
// Ownership: a value; refers to the target weakly.
// Threads: thread-safe as long as the target's called methods are.
// Errors: none; a call to a gone target does nothing and answers false.
template <class Target>
class PelmarRemoteWeakProxy {
public:
    static PelmarRemoteWeakProxy weakProxyWithTarget(const std::shared_ptr<Target>& target) {
        return PelmarRemoteWeakProxy(target);
    }

    explicit PelmarRemoteWeakProxy(const std::shared_ptr<Target>& target) : target_(target) {}

    // True while the target lives.
    bool respondsToTarget() const { return !target_.expired(); }

    // Calls `message(target)` while the target lives; answers whether it was delivered.
    template <class F>
    bool forward(F&& message) const {
        if (auto target = target_.lock()) {
            std::forward<F>(message)(*target);
            return true;
        }
        return false;
    }

private:
    std::weak_ptr<Target> target_;
};

}  // namespace pelmar
