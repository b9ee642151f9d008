// The small shell script that replaces the installed bundle once the app has quit.
//
// It outlives the app, so it is self-contained: the paths reach it only through the variables
// TARGET (the installed bundle), FRESH (the unpacked new one) and WORK (the work directory),
// never through its text, and the only number in the text is the process to wait for.
#pragma once

#include <cstdint>
#include <map>
#include <string>

namespace orvela {

// Six lines joined by line feeds, no line feed after the last: wait for `pid` to end, swap the
// bundles through a staging copy, relaunch the installed app detached, remove WORK.
std::string handoverScript(std::int64_t pid);

// This process's whole environment with TARGET, FRESH and WORK set over it: the script needs
// only those three, and the relaunched app must start with the user's own set-up (its
// configuration folder, certificate authorities, time zone, language, search path, session),
// not a bare one that would read another base URL or fail every HTTPS request.
std::map<std::string, std::string> handoverEnvironment(
    const std::string& target, const std::string& fresh, const std::string& work,
    std::map<std::string, std::string> processEnvironment);

}  // namespace orvela
