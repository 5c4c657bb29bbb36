#pragma once

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <type_traits>
#include <typeindex>
#include <typeinfo>
#include <utility>
#include <vector>

#include "pelmar/platform/foundation/Json.h"

// NotificationCenter: named notifications with an optional sender object and a JSON userInfo,
// delivered synchronously to the observers registered for that name, in registration order, on the
// poster's thread. An observer may filter by sender: it then hears only notifications posted by
// that very object (compared by identity, so a later object at the same address is not it).
// Ownership: `defaultCenter()` lives for the whole process; other centres are held by shared_ptr
//     (`create()`). An observer lives until its Token is destroyed or removed; a Token does not
//     keep its centre alive. A sender filter refers to its object weakly; a posted sender is kept
//     alive only while the notification is delivered.
// Threads: thread-safe. Observers may add or remove observers (themselves included) and post during
//     delivery. Removing an observer waits for its deliveries running on other threads to end, so
//     an object can unregister in its destructor; never remove an observer while holding a lock
//     that its callback takes.
// Errors: an exception thrown by an observer propagates to the poster; later observers miss that
//     notification.

namespace pelmar::foundation {

struct Notification {
    std::string name;
    Json userInfo;
    // The sender, or null; read it typed with `objectAs<T>()`.
    std::shared_ptr<void> object;
    std::type_index objectType = typeid(void);
    bool objectIsConst = false;

    // The sender as a T when it was posted as exactly a T (or a const T, when T is const);
    // null otherwise.
    template <typename T>
    std::shared_ptr<T> objectAs() const {
        if (!object || objectType != std::type_index(typeid(T))
            || (objectIsConst && !std::is_const_v<T>)) {
            return nullptr;
        }
        return std::static_pointer_cast<T>(object);
    }
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

    // `fn` may take (const Notification&), (const Json& userInfo) or nothing. It hears every
    // sender.
    template <typename F>
    [[nodiscard]] Token addObserver(std::string name, F&& fn) {
        return addObserverImpl(std::move(name), {}, adapt(std::forward<F>(fn)));
    }

    // Hears only notifications posted by `sender`; a null `sender` hears every sender.
    template <typename T, typename F>
    [[nodiscard]] Token addObserver(std::string name, const std::shared_ptr<T>& sender, F&& fn) {
        return addObserverImpl(std::move(name), SenderFilter::of(sender),
                               adapt(std::forward<F>(fn)));
    }

    void removeObserver(Token& token);

    void post(std::string_view name, Json userInfo = Json::object());

    template <typename T>
    void post(std::string_view name,
              const std::shared_ptr<T>& sender,
              Json userInfo = Json::object()) {
        Notification notification{std::string(name), std::move(userInfo), nullptr, typeid(void),
                                  false};
        if (sender) {
            notification.object = std::const_pointer_cast<std::remove_cv_t<T>>(sender);
            notification.objectType = typeid(T);
            notification.objectIsConst = std::is_const_v<T>;
        }
        deliver(notification);
    }

private:
    // Which sender an observer listens to: none (every sender), or one object by identity.
    struct SenderFilter {
        bool any = true;
        const void* address = nullptr;
        std::weak_ptr<const void> owner;

        template <typename T>
        static SenderFilter of(const std::shared_ptr<T>& sender) {
            if (!sender) {
                return {};
            }
            return {false, static_cast<const void*>(sender.get()), sender};
        }

        bool matches(const Notification& notification) const;
    };

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

    Token addObserverImpl(std::string name, SenderFilter filter, Observer fn);

    void deliver(const Notification& notification);

    std::shared_ptr<Registry> registry_;
};

using ObserverToken = NotificationCenter::Token;

}  // namespace pelmar::foundation
