// The demo agenda of the local stand-in service: a handful of entries for today and tomorrow in
// the machine's local time, covering the shapes the client draws differently (all-day with an
// icon, a meeting with a place, a reminder with only a start).
#pragma once

#include <string>

#include <nlohmann/json.hpp>

namespace orvela::dev {

// "yyyy-MM-dd" of the local day containing `ms` (milliseconds since the Unix epoch).
std::string localDate(double ms);

// The whole answer of the agenda endpoint at `nowMs`: {"success", "today", "items"}.
nlohmann::json demoAgenda(double nowMs);

}  // namespace orvela::dev
