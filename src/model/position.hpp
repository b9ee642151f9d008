// Where a moment falls in a timer's plan: pure arithmetic on the service's state.
#pragma once

#include <cstdint>
#include <optional>

#include "model/records.hpp"

namespace orvela {

struct Position {
    std::int64_t index = 0;       // current phase; the plan's length once it has run out
    std::optional<Phase> phase;   // a copy of plan[index]; absent once the plan has run out
    double left = 0;              // seconds left in the current phase; 0 once finished

    bool finished() const { return !phase.has_value(); }
    bool operator==(const Position&) const = default;
};

// `now` is in milliseconds since the Unix epoch. A pause freezes the position; the boundary
// test is strict, so at the exact end of a phase the next one is current.
Position position(const PomodoroState& state, double now);

}  // namespace orvela
