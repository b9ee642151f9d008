#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "model/position.hpp"

namespace orvela {
namespace {

constexpr double S = 1700000000000.0;  // startedAt, ms
constexpr double kMinute = 60000.0;
const Phase kWork{"work", 25};
const Phase kRest{"rest", 5};

PomodoroState plan(std::vector<Phase> phases, std::optional<double> pausedAt = {}) {
    return PomodoroState{1, "task", std::move(phases), S, pausedAt};
}

// Where a moment falls in [work 25, rest 5]: strict boundaries, finishing, clock skew, pauses.
TEST(Position, WalksThePlan) {
    struct Case {
        const char* what;
        PomodoroState state;
        double now;
        Position expected;
    };
    const auto both = plan({kWork, kRest});
    const auto paused = plan({kWork, kRest}, S + 5 * kMinute);
    const std::vector<Case> cases = {
        {"at the start", both, S, {0, kWork, 1500}},
        {"10 min in", both, S + 10 * kMinute, {0, kWork, 900}},
        {"exact end of work", both, S + 25 * kMinute, {1, kRest, 300}},
        {"half a second left", both, S + 29 * kMinute + 59500, {1, kRest, 0.5}},
        {"exact end of plan", both, S + 30 * kMinute, {2, std::nullopt, 0}},
        {"long after the end", both, S + 1e9, {2, std::nullopt, 0}},
        {"a minute before start", both, S - kMinute, {0, kWork, 1560}},
        {"paused, 3 h later", paused, S + 180 * kMinute, {0, kWork, 1200}},
        {"paused, 3 days later", paused, S + 4320 * kMinute, {0, kWork, 1200}},
        {"paused, clock before start", paused, S - 1e7, {0, kWork, 1200}},
        {"empty plan", plan({}), S - kMinute, {0, std::nullopt, 0}},
        {"half-minute phase", plan({{"work", 0.5}}), S + 10000, {0, Phase{"work", 0.5}, 20}},
        {"zero-length phases skipped",
         plan({{"rest", 0}, kWork, {"work", 0}, kRest}),
         S + 25 * kMinute,
         {3, kRest, 300}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(position(c.state, c.now), c.expected) << c.what;
    }
}

// Lengths no service should send must still give an answer in one pass, never a crash or hang.
TEST(Position, SurvivesAbsurdLengths) {
    constexpr double kInf = std::numeric_limits<double>::infinity();
    constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

    const auto endless = position(plan({{"work", kInf}}), S + kMinute);
    EXPECT_EQ(endless.index, 0);
    EXPECT_EQ(endless.left, kInf);

    const auto huge = position(plan({{"work", 1e308}, kRest}), S + kMinute);
    EXPECT_EQ(huge.index, 0);
    EXPECT_EQ(huge.left, kInf);

    EXPECT_TRUE(position(plan({{"work", kNaN}, kRest}), S).finished());
    EXPECT_TRUE(position(plan({{"work", -kInf}, kRest}), S).finished());

    // A very long plan is one linear pass.
    const auto many = position(plan(std::vector<Phase>(1'000'000, Phase{"work", 1})), S + 1e10);
    EXPECT_EQ(many.index, 166666);
}

}  // namespace
}  // namespace orvela
