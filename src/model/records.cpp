#include "model/records.hpp"

#include "model/json_fields.hpp"

namespace orvela {

namespace {

using json::FieldReader;
using json::readBool;
using json::readInt64;
using json::readNumber;
using json::readString;
using json::Value;

// Each reader takes one JSON value and is absent unless it is an object that decodes whole.
// Fields are read in declaration order (braced initialisation is evaluated left to right).

std::optional<Phase> readPhase(const Value& v) {
    FieldReader f(v);
    Phase phase{f.required("type", readString), f.required("min", readNumber)};
    return f.finish(std::move(phase));
}

std::optional<PomodoroState> readPomodoroState(const Value& v) {
    FieldReader f(v);
    PomodoroState state{
        f.required("taskId", readInt64),
        f.required("title", readString),
        f.required("plan", json::arrayOf(readPhase)),
        f.required("startedAt", readNumber),
        f.optional("pausedAt", readNumber),
    };
    return f.finish(std::move(state));
}

std::optional<Reply> readReply(const Value& v) {
    FieldReader f(v);
    Reply reply{
        f.optional("success", readBool),
        f.optional("state", readPomodoroState),
        f.optional("error", readString),
    };
    return f.finish(std::move(reply));
}

std::optional<AgendaItem> readAgendaItem(const Value& v) {
    FieldReader f(v);
    AgendaItem item{
        f.required("id", readInt64),        f.required("title", readString),
        f.required("date", readString),     f.required("start", readNumber),
        f.optional("end", readNumber),      f.required("allDay", readBool),
        f.required("kind", readString),     f.optional("icon", readString),
        f.optional("location", readString),
    };
    return f.finish(std::move(item));
}

std::optional<AgendaReply> readAgendaReply(const Value& v) {
    FieldReader f(v);
    AgendaReply reply{
        f.optional("success", readBool),
        f.optional("today", readString),
        f.optional("items", json::arrayOf(readAgendaItem)),
    };
    return f.finish(std::move(reply));
}

std::optional<DeviceStart> readDeviceStart(const Value& v) {
    FieldReader f(v);
    DeviceStart start{
        f.optional("success", readBool),    f.optional("deviceCode", readString),
        f.optional("userCode", readString), f.optional("expiresIn", readNumber),
        f.optional("interval", readNumber), f.optional("error", readString),
    };
    return f.finish(std::move(start));
}

std::optional<DevicePoll> readDevicePoll(const Value& v) {
    FieldReader f(v);
    DevicePoll poll{
        f.optional("success", readBool),
        f.optional("status", readString),
        f.optional("token", readString),
        f.optional("error", readString),
    };
    return f.finish(std::move(poll));
}

std::optional<ReleaseInfo> readReleaseInfo(const Value& v) {
    FieldReader f(v);
    ReleaseInfo info{
        f.required("version", readString), f.required("build", readInt64),
        f.optional("notes", readString),   f.required("zip", readString),
        f.required("sha256", readString),  f.optional("signature", readString),
    };
    return f.finish(std::move(info));
}

template <class Read>
auto decodeBody(std::string_view body, Read read) -> decltype(read(std::declval<const Value&>())) {
    const auto object = json::parseObject(body);
    if (!object) return std::nullopt;
    return read(*object);
}

}  // namespace

std::optional<Reply> decodeReply(std::string_view body) {
    return decodeBody(body, readReply);
}

std::optional<AgendaReply> decodeAgendaReply(std::string_view body) {
    return decodeBody(body, readAgendaReply);
}

std::optional<DeviceStart> decodeDeviceStart(std::string_view body) {
    return decodeBody(body, readDeviceStart);
}

std::optional<DevicePoll> decodeDevicePoll(std::string_view body) {
    return decodeBody(body, readDevicePoll);
}

std::optional<ReleaseInfo> decodeReleaseInfo(std::string_view body) {
    return decodeBody(body, readReleaseInfo);
}

}  // namespace orvela
