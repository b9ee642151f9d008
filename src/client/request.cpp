// The two doors to the network: request() for the timer endpoints (bearer token, no body,
// answer decoded as a Reply) and postJSON() for the device login (no token, a flat JSON body,
// answer returned raw). Neither fails in the caller's sense: every outcome is folded into a
// status and an optional result, and status 0 means that no HTTP answer came back.
//
// Both always answer later, on the main loop, also when nothing is sent: a caller can rely on
// its continuation never running inside the call that started it, exactly as for an answer
// from the network.
//
// The continuations capture `this`: the App lives for the whole process (tests destroy theirs
// only after the fake platform has stopped delivering), so it always outlives its requests.
#include "client/request.hpp"

#include <nlohmann/json.hpp>

#include "account/token_store.hpp"
#include "client/url.hpp"
#include "model/records.hpp"
#include "shell/app.hpp"

namespace orvela {

bool isHeaderSafe(std::string_view value) {
    for (const char c : value) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) return false;
    }
    return true;
}

TokenFault tokenFault(std::string_view token) {
    if (token.size() > kTokenLimit) return TokenFault::TooLong;
    if (!isHeaderSafe(token)) return TokenFault::ControlCharacter;
    return TokenFault::None;
}

std::optional<HttpRequest> bearerRequest(const std::string& base, const std::string& path,
                                         const std::string& method, const std::string& token,
                                         TransferBounds bounds) {
    if (!isSendableToken(token)) return std::nullopt;
    std::string url = base + path;
    if (!isValidUrl(url)) return std::nullopt;
    HttpRequest request;
    request.method = method;
    request.url = std::move(url);
    request.headers = {{"Authorization", "Bearer " + token}};
    request.timeoutSeconds = kServiceTimeoutSeconds;
    request.cache = CachePolicy::UseProtocolDefault;
    request.deadlineSeconds = bounds.deadlineSeconds;
    request.maxBodyBytes = bounds.maxBodyBytes;
    return request;
}

void App::request(const std::string& path, const std::string& method,
                  const std::optional<std::string>& with, ReplyHandler done) {
    const std::optional<std::string>& chosen = with ? with : token;
    std::optional<HttpRequest> built;
    // Every caller is a timer endpoint (the state, the five commands, the check of a pasted
    // token), and each answers with a Reply.
    if (chosen) built = bearerRequest(base, path, method, *chosen, kTimerBounds);
    if (!built) {
        // No token, no URL, or a token that cannot be put into a header: nothing is sent.
        platform_.runAfter(0, [done = std::move(done)] { done(0, std::nullopt); });
        return;
    }
    platform_.send(*built, [done = std::move(done)](HttpResponse response) {
        if (!response.transportOk) return done(0, std::nullopt);
        // The body is decoded whatever the status: a 401 may well carry a Reply.
        done(response.status, decodeReply(response.body));
    });
}

void App::postJSON(const std::string& path, const std::map<std::string, std::string>& body,
                   BodyHandler done) {
    std::string url = base + path;
    if (!isValidUrl(url)) {
        platform_.runAfter(0, [done = std::move(done)] { done(0, std::nullopt); });
        return;
    }
    HttpRequest request;
    request.method = "POST";
    request.url = std::move(url);
    request.headers = {{"Content-Type", "application/json"}};
    request.timeoutSeconds = kServiceTimeoutSeconds;
    request.cache = CachePolicy::UseProtocolDefault;
    // Only the device login posts JSON.
    request.deadlineSeconds = kDeviceLoginBounds.deadlineSeconds;
    request.maxBodyBytes = kDeviceLoginBounds.maxBodyBytes;
    try {
        // Text that is not UTF-8 (a computer name read from a file, say) becomes U+FFFD rather
        // than failing the whole serialisation; should anything else fail, the request still
        // goes out, without a body.
        request.body =
            nlohmann::json(body).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    } catch (const nlohmann::json::exception&) {
        request.body.reset();
    }
    platform_.send(request, [done = std::move(done)](HttpResponse response) {
        if (!response.transportOk) return done(0, std::nullopt);
        done(response.status, std::move(response.body));
    });
}

}  // namespace orvela
