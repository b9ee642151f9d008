// Phase announcements: a notification and a sound whenever the running timer moves on.
#include <string>

#include "announce/tips.hpp"
#include "model/time_text.hpp"
#include "shell/app.hpp"

namespace orvela {

namespace {
// A command from our own menu changes the phase on purpose; the user needs no announcement of
// what they just did, so the announcer stays quiet this long after one. Measured on the
// monotonic clock: a wall clock set back an hour would otherwise silence the announcer for that
// hour, and one set forward would end the window at once.
constexpr double kQuietAfterCommandSeconds = 3.0;

// Every announcement replaces the previous one in the notification list.
constexpr const char* kAnnouncementId = "orvela-pomodoro";
constexpr const char* kAnnouncementSound = "Glass.aiff";
constexpr const char* kChimeSound = "Glass";
}  // namespace

void App::announceIfChanged(const PomodoroState& state, const Position& pos) {
    // The first look after launch (or after the title went idle) only learns where the timer
    // is: a timer that was already running is not news.
    const bool changed = lastIndex.has_value() && *lastIndex != pos.index &&
                         platform_.monotonicSeconds() - lastAction > kQuietAfterCommandSeconds;
    lastIndex = pos.index;
    lastTaskStart = state.startedAt;
    if (!changed) return;

    Notification note;
    note.identifier = kAnnouncementId;
    note.sound = kAnnouncementSound;
    if (!pos.phase) {
        note.title = "✅ Время задачи вышло";
        note.body = state.title;
    } else if (pos.phase->type == "rest") {
        note.title = "☕ Перерыв " + std::to_string(wholeMinutes(pos.phase->min)) + " мин";
        note.body = std::string(eyeTips[tipSlot(pos.index)]);
    } else {
        note.title = "🍅 Работаем " + std::to_string(wholeMinutes(pos.phase->min)) + " мин";
        note.body = state.title;
    }
    platform_.postNotification(note);
    platform_.playSound(kChimeSound);
}

void App::notify(const std::string& title, const std::string& body) {
    platform_.postNotification(Notification{"orvela-update", title, body, std::nullopt});
}

void App::notice(const std::string& title, const std::string& text) {
    if (waitForOpenAlert([title, text](App& app) { app.notice(title, text); })) return;
    platform_.activateApp();
    // These alerts report outcomes ("up to date", "could not check"), not dangers, so they
    // carry the information icon rather than a warning sign.
    Alert alert{title, text, AlertStyle::Informational, {"OK"}, std::nullopt};
    alert.unrequested = true;  // each comes after a wait for the service or a helper
    runAlert(alert);
}

}  // namespace orvela
