#include "pelmar/player/internal/PlayerEvents.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "pelmar/player/testing/PlayerEventLog.h"

namespace pelmar::player::internal {
namespace {

using Step = std::function<void(PlayerEvents&)>;

Step status(int value, double seconds = 0) {
    return [=](PlayerEvents& e) { e.timeControlStatus(value, seconds); };
}

struct EventCase {
    const char* name;
    std::vector<Step> steps;
    std::vector<std::string> told;
};

TEST(PlayerEventsTest, TellsEachEventOnlyWhenItDiffersFromTheLast) {
    const Step ready = [](PlayerEvents& e) { e.readyToPlay(); };
    const Step ended = [](PlayerEvents& e) { e.ended(); };
    const std::vector<EventCase> cases{
            {"PlayingPlayingPausedPlaying",
             {status(2), status(2), status(0), status(2)},
             {"playing", "paused", "playing"}},
            {"SeeksAtDifferentRoundedTimes",
             {status(1, 4.004), status(1, 4.006)},
             {"seek 4", "seek 4.01"}},
            {"SeeksAtTheSameRoundedTime", {status(1, 4.004), status(1, 4.001)}, {"seek 4"}},
            {"ReadyTwice", {ready, ready, status(2)}, {"ready", "playing"}},
            {"EndedTwice", {status(2), ended, ended}, {"playing", "ended"}},
            {"UnknownStatusTellsNothing", {status(7), status(-1)}, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto log = std::make_shared<test::PlayerEventLog>();
        PlayerEvents events([log] { return log; });
        for (const auto& step : c.steps) {
            step(events);
        }
        EXPECT_EQ(log->events(), c.told);
    }
}

TEST(PlayerEventsTest, KeepsTheLastTextAndWorksWithoutADelegate) {
    PlayerEvents events([] { return std::shared_ptr<PelmarPlayerDelegate>(); });
    events.timeControlStatus(PlayerEvents::kWaiting, 12.345678);
    EXPECT_EQ(events.beforeEvent(), "pelmarPlayerSeek:12.35");
    events.ended();
    EXPECT_EQ(events.beforeEvent(), "pelmarPlayerEnded");
}

}  // namespace
}  // namespace pelmar::player::internal
