// The app's reading of the wall clock. It comes from the platform, so that tests can run the
// whole app on virtual time; until one is installed it reads the system clock.
#pragma once

#include <functional>

namespace orvela {

// Milliseconds since the Unix epoch, fraction kept.
double nowMs();
// Seconds since the Unix epoch: the scale of the App's `Date` fields.
double nowSeconds();

// Installs the source `nowMs()` reads; an empty function restores the system clock.
void setClockSource(std::function<double()> wallClockMs);

}  // namespace orvela
