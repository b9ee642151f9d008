#include "model/position.hpp"

namespace orvela {

Position position(const PomodoroState& state, double now) {
    // A pause freezes the reference moment, and with it the whole position.
    const double reference = state.pausedAt.value_or(now);
    const double elapsed = (reference - state.startedAt) / 1000.0;

    // Plain float arithmetic throughout: a NaN or infinite length makes comparisons false or the
    // sum infinite, which ends the pass normally; nothing is ever converted to an integer.
    double end = 0;
    for (std::size_t i = 0; i < state.plan.size(); ++i) {
        end += state.plan[i].min * 60.0;
        // Strict: at the exact end of a phase the next one is already current.
        if (end > elapsed) {
            return Position{static_cast<std::int64_t>(i), state.plan[i], end - elapsed};
        }
    }
    return Position{static_cast<std::int64_t>(state.plan.size()), std::nullopt, 0};
}

}  // namespace orvela
