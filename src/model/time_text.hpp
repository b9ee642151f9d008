// The short time texts of the interface. Times of day are in the user's local time zone.
#pragma once

#include <string>

namespace orvela {

// Countdown "MM:SS" from seconds, rounded up, never below 00:00; minutes are not capped.
std::string mmss(double seconds);

// A rounded-up duration from milliseconds: "5 мин", "2 ч", "1 ч 30 мин"; at least one minute.
std::string span(double milliseconds);

// Local time of day "HH:mm" of a timestamp in milliseconds since the Unix epoch.
std::string clockTime(double milliseconds);

// The shared "HH:mm" formatter behind clockTime: formats seconds since the Unix epoch.
std::string hhmm(double secondsSinceEpoch);

// Whole minutes of a phase length, truncated toward zero; bounded for non-finite or huge input.
long long wholeMinutes(double minutes);

}  // namespace orvela
