// The demo pomodoro timer kept by the local stand-in of the ORVELA service.
//
// The stand-in holds at most one timer (one demo user, whichever token asks). Times are
// milliseconds since the Unix epoch as doubles, the scale the desktop client uses, and every
// operation takes "now" from the caller so tests can drive the clock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

namespace orvela::dev {

struct PlanPhase {
    std::string type;  // "work" or "rest"; the client treats anything but "rest" as work
    double min = 0;    // minutes, may be fractional

    bool operator==(const PlanPhase&) const = default;
};

struct TimerState {
    std::int64_t taskId = 0;
    std::string title;
    std::vector<PlanPhase> plan;
    double startedAt = 0;
    std::optional<double> pausedAt;
};

// Longest phase we accept from anyone: a week. Keeps the sums far from overflow and the
// client's countdown within sane numbers.
inline constexpr double kMaxPhaseMinutes = 7 * 24 * 60;
// What "extend" adds when a plan has run out.
inline constexpr double kExtendMinutes = 45;

// Index of the phase running at `now` (frozen at pausedAt while paused), counted the way the
// client counts: a phase is current while the running sum of lengths is strictly greater than
// the elapsed time. Equals plan.size() once the plan has run out.
std::size_t phaseIndexAt(const TimerState& state, double now);
bool finishedAt(const TimerState& state, double now);

nlohmann::json toJson(const TimerState& state);

// Reads {"type": string, "min": number} items; nullopt when any item is malformed or out of range.
std::optional<std::vector<PlanPhase>> planFromJson(const nlohmann::json& plan);

enum class TimerAction { pause, resume, skip, stop, extend };
std::optional<TimerAction> timerActionNamed(std::string_view name);

class DemoTimer {
public:
    const std::optional<TimerState>& state() const { return state_; }
    void start(TimerState state) { state_ = std::move(state); }

    // Applies the action at `now`. Returns an empty string when it applied, otherwise the
    // reason it does not apply (the service answers that with 409 and leaves the timer alone).
    std::string apply(TimerAction action, double now);

private:
    std::string pause(double now);
    std::string resume(double now);
    std::string skip(double now);
    std::string extend(double now);

    std::optional<TimerState> state_;
};

}  // namespace orvela::dev
