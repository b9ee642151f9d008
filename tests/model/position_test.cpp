#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <tuple>

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

// Strict phase boundaries, running out, clock skew, pauses freezing the position, and lengths
// no service should send (NaN, infinite, huge), which still give an answer in one pass.
TEST(Position, WalksThePlan) {
    constexpr double kInf = std::numeric_limits<double>::infinity();
    const auto both = plan({kWork, kRest});
    const auto paused = plan({kWork, kRest}, S + 5 * kMinute);
    const std::vector<std::tuple<PomodoroState, double, Position>> cases = {
        {both, S + 10 * kMinute, {0, kWork, 900}},
        {both, S + 25 * kMinute, {1, kRest, 300}},
        {both, S + 29 * kMinute + 59500, {1, kRest, 0.5}},
        {both, S + 30 * kMinute, {2, std::nullopt, 0}},
        {both, S - kMinute, {0, kWork, 1560}},
        {paused, S + 180 * kMinute, {0, kWork, 1200}},
        {plan({}), S - kMinute, {0, std::nullopt, 0}},
        {plan({{"rest", 0}, kWork, {"work", 0}, kRest}), S + 25 * kMinute, {3, kRest, 300}},
        {plan({{"work", kInf}}), S + kMinute, {0, Phase{"work", kInf}, kInf}},
        {plan({{"work", 1e308}, kRest}), S + kMinute, {0, Phase{"work", 1e308}, kInf}},
        {plan({{"work", std::nan("")}, kRest}), S, {2, std::nullopt, 0}},
    };
    for (const auto& [state, now, expected] : cases)
        EXPECT_EQ(position(state, now), expected) << "at " << (now - S) / kMinute << " min";
    // A very long plan is one linear pass.
    EXPECT_EQ(position(plan(std::vector<Phase>(1'000'000, kWork)), S + 1e11).index, 66666);
}

}  // namespace
}  // namespace orvela
