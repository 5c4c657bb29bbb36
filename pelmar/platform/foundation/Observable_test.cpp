#include "pelmar/platform/foundation/Observable.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

namespace pelmar::foundation {
namespace {

std::string describe(const Observable<int>::Change& c) {
    return (c.isPrior ? "prior " : "after ") + std::to_string(c.oldValue)
           + (c.newValue ? "->" + std::to_string(*c.newValue) : "");
}

TEST(ObservableTest, ObserversHearOldAndNewValuesAndPriorNoticesBeforeTheChange) {
    Observable<int> status(0);
    std::vector<std::string> calls;
    auto plain = status.observe([&](const auto& c) { calls.push_back("plain " + describe(c)); });
    auto withPrior = status.observe(
            [&](const auto& c) {
                // A prior notice comes while the property still holds the old value.
                calls.push_back("prior-observer " + describe(c) + " reads "
                                + std::to_string(status.get()));
            },
            {.prior = true});

    status.set(1);
    status.set(1);
    EXPECT_EQ(calls, (std::vector<std::string>{
                             "prior-observer prior 0 reads 0",
                             "plain after 0->1",
                             "prior-observer after 0->1 reads 1",
                             "prior-observer prior 1 reads 1",
                             "plain after 1->1",
                             "prior-observer after 1->1 reads 1",
                     }));
}

TEST(ObservableTest, InitialOptionCallsOnceAtRegistrationAndResetTokensStopCalls) {
    Observable<std::string> name("a");
    std::vector<std::string> calls;
    auto token = name.observe(
            [&](const auto& c) { calls.push_back(c.oldValue + ">" + c.newValue.value_or("?")); },
            {.initial = true});
    EXPECT_EQ(calls, std::vector<std::string>{"a>a"});
    token.reset();
    name.set("b");
    EXPECT_EQ(calls, std::vector<std::string>{"a>a"});
}

TEST(ObservableTest, AnObserverMaySetAgainAndRemoveItselfDuringACall) {
    Observable<int> level(0);
    std::vector<std::string> calls;
    Observable<int>::Token self;
    self = level.observe([&](const auto& c) {
        calls.push_back(describe(c));
        if (*c.newValue == 1) {
            level.set(2);
            self.reset();
        }
    });
    level.set(1);
    level.set(3);
    EXPECT_EQ(calls, (std::vector<std::string>{"after 0->1", "after 1->2"}));
    EXPECT_EQ(level.get(), 3);
}

TEST(ObservableTest, TokenMayOutliveTheProperty) {
    Observable<int>::Token token;
    {
        Observable<int> shortLived;
        token = shortLived.observe([](const auto&) {});
    }
    token.reset();
    EXPECT_FALSE(token);
}

TEST(ObservableTest, SetsFromManyThreadsAreSerialisedForObservers) {
    Observable<int> counter(0);
    int calls = 0;  // written only inside observer calls, which sets serialise
    bool sawOverlap = false;
    int last = -1;
    auto token = counter.observe([&](const auto& c) {
        ++calls;
        sawOverlap |= c.oldValue != last && last != -1;
        last = *c.newValue;
    });
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&counter, t] {
            for (int i = 0; i < 200; ++i) {
                counter.set(t * 1000 + i);
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(calls, 800);
    EXPECT_FALSE(sawOverlap) << "each change must start from the value the previous one left";
}

}  // namespace
}  // namespace pelmar::foundation
