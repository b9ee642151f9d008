// The small shell script that replaces the installed bundle once the app has quit.
//
// It outlives the app, so it is self-contained: the paths reach it only through the variables
// TARGET (the installed bundle), FRESH (the unpacked new one) and WORK (the work directory),
// never through its text, and the only number in the text is the process to wait for.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace orvela {

// Six lines joined by line feeds, no line feed after the last: wait for `pid` to end, swap the
// bundles through a staging copy, relaunch the installed app detached, remove WORK.
std::string handoverScript(std::int64_t pid);

// The session variables a desktop app needs to come up again on the same display and bus.
// The script itself needs none of them; they are passed on to the relaunched app.
const std::vector<std::string>& handoverSessionVariables();

// Reads one variable of this process's environment; absent when it is not set.
using EnvironmentLookup = std::function<std::optional<std::string>(const std::string& name)>;
EnvironmentLookup processEnvironment();

// Exactly TARGET, FRESH and WORK, plus each session variable that `lookup` finds set and
// not empty. Nothing else is inherited, not even PATH: the shell's built-in search path finds
// the standard tools.
std::map<std::string, std::string> handoverEnvironment(const std::string& target,
                                                       const std::string& fresh,
                                                       const std::string& work,
                                                       const EnvironmentLookup& lookup);

}  // namespace orvela
