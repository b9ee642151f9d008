// The records exchanged with the ORVELA service, and the one the app keeps for a login.
//
// All are plain values, replaced as a whole, never patched. The JSON ones are only decoded:
// keys are exactly the field names, unknown keys are ignored, an optional key that is absent
// and one that is null mean the same, and one missing or mistyped required key makes the whole
// object (and whatever encloses it) undecodable.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace orvela {

// ---------------------------------------------------------------- timer

// One planned stretch of work or rest, in plan order.
struct Phase {
    std::string type;  // "work" or "rest"; anything but exactly "rest" is shown as work
    double min = 0;    // planned length in minutes, may be fractional
    bool operator==(const Phase&) const = default;
};

// The running timer as the service sees it.
struct PomodoroState {
    std::int64_t taskId = 0;
    std::string title;
    std::vector<Phase> plan;
    double startedAt = 0;            // ms since the Unix epoch
    std::optional<double> pausedAt;  // ms since the Unix epoch; absent while running
    bool operator==(const PomodoroState&) const = default;
};

// The envelope of every timer endpoint.
struct Reply {
    std::optional<bool> success;
    std::optional<PomodoroState> state;  // absent when no timer runs
    std::optional<std::string> error;
    bool operator==(const Reply&) const = default;
};

// ---------------------------------------------------------------- agenda

struct AgendaItem {
    std::int64_t id = 0;
    std::string title;
    std::string date;  // "yyyy-MM-dd", compared as text
    double start = 0;  // ms since the Unix epoch
    std::optional<double> end;
    bool allDay = false;
    std::string kind;
    std::optional<std::string> icon;
    std::optional<std::string> location;
    bool operator==(const AgendaItem&) const = default;
};

struct AgendaReply {
    std::optional<bool> success;
    std::optional<std::string> today;
    std::optional<std::vector<AgendaItem>> items;
    bool operator==(const AgendaReply&) const = default;
};

// ---------------------------------------------------------------- device login

// Every key optional; a key of another JSON type makes the reply unreadable.
struct DeviceStart {
    std::optional<bool> success;
    std::optional<std::string> deviceCode;
    std::optional<std::string> userCode;
    std::optional<double> expiresIn;  // seconds
    std::optional<double> interval;   // seconds
    std::optional<std::string> error;
    bool operator==(const DeviceStart&) const = default;
};

struct DevicePoll {
    std::optional<bool> success;
    std::optional<std::string> status;  // "approved", "denied", "expired", or still waiting
    std::optional<std::string> token;
    std::optional<std::string> error;
    bool operator==(const DevicePoll&) const = default;
};

// The login in progress; held in memory only.
struct PendingLogin {
    std::string deviceCode;
    std::string userCode;
    double expires = 0;   // wall clock, seconds since the Unix epoch
    double interval = 3;  // seconds between polls, never below 2
    bool operator==(const PendingLogin&) const = default;
};

// ---------------------------------------------------------------- releases

struct ReleaseInfo {
    std::string version;
    std::int64_t build = 0;
    std::optional<std::string> notes;
    std::string zip;
    std::string sha256;
    // Base64 of the Ed25519 signature of `sha256` as lower-case hex text, by the release key.
    // Only a build that carries a release public key asks for it.
    std::optional<std::string> signature;
    bool operator==(const ReleaseInfo&) const = default;
};

// ---------------------------------------------------------------- decoding

// Each takes a whole answer body; absent means the body is not a decodable record.
std::optional<Reply> decodeReply(std::string_view body);
std::optional<AgendaReply> decodeAgendaReply(std::string_view body);
std::optional<DeviceStart> decodeDeviceStart(std::string_view body);
std::optional<DevicePoll> decodeDevicePoll(std::string_view body);
std::optional<ReleaseInfo> decodeReleaseInfo(std::string_view body);

}  // namespace orvela
