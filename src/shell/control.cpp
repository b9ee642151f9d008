// The timer commands from outside the menu (a key bound on the desktop, a bar's click): the
// same rules, the same requests and the same handling as the menu items, because both read
// the one offer below.
#include <algorithm>
#include <cmath>

#include "model/clock.hpp"
#include "shell/app.hpp"

namespace orvela {

namespace {

// A countdown longer than this (about 31 years) is no countdown: it is shown as this.
constexpr double kLongestSeconds = 1e9;

// The answer to an outside action while another action's answer is awaited.
constexpr const char* kBusyReason = "Предыдущая команда ещё выполняется";

MenuAction menuActionFor(TimerCommand command) {
    switch (command) {
        case TimerCommand::Pause:
            return MenuAction::Pause;
        case TimerCommand::Resume:
            return MenuAction::Resume;
        case TimerCommand::Skip:
            return MenuAction::Skip;
        case TimerCommand::Stop:
            return MenuAction::Stop;
        case TimerCommand::Extend:
            return MenuAction::Extend;
        case TimerCommand::Refresh:
            return MenuAction::Refresh;
        case TimerCommand::Toggle:
            break;
    }
    return MenuAction::None;
}

// Why the menu does not offer `action` in this situation: short, for a terminal or a bar.
std::string refusalFor(const TimerOffer& offer, MenuAction action, const App& app) {
    using Situation = TimerOffer::Situation;
    switch (offer.situation) {
        case Situation::Login:
            return "Сначала завершите вход в ORVELA";
        case Situation::Problem:
            return app.problem.value_or("Нет связи с ORVELA");
        case Situation::NoTimer:
            return "Таймер не запущен";
        case Situation::Finished:
            return "Время задачи вышло";
        case Situation::Running:
        case Situation::Paused:
            break;
    }
    if (action == MenuAction::Extend) return "Время задачи ещё не вышло";
    return offer.situation == Situation::Paused ? "Таймер уже на паузе" : "Таймер не на паузе";
}

}  // namespace

std::int64_t countdownSeconds(double leftSeconds) {
    if (!(leftSeconds > 0)) return 0;  // NaN too
    return static_cast<std::int64_t>(std::ceil(std::min(leftSeconds, kLongestSeconds)));
}

int phaseProgress(double leftSeconds, double phaseSeconds) {
    if (!std::isfinite(leftSeconds) || !std::isfinite(phaseSeconds) || !(phaseSeconds > 0))
        return 0;
    const double gone = std::clamp((phaseSeconds - leftSeconds) / phaseSeconds, 0.0, 1.0);
    return static_cast<int>(std::floor(gone * 100.0));
}

TimerOffer App::timerOffer() const {
    using Situation = TimerOffer::Situation;
    TimerOffer offer;
    // The menu's order: a pending login hides a problem, and a problem hides the timer.
    if (pendingLogin) {
        offer.situation = Situation::Login;
    } else if (problem) {
        offer.situation = Situation::Problem;
    } else if (!state) {
        offer.situation = Situation::NoTimer;
    } else {
        offer.pos = position(*state, nowMs());
        if (offer.pos->finished()) {
            offer.situation = Situation::Finished;
            offer.controls = {MenuAction::Extend, MenuAction::Stop};
        } else {
            offer.situation = state->pausedAt ? Situation::Paused : Situation::Running;
            offer.controls = {state->pausedAt ? MenuAction::Resume : MenuAction::Pause,
                              MenuAction::Skip, MenuAction::Stop};
        }
    }
    return offer;
}

std::optional<ControlRefusal> App::control(TimerCommand command) {
    // The poll does the same every 15 seconds whatever is shown; asking for it sooner is never
    // wrong, so it is not tied to the one menu variant that lists it. A fetch already on its way
    // answers it too: a burst of refreshes becomes at most one request of each kind.
    if (command == TimerCommand::Refresh) {
        if (timerFetchesInFlight == 0) fetch();
        if (agendaFetchesInFlight == 0) fetchAgenda();
        return std::nullopt;
    }
    // One action in flight: the command was chosen against the timer as shown, and whatever
    // request is on its way (from the menu too) is about to change it, so a second one would
    // act on a stale picture (a toggle pausing what was just paused, a skip skipping twice)
    // and a key held down or a looping script would hammer the service. The menu itself keeps
    // sending: a person cannot click fast enough to matter, and its items say what they do.
    if (actionsInFlight > 0) return ControlRefusal{true, kBusyReason};
    const TimerOffer offer = timerOffer();
    const auto offered = [&](MenuAction action) {
        return std::find(offer.controls.begin(), offer.controls.end(), action) !=
               offer.controls.end();
    };
    MenuAction action = menuActionFor(command);
    if (command == TimerCommand::Toggle)
        action = offered(MenuAction::Resume) ? MenuAction::Resume : MenuAction::Pause;
    if (!offered(action)) return ControlRefusal{false, refusalFor(offer, action, *this)};
    // Through the menu's own dispatch: the same method, so the same request, lastAction and
    // silence of the announcer.
    MenuItem item;
    item.action = action;
    menuItemChosen(item);
    return std::nullopt;
}

void App::middleClicked() {
    // Pause or resume as the menu's first control does; busy or not offered, a click is ignored.
    (void)control(TimerCommand::Toggle);
}

}  // namespace orvela
