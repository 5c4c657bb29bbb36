#include "pelmar/platform/foundation/NotificationCenter.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace pelmar::foundation {
namespace {

class NotificationCenterTest : public ::testing::Test {
protected:
    std::shared_ptr<NotificationCenter> center_ = NotificationCenter::create();
    std::vector<std::string> calls_;
};

TEST_F(NotificationCenterTest, DeliversToObserversOfTheNameInRegistrationOrder) {
    auto first = center_->addObserver("done", [&](const Notification& n) {
        calls_.push_back("first " + n.name + " " + n.userInfo.dump());
    });
    auto second = center_->addObserver(
            "done", [&](const Json& userInfo) { calls_.push_back("second " + userInfo.dump()); });
    auto other = center_->addObserver("other", [&] { calls_.push_back("other"); });

    center_->post("done", {{"path", "/a"}});
    center_->post("nobody");
    EXPECT_EQ(calls_,
              (std::vector<std::string>{R"(first done {"path":"/a"})", R"(second {"path":"/a"})"}));
    calls_.clear();
    center_->post("other");
    EXPECT_EQ(calls_, std::vector<std::string>{"other"});
}

struct Item {
    int id = 0;
};

TEST_F(NotificationCenterTest, SenderFilterHearsOnlyThatObjectWhileAnyObserverHearsAll) {
    auto first = std::make_shared<Item>(Item{1});
    auto second = std::make_shared<Item>(Item{2});
    auto onlyFirst = center_->addObserver("end", first, [&](const Notification& n) {
        calls_.push_back("first heard " + std::to_string(n.objectAs<Item>()->id));
    });
    auto any = center_->addObserver("end", [&](const Notification& n) {
        auto item = n.objectAs<Item>();
        calls_.push_back("any heard " + (item ? std::to_string(item->id) : "none"));
    });

    center_->post("end", second);
    center_->post("end", first);
    center_->post("end");
    EXPECT_EQ(calls_, (std::vector<std::string>{"any heard 2", "first heard 1", "any heard 1",
                                                "any heard none"}));
}

TEST_F(NotificationCenterTest, SenderIsReadOnlyAsTheTypeAndConstnessItWasPostedWith) {
    std::vector<bool> seen;
    auto token = center_->addObserver("image", [&](const Notification& n) {
        seen = {n.objectAs<const Item>() != nullptr, n.objectAs<Item>() != nullptr,
                n.objectAs<const int>() != nullptr};
    });
    center_->post("image", std::make_shared<const Item>());
    EXPECT_EQ(seen, (std::vector<bool>{true, false, false}));
    center_->post("image", std::make_shared<Item>());
    EXPECT_EQ(seen, (std::vector<bool>{true, true, false}));
}

TEST_F(NotificationCenterTest, FilterOfAFreedSenderMatchesNoLaterObject) {
    auto sender = std::make_shared<Item>();
    auto token = center_->addObserver("end", sender, [&] { calls_.push_back("heard"); });
    std::weak_ptr<Item> watched = sender;
    sender.reset();
    EXPECT_TRUE(watched.expired()) << "the filter must not keep its object alive";
    // Likely at the freed address; it is another object all the same.
    auto successor = std::make_shared<Item>();
    center_->post("end", successor);
    EXPECT_TRUE(calls_.empty());
}

TEST_F(NotificationCenterTest, TokenDestructionResetAndRemoveObserverUnregister) {
    auto kept = center_->addObserver("n", [&] { calls_.push_back("kept"); });
    auto removed = center_->addObserver("n", [&] { calls_.push_back("removed"); });
    auto reset = center_->addObserver("n", [&] { calls_.push_back("reset"); });
    {
        auto scoped = center_->addObserver("n", [&] { calls_.push_back("scoped"); });
    }
    center_->removeObserver(removed);
    reset.reset();
    EXPECT_FALSE(removed);
    center_->post("n");
    EXPECT_EQ(calls_, std::vector<std::string>{"kept"});

    auto moved = std::move(kept);
    center_->post("n");
    EXPECT_EQ(calls_.size(), 2u);
    moved = NotificationCenter::Token();
    center_->post("n");
    EXPECT_EQ(calls_.size(), 2u);
}

TEST_F(NotificationCenterTest, ObserversMayRemoveThemselvesAndOthersDuringDelivery) {
    NotificationCenter::Token self, second, third;
    self = center_->addObserver("n", [&] {
        calls_.push_back("self");
        self.reset();
        third.reset();
    });
    second = center_->addObserver("n", [&] { calls_.push_back("second"); });
    third = center_->addObserver("n", [&] { calls_.push_back("third"); });

    center_->post("n");
    center_->post("n");
    EXPECT_EQ(calls_, (std::vector<std::string>{"self", "second", "second"}));
}

TEST_F(NotificationCenterTest, ObserverAddedDuringDeliveryHearsOnlyLaterPosts) {
    NotificationCenter::Token added;
    auto adder = center_->addObserver("n", [&] {
        calls_.push_back("adder");
        if (!added) {
            added = center_->addObserver("n", [&] { calls_.push_back("added"); });
        }
    });
    center_->post("n");
    EXPECT_EQ(calls_, std::vector<std::string>{"adder"});
    center_->post("n");
    EXPECT_EQ(calls_, (std::vector<std::string>{"adder", "adder", "added"}));
}

TEST_F(NotificationCenterTest, ObserverMayPostOnTheSameThread) {
    auto outer = center_->addObserver("outer", [&] {
        calls_.push_back("outer");
        center_->post("inner");
    });
    auto inner = center_->addObserver("inner", [&] {
        calls_.push_back("inner");
        center_->post("leaf");
    });
    auto leafToo = center_->addObserver("leaf", [&] { calls_.push_back("leaf"); });
    center_->post("outer");
    EXPECT_EQ(calls_, (std::vector<std::string>{"outer", "inner", "leaf"}));
}

TEST_F(NotificationCenterTest, TokenOutlivingItsCentreIsHarmless) {
    auto token = center_->addObserver("n", [&] { calls_.push_back("n"); });
    center_.reset();
    token.reset();
    EXPECT_TRUE(calls_.empty());
}

TEST_F(NotificationCenterTest, DefaultCenterIsOneSharedCentre) {
    auto token = NotificationCenter::defaultCenter().addObserver(
            "NotificationCenterTest.default", [&] { calls_.push_back("default"); });
    NotificationCenter::defaultCenter().post("NotificationCenterTest.default");
    EXPECT_EQ(calls_, std::vector<std::string>{"default"});
}

// A removal from another thread must not return while the observer is still running there, so
// an object may unregister in its destructor and then die.
TEST_F(NotificationCenterTest, RemovalWaitsForADeliveryRunningOnAnotherThread) {
    std::mutex mutex;
    std::condition_variable changed;
    bool entered = false;
    bool release = false;
    std::atomic<bool> finished{false};
    auto token = center_->addObserver("n", [&] {
        std::unique_lock lock(mutex);
        entered = true;
        changed.notify_all();
        changed.wait(lock, [&] { return release; });
        finished = true;
    });
    std::thread poster([&] { center_->post("n"); });
    {
        std::unique_lock lock(mutex);
        changed.wait(lock, [&] { return entered; });
    }
    std::atomic<bool> finishedWhenRemoved{false};
    std::thread remover([&] {
        token.reset();
        finishedWhenRemoved = finished.load();
    });
    {
        std::lock_guard lock(mutex);
        release = true;
    }
    changed.notify_all();
    remover.join();
    poster.join();
    EXPECT_TRUE(finishedWhenRemoved);
}

TEST_F(NotificationCenterTest, ConcurrentPostsAddsAndRemovesAreSafe) {
    std::atomic<int> delivered{0};
    auto steady = center_->addObserver("n", [&] { ++delivered; });
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 200; ++i) {
                auto token = center_->addObserver("n", [&] { ++delivered; });
                center_->post("n", {{"i", i}});
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_GE(delivered.load(), 4 * 200 * 2);
}

}  // namespace
}  // namespace pelmar::foundation
