#include "model/time_text.hpp"

#include <unicode/smpdtfmt.h>
#include <unicode/timezone.h>
#include <unicode/unistr.h>

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

// The one "HH:mm" formatter of the process, in the default locale. It keeps the ICU default
// time zone: when that changes (tests switch zones), the formatter is moved to the new one.
class ClockFormatter {
public:
    ClockFormatter() {
        UErrorCode status = U_ZERO_ERROR;
        auto format = std::make_unique<icu::SimpleDateFormat>(icu::UnicodeString(u"HH:mm"), status);
        if (U_SUCCESS(status)) format_ = std::move(format);
    }

    std::string format(double epochMs) {
        if (!format_) return {};
        followDefaultZone();
        icu::UnicodeString text;
        icu::FieldPosition unused;
        format_->format(epochMs, text, unused);
        std::string utf8;
        text.toUTF8String(utf8);
        return utf8;
    }

private:
    void followDefaultZone() {
        const std::unique_ptr<icu::TimeZone> current(icu::TimeZone::createDefault());
        if (current && *current != format_->getTimeZone()) format_->setTimeZone(*current);
    }

    std::unique_ptr<icu::SimpleDateFormat> format_;
};

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

    static ClockFormatter formatter;  // created on first use; C++ makes that thread-safe
    return formatter.format(ms);
}

long long wholeMinutes(double minutes) {
    return saturatingInt(minutes);
}

}  // namespace orvela
