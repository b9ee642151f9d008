// The status title: the live countdown, or the agenda's next or current event, or an idle mark.
#include <memory>
#include <string>

#include <unicode/brkiter.h>
#include <unicode/locid.h>
#include <unicode/utext.h>

#include "model/clock.hpp"
#include "model/time_text.hpp"
#include "shell/app.hpp"

namespace orvela {

namespace {

constexpr double kOneMinuteMs = 60000;

// One grapheme-cluster iterator for the life of the process: creating one loads ICU's rules,
// far too slow to repeat on every one-second render.
icu::BreakIterator* clusterIterator() {
    thread_local std::unique_ptr<icu::BreakIterator> iterator = [] {
        UErrorCode status = U_ZERO_ERROR;
        std::unique_ptr<icu::BreakIterator> created(
            icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
        if (U_FAILURE(status)) created.reset();
        return created;
    }();
    return iterator.get();
}

// The byte offset just past the first `count` user-perceived characters of UTF-8 `s`, or
// nothing when `s` has no more than `count` of them. Ill-formed bytes read as U+FFFD, one per
// broken sequence, so a damaged title is cut like any other and never crashes.
std::optional<std::size_t> cutAfterClusters(const std::string& s, std::int64_t count) {
    icu::BreakIterator* iterator = clusterIterator();
    if (!iterator || count < 0) return std::nullopt;
    UErrorCode status = U_ZERO_ERROR;
    UText* text = utext_openUTF8(nullptr, s.data(), static_cast<std::int64_t>(s.size()), &status);
    if (U_FAILURE(status)) return std::nullopt;
    // The iterator keeps a shallow clone that points into `s`; it is re-aimed on every call
    // and never read in between, so `s` outlives every use of it.
    iterator->setText(text, status);
    utext_close(text);
    if (U_FAILURE(status)) return std::nullopt;

    std::int32_t boundary = iterator->first();
    for (std::int64_t i = 0; i < count; ++i) {
        boundary = iterator->next();
        if (boundary == icu::BreakIterator::DONE) return std::nullopt;
    }
    if (iterator->next() == icu::BreakIterator::DONE) return std::nullopt;
    return static_cast<std::size_t>(boundary);
}

}  // namespace

std::string App::shorten(const std::string& s) const {
    // A character takes at least one byte, so a short text cannot be too long.
    if (titleLength >= 0 && s.size() <= static_cast<std::size_t>(titleLength)) return s;
    const auto cut = cutAfterClusters(s, titleLength);
    if (!cut) return s;
    return s.substr(0, *cut) + "…";
}

std::optional<EventLine> App::eventLine() const {
    const double now = nowMs();
    const AgendaItem* current = nullptr;
    const AgendaItem* next = nullptr;
    for (const auto& event : agenda) {
        // An event without an end is a moment: it matters only until it begins.
        if (event.allDay || !(event.end.value_or(event.start) > now)) continue;
        if (!current && event.start <= now) current = &event;
        if (!next && event.start > now && event.start - now <= nextWithin) next = &event;
    }

    if (current) {
        EventLine line;
        line.parts = {{"● ", TitleColour::Red},
                      {shorten(current->title), TitleColour::None},
                      {" · ещё " + span(current->end.value_or(current->start) - now),
                       TitleColour::Secondary}};
        line.tip = current->title;
        if (current->location) line.tip += "\n" + *current->location;
        return line;
    }
    if (next) {
        const double delta = next->start - now;
        const std::string when = delta <= kOneMinuteMs ? "сейчас" : "через " + span(delta);
        EventLine line;
        line.parts = {{shorten(next->title), TitleColour::None},
                      {" · " + when, TitleColour::Secondary}};
        line.tip = next->title + "\nв " + clockTime(next->start);
        if (next->location) line.tip += "\n" + *next->location;
        return line;
    }
    return std::nullopt;
}

void App::render() {
    if (!item || !item->hasButton()) return;

    TitleParts parts;
    std::string tooltip;
    std::optional<Countdown> countdown;
    // What outside readers are told alongside the title (control.hpp).
    std::string phase;
    int progress = 0;
    if (pendingLogin) {
        phase = "login";
        parts = {{"🔑 ", TitleColour::None}, {pendingLogin->userCode, TitleColour::None}};
        tooltip = "Подтвердите этот код на сайте ORVELA";
    } else if (problem) {
        parts = {{"🍅 ?", TitleColour::None}};
        tooltip = *problem;
        phase = "problem";
    } else {
        std::optional<Position> pos;
        std::optional<EventLine> line;
        if (state) {
            pos = position(*state, nowMs());
            // A finished timer gives way to a meeting that is on or coming up.
            if (pos->finished()) line = eventLine();
        } else {
            line = eventLine();
        }

        if (state) announceIfChanged(*state, *pos);

        if (state && !line) {
            const std::string title = shorten(state->title);
            if (pos->finished()) {
                parts = {{"✅ ", TitleColour::None}, {title, TitleColour::None}};
                phase = "finished";
                progress = 100;
            } else {
                const bool rest = pos->phase->type == "rest";
                const std::string icon = state->pausedAt ? "⏸" : rest ? "☕" : "🍅";
                // The colour tells the kind of phase, paused or not.
                const TitleColour colour = rest ? TitleColour::Green : TitleColour::Red;
                parts = {{icon + " ", TitleColour::None},
                         {mmss(pos->left), colour},
                         {" · " + title, TitleColour::None}};
                countdown =
                    Countdown{pos->left, pos->phase->min * 60.0, rest, state->pausedAt.has_value()};
                phase = state->pausedAt ? "paused" : rest ? "rest" : "work";
                progress = phaseProgress(countdown->leftSeconds, countdown->phaseSeconds);
            }
            tooltip = state->title;
        } else if (line) {
            parts = std::move(line->parts);
            tooltip = std::move(line->tip);
            phase = "event";
        } else {
            // Only without a timer: the event line is asked once, on one clock reading, so a
            // finished timer with no event due shows "✅ " and its title above.
            parts = {{"🍅", TitleColour::None}};
            tooltip = "Таймер не запущен";
            phase = "idle";
            // Whatever runs next starts from a clean slate: it is not announced as a change.
            lastIndex.reset();
        }
    }

    item->setTooltip(tooltip);

    std::string plain;
    for (const auto& part : parts) plain += part.text;
    if (plain != shownTitle) {
        shownTitle = plain;
        item->setTitle(parts);
    }
    item->setCountdown(countdown);

    StatusReport report{std::move(plain), std::move(tooltip), std::move(phase),
                        countdown ? countdownSeconds(countdown->leftSeconds) : 0, progress};
    if (report != shownStatus) {
        shownStatus = std::move(report);
        if (statusChanged) statusChanged();
    }
}

}  // namespace orvela
