#include "model/time_text.hpp"

#include <unicode/timezone.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>

namespace orvela {

namespace {

using Int = std::int64_t;
constexpr Int kIntMax = std::numeric_limits<Int>::max();
constexpr Int kIntMin = std::numeric_limits<Int>::min();

// A double as a whole number without undefined behaviour: NaN reads as 0, and anything outside
// the 64-bit range (infinities included) sticks to the nearer end of it. Truncates toward zero.
Int saturatingInt(double value) {
    if (std::isnan(value)) return 0;
    constexpr double kTwoTo63 = 9223372036854775808.0;
    if (value >= kTwoTo63) return kIntMax;
    if (value < -kTwoTo63) return kIntMin;
    return static_cast<Int>(value);
}

// Decimal digits, zero-padded to at least two: "05", "59", "100".
std::string twoDigits(Int n) {
    std::string text = std::to_string(n);
    if (text.size() < 2) text.insert(0, 2 - text.size(), '0');
    return text;
}

// "HH:mm" of a moment in ICU's default time zone, which is read on every call so that a zone
// change (tests switch zones) shows at once. The digits are ASCII, as in every other time the
// app writes: a SimpleDateFormat did the same, but brought the locale's calendar, symbols and
// number formats into memory (2.5 MB resident) to print five characters.
std::string localClock(double epochMs) {
    std::int32_t raw = 0;
    std::int32_t daylight = 0;
    const std::unique_ptr<icu::TimeZone> zone(icu::TimeZone::createDefault());
    UErrorCode status = U_ZERO_ERROR;
    if (zone) zone->getOffset(epochMs, false, raw, daylight, status);
    if (!zone || U_FAILURE(status)) raw = daylight = 0;  // then UTC, never a wrong zone's guess
    constexpr Int kMinutesPerDay = 24 * 60;
    const Int minutes = saturatingInt(std::floor((epochMs + raw + daylight) / 60000.0));
    const Int ofDay = (minutes % kMinutesPerDay + kMinutesPerDay) % kMinutesPerDay;
    return twoDigits(ofDay / 60) + ":" + twoDigits(ofDay % 60);
}

}  // namespace

std::string mmss(double seconds) {
    const Int total = std::max<Int>(saturatingInt(std::ceil(seconds)), 0);
    return twoDigits(total / 60) + ":" + twoDigits(total % 60);
}

std::string span(double milliseconds) {
    const Int minutes = std::max<Int>(saturatingInt(std::ceil(milliseconds / 60000.0)), 1);
    if (minutes <= 59) return std::to_string(minutes) + " мин";
    const Int hours = minutes / 60;
    const Int rest = minutes % 60;
    if (rest == 0) return std::to_string(hours) + " ч";
    return std::to_string(hours) + " ч " + std::to_string(rest) + " мин";
}

std::string clockTime(double milliseconds) {
    return hhmm(milliseconds / 1000.0);
}

std::string hhmm(double secondsSinceEpoch) {
    // Calendars go wrong on non-finite or astronomically far dates; keep to the range of a
    // JavaScript Date (±10^8 days), which is what the service's timestamps come from anyway.
    constexpr double kLimitMs = 8.64e15;
    double ms = secondsSinceEpoch * 1000.0;
    ms = std::isnan(ms) ? 0.0 : std::clamp(ms, -kLimitMs, kLimitMs);

    return localClock(ms);
}

long long wholeMinutes(double minutes) {
    return saturatingInt(minutes);
}

}  // namespace orvela
