// Pins the local time zone for the length of a test, whatever the machine's own zone is.
//
// Local times come from two places: ICU (hhmm, clockTime, the agenda's day labels) and the C
// library (localtime). ScopedTimeZone moves both to one IANA zone and puts both back when it
// goes out of scope, so guards nest. hhmm follows ICU's default zone on every call, so texts
// formatted inside the scope are in the pinned zone. Use zones without daylight saving ("UTC",
// "Europe/Moscow", "Asia/Tokyo") unless the test is about the shift. The guard changes process-wide
// state: construct it in the test body (not in a static) and never from two threads.
#pragma once

#include <time.h>
#include <unicode/timezone.h>
#include <unicode/unistr.h>

#include <cstdlib>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>

namespace orvela::test {

class ScopedTimeZone {
public:
    explicit ScopedTimeZone(const std::string& ianaId) : savedIcu_(icu::TimeZone::createDefault()) {
        std::unique_ptr<icu::TimeZone> zone(
            icu::TimeZone::createTimeZone(icu::UnicodeString::fromUTF8(ianaId)));
        // ICU answers an unknown name with "Etc/Unknown" (GMT): a typo must not pass silently.
        if (!zone || *zone == icu::TimeZone::getUnknown())
            throw std::invalid_argument("unknown time zone: " + ianaId);
        if (const char* tz = std::getenv("TZ")) savedTz_ = tz;
        ::setenv("TZ", ianaId.c_str(), 1);
        ::tzset();
        icu::TimeZone::adoptDefault(zone.release());
    }

    ~ScopedTimeZone() {
        savedTz_ ? ::setenv("TZ", savedTz_->c_str(), 1) : ::unsetenv("TZ");
        ::tzset();
        if (savedIcu_) icu::TimeZone::adoptDefault(savedIcu_.release());
    }

    ScopedTimeZone(const ScopedTimeZone&) = delete;
    ScopedTimeZone& operator=(const ScopedTimeZone&) = delete;

private:
    std::unique_ptr<icu::TimeZone> savedIcu_;
    std::optional<std::string> savedTz_;
};

}  // namespace orvela::test
