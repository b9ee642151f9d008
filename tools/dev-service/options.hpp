// Command line of the local stand-in service.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "dev-service/timer.hpp"

namespace orvela::dev {

struct Options {
    int port = 8765;  // 0: let the system pick a free one
    std::string token = "orvela_demo_token";
    std::vector<PlanPhase> plan = {{"work", 25}, {"rest", 5}, {"work", 25}, {"rest", 5}};
    bool demoTimer = true;
    std::string title = "Демо-задача";
    std::optional<double> autoApproveSeconds;
    std::optional<std::filesystem::path> releaseDir;
    // HTTPS with this certificate chain and key (PEM files), as the real service speaks;
    // both or neither.
    std::optional<std::filesystem::path> tlsCert, tlsKey;
};

struct CommandLine {
    std::optional<Options> options;  // absent on --help or on an error
    bool help = false;
    std::string error;
};

CommandLine parseCommandLine(const std::vector<std::string>& args);

// "work:25,rest:5" -> phases; fractional minutes allowed. Empty text is an empty plan.
std::optional<std::vector<PlanPhase>> parsePlan(std::string_view text);

std::string usage();

}  // namespace orvela::dev
