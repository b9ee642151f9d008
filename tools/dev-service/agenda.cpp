#include "dev-service/agenda.hpp"

#include <cmath>
#include <cstdio>
#include <ctime>

namespace orvela::dev {

namespace {

// Whole seconds of `ms`, clamped so that a wild clock reading cannot overflow time_t.
std::time_t toSeconds(double ms) {
    constexpr double kLimit = 1e15;  // about 31 million years either way
    if (!std::isfinite(ms)) return 0;
    return static_cast<std::time_t>(std::floor(std::fmax(-kLimit, std::fmin(kLimit, ms / 1000))));
}

std::tm localParts(double ms) {
    const std::time_t seconds = toSeconds(ms);
    std::tm parts{};
    localtime_r(&seconds, &parts);
    return parts;
}

// Milliseconds of local midnight `dayOffset` days after the day of `ms`, plus a local time of
// day. mktime normalises the overflowing day of month and finds the right DST offset.
double localMoment(double ms, int dayOffset, int hour, int minute) {
    std::tm parts = localParts(ms);
    parts.tm_mday += dayOffset;
    parts.tm_hour = hour;
    parts.tm_min = minute;
    parts.tm_sec = 0;
    parts.tm_isdst = -1;
    return static_cast<double>(std::mktime(&parts)) * 1000;
}

}  // namespace

std::string localDate(double ms) {
    const std::tm parts = localParts(ms);
    char text[48];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d", parts.tm_year + 1900, parts.tm_mon + 1,
                  parts.tm_mday);
    return text;
}

nlohmann::json demoAgenda(double nowMs) {
    nlohmann::json items = nlohmann::json::array();

    const double todayStart = localMoment(nowMs, 0, 0, 0);
    items.push_back({{"id", 101},
                     {"title", "День рождения Ани"},
                     {"date", localDate(todayStart)},
                     {"start", todayStart},
                     {"end", localMoment(nowMs, 1, 0, 0)},
                     {"allDay", true},
                     {"kind", "event"},
                     {"icon", "🎂"}});

    // A meeting soon after now, so that a client without a timer has an upcoming event to
    // show; its date is the local day it starts on, which late at night is tomorrow.
    const double hourMs = 3600 * 1000.0;
    const double meeting = std::ceil(nowMs / (30 * 60 * 1000.0)) * (30 * 60 * 1000.0) + hourMs;
    items.push_back({{"id", 102},
                     {"title", "Созвон с командой"},
                     {"date", localDate(meeting)},
                     {"start", meeting},
                     {"end", meeting + 45 * 60 * 1000.0},
                     {"allDay", false},
                     {"kind", "event"},
                     {"location", "Переговорная «Север»"}});

    const double reminder = localMoment(nowMs, 1, 9, 30);
    items.push_back({{"id", 103},
                     {"title", "Позвонить в банк"},
                     {"date", localDate(reminder)},
                     {"start", reminder},
                     {"allDay", false},
                     {"kind", "task"}});

    const double review = localMoment(nowMs, 1, 15, 0);
    items.push_back({{"id", 104},
                     {"title", "Ревью планов на неделю"},
                     {"date", localDate(review)},
                     {"start", review},
                     {"end", review + hourMs},
                     {"allDay", false},
                     {"kind", "event"},
                     {"icon", "📋"}});

    return {{"success", true}, {"today", localDate(nowMs)}, {"items", std::move(items)}};
}

}  // namespace orvela::dev
