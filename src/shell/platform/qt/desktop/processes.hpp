// Running other programs: waiting for one while the loop turns, or starting one that stays.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "shell/platform/platform.hpp"

namespace orvela::qt {

// Runs with the app's environment and standard output; stdin is empty. Timers, network
// answers and the status item keep being served while it runs. When the app begins to quit
// meanwhile, the program is killed and the result says it was stopped (no exit status).
ProcessResult runAndWait(const std::string& path, const std::vector<std::string>& arguments);

// This process's environment, every variable exactly as set.
std::map<std::string, std::string> processEnvironment();

// Starts a program that outlives this process, with exactly `environment` and nothing
// inherited; the error text when it could not be started.
std::optional<std::string> launchDetached(const std::string& path,
                                          const std::vector<std::string>& arguments,
                                          const std::map<std::string, std::string>& environment);

}  // namespace orvela::qt
