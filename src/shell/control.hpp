// The timer commands and the state they report, for callers outside the menu (the desktop's
// control interface and the command line built on it).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "model/position.hpp"
#include "shell/platform/platform.hpp"

namespace orvela {

// The menu's timer commands, plus Toggle (pause a running timer, resume a paused one) and
// Refresh (fetch timer and agenda now).
enum class TimerCommand { Pause, Resume, Toggle, Skip, Stop, Extend, Refresh };

// What the menu shows right now, in the order it tests it, and the timer controls it offers
// there, in its own order. The menu is built from this, so outside callers can never be
// offered more (or less) than the menu offers.
struct TimerOffer {
    enum class Situation { Login, Problem, NoTimer, Finished, Running, Paused };
    Situation situation = Situation::NoTimer;
    std::optional<Position> pos;       // with a timer
    std::vector<MenuAction> controls;  // Pause/Resume, Skip, Stop, Extend, as the menu lists them
};

// What the status item shows, for readers outside the panel. Updated by every render.
struct StatusReport {
    std::string title;  // the plain title, as drawn
    std::string tooltip;
    // "work", "rest", "paused", "finished", "event", "login", "problem" or "idle".
    std::string phase = "idle";
    // The countdown of a running or paused phase in whole seconds, rounded up as the title
    // shows it; 0 in every other case.
    std::int64_t secondsLeft = 0;
    // How much of that phase has gone, 0-100 (100 once the plan has run out, 0 without a phase).
    int progress = 0;
    bool operator==(const StatusReport&) const = default;
};

// Why a command from outside was not run.
struct ControlRefusal {
    // An action's request is still waiting for its answer: nothing was sent, and the same
    // command may be given again once that answer is in.
    bool busy = false;
    std::string reason;  // short, in Russian, for a terminal or a bar
    bool operator==(const ControlRefusal&) const = default;
};

// The countdown's whole seconds as the title shows them: rounded up, never negative, bounded.
std::int64_t countdownSeconds(double leftSeconds);
// The part of a phase gone, in whole percent, 0-100; 0 for a length that is not positive or
// numbers that are not finite.
int phaseProgress(double leftSeconds, double phaseSeconds);

}  // namespace orvela
