#pragma once

// NotificationCenter: named notifications with a JSON userInfo, delivered synchronously to the
// observers registered for that name, in registration order, on the poster's thread.
// Ownership: `defaultCenter()` lives for the whole process; other centres are held by shared_ptr
//            (`create()`). An observer lives until its Token is destroyed or removed; a Token does
//            not keep its centre alive.
// Threads: thread-safe. Observers may add or remove observers (themselves included) and post
//          during delivery. Removing an observer waits for its deliveries running on other
//          threads to end, so an object can unregister in its destructor; never remove an
//          observer while holding a lock that its callback takes.
// Errors: an exception thrown by an observer propagates to the poster; later observers miss that
//         notification.

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "pelmar/platform/foundation/Json.h"

namespace pelmar::foundation {

struct Notification {
    std::string name;
    Json userInfo;
};

class NotificationCenter {
    struct Entry;
    struct Registry;

public:
    using Observer = std::function<void(const Notification&)>;

    // Registration handle: destroying it (or `reset()`, or `removeObserver`) unregisters.
    class Token {
    public:
        Token() = default;
        ~Token();
        Token(Token&& other) noexcept;
        Token& operator=(Token&& other) noexcept;
        Token(const Token&) = delete;
        Token& operator=(const Token&) = delete;

        void reset();

        explicit operator bool() const { return entry_ != nullptr; }

    private:
        friend class NotificationCenter;
        Token(std::weak_ptr<Registry> registry, std::shared_ptr<Entry> entry);

        std::weak_ptr<Registry> registry_;
        std::shared_ptr<Entry> entry_;
    };

    static NotificationCenter& defaultCenter();
    static std::shared_ptr<NotificationCenter> create();

    ~NotificationCenter();
    NotificationCenter(const NotificationCenter&) = delete;
    NotificationCenter& operator=(const NotificationCenter&) = delete;

    // `fn` may take (const Notification&), (const Json& userInfo) or nothing.
    template <typename F>
    [[nodiscard]] Token addObserver(std::string name, F&& fn) {
        return addObserverImpl(std::move(name), adapt(std::forward<F>(fn)));
    }

    void removeObserver(Token& token);

    void post(std::string_view name, Json userInfo = Json::object());

private:
    NotificationCenter();

    template <typename F>
    static Observer adapt(F&& fn) {
        using Fn = std::decay_t<F>;
        if constexpr (std::is_invocable_v<Fn&, const Notification&>) {
            return Observer(std::forward<F>(fn));
        } else if constexpr (std::is_invocable_v<Fn&, const Json&>) {
            return [f = Fn(std::forward<F>(fn))](const Notification& n) mutable { f(n.userInfo); };
        } else {
            static_assert(std::is_invocable_v<Fn&>,
                          "an observer takes (const Notification&), (const Json&) or nothing");
            return [f = Fn(std::forward<F>(fn))](const Notification&) mutable { f(); };
        }
    }

    Token addObserverImpl(std::string name, Observer fn);

    std::shared_ptr<Registry> registry_;
};

using ObserverToken = NotificationCenter::Token;

}  // namespace pelmar::foundation
