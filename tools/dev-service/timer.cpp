#include "dev-service/timer.hpp"

#include <cmath>
#include <limits>

namespace orvela::dev {

namespace {

double referenceMoment(const TimerState& state, double now) {
    return state.pausedAt ? *state.pausedAt : now;
}

// Moves startedAt so that phase `index` begins exactly at `moment`. The subtraction can land a
// rounding step short of the boundary, which would leave the old phase current with a sliver of
// a millisecond; stepping back one representable value at a time settles it.
void beginPhaseAt(TimerState& state, std::size_t index, double moment) {
    double before = 0;
    for (std::size_t i = 0; i < index && i < state.plan.size(); ++i)
        before += state.plan[i].min * 60;
    state.startedAt = moment - before * 1000;
    for (int step = 0; step < 64 && phaseIndexAt(state, moment) < index; ++step) {
        state.startedAt = std::nextafter(state.startedAt, -std::numeric_limits<double>::infinity());
    }
}

}  // namespace

std::size_t phaseIndexAt(const TimerState& state, double now) {
    const double elapsed = (referenceMoment(state, now) - state.startedAt) / 1000;
    double sum = 0;
    for (std::size_t i = 0; i < state.plan.size(); ++i) {
        sum += state.plan[i].min * 60;
        if (sum > elapsed) return i;
    }
    return state.plan.size();
}

bool finishedAt(const TimerState& state, double now) {
    return phaseIndexAt(state, now) >= state.plan.size();
}

nlohmann::json toJson(const TimerState& state) {
    nlohmann::json plan = nlohmann::json::array();
    for (const auto& phase : state.plan) plan.push_back({{"type", phase.type}, {"min", phase.min}});
    nlohmann::json out = {{"taskId", state.taskId},
                          {"title", state.title},
                          {"plan", std::move(plan)},
                          {"startedAt", state.startedAt}};
    if (state.pausedAt) out["pausedAt"] = *state.pausedAt;
    return out;
}

std::optional<std::vector<PlanPhase>> planFromJson(const nlohmann::json& plan) {
    if (!plan.is_array()) return std::nullopt;
    std::vector<PlanPhase> phases;
    for (const auto& item : plan) {
        if (!item.is_object()) return std::nullopt;
        const auto type = item.find("type");
        const auto min = item.find("min");
        if (type == item.end() || !type->is_string() || min == item.end() || !min->is_number()) {
            return std::nullopt;
        }
        const double minutes = min->get<double>();
        if (!std::isfinite(minutes) || minutes < 0 || minutes > kMaxPhaseMinutes)
            return std::nullopt;
        phases.push_back({type->get<std::string>(), minutes});
    }
    return phases;
}

std::optional<TimerAction> timerActionNamed(std::string_view name) {
    if (name == "pause") return TimerAction::pause;
    if (name == "resume") return TimerAction::resume;
    if (name == "skip") return TimerAction::skip;
    if (name == "stop") return TimerAction::stop;
    if (name == "extend") return TimerAction::extend;
    return std::nullopt;
}

std::string DemoTimer::apply(TimerAction action, double now) {
    if (!state_) return "Таймер не запущен";
    switch (action) {
        case TimerAction::pause:
            return pause(now);
        case TimerAction::resume:
            return resume(now);
        case TimerAction::skip:
            return skip(now);
        case TimerAction::stop:
            state_.reset();
            return {};
        case TimerAction::extend:
            return extend(now);
    }
    return "Неизвестное действие";
}

std::string DemoTimer::pause(double now) {
    if (state_->pausedAt) return "Таймер уже на паузе";
    if (finishedAt(*state_, now)) return "План уже завершён";
    state_->pausedAt = now;
    return {};
}

std::string DemoTimer::resume(double now) {
    if (!state_->pausedAt) return "Таймер не на паузе";
    // The pause does not count against the plan: the whole schedule moves by its length.
    state_->startedAt += now - *state_->pausedAt;
    state_->pausedAt.reset();
    return {};
}

std::string DemoTimer::skip(double now) {
    const std::size_t index = phaseIndexAt(*state_, now);
    if (index >= state_->plan.size()) return "Нет текущей фазы";
    // A paused timer stays paused, now standing at the start of the next phase.
    beginPhaseAt(*state_, index + 1, referenceMoment(*state_, now));
    return {};
}

std::string DemoTimer::extend(double now) {
    const bool finished = finishedAt(*state_, now);
    const std::size_t added = state_->plan.size();
    state_->plan.push_back({"work", kExtendMinutes});
    // A plan that ran out long ago would swallow the new phase at once if we only appended it:
    // the extra work starts now instead. An unfinished plan simply gets it at its end.
    if (finished) beginPhaseAt(*state_, added, referenceMoment(*state_, now));
    return {};
}

}  // namespace orvela::dev
