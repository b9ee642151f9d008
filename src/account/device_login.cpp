// Connecting by a device code confirmed in the browser.
//
// The app asks the service for a pair of codes, opens the confirmation page with the user code
// in its address, shows the same code in the status title, and polls until the user has
// decided on the site. The app never sees the user's password: the service hands over a token.
//
// The poll loop is a chain of one-shot delays on the main loop, not a blocked thread. The login
// it works on is carried along by value; after every wait the loop looks at `pendingLogin`
// again, which is how a cancellation or a newer login reaches it. The continuations capture
// `this`: the App lives for the whole process and outlives every request and delay it starts.
#include <algorithm>
#include <cmath>
#include <string>

#include "account/messages.hpp"
#include "account/token_store.hpp"
#include "client/request.hpp"
#include "model/clock.hpp"
#include "shell/app.hpp"

namespace orvela {

namespace {

const char* const kCodeExpired = "Код истёк — попробуйте ещё раз";
const char* const kDenied = "Вход отклонён на сайте";
const char* const kTokenTooLong = "токен длиннее 4 КБ";
const char* const kTokenControlCharacter = "в токене недопустимые символы";

constexpr int kOk = 200;

// The service's numbers are taken as they come, within bounds that keep every wait finite and
// every deadline meaningful: a lifetime of up to one day and a wait of 2 s to one hour between
// polls. Without them a huge "interval" would overflow the platform's timer and a huge or
// infinite "expiresIn" would keep a forgotten login polling for ever; JSON carries no NaN, but
// should one ever arrive it reads as the default rather than poisoning every comparison.
constexpr double kDefaultLoginLifetime = 600;
constexpr double kLongestLoginLifetime = 86400;
constexpr double kDefaultPollInterval = 3;
constexpr double kShortestPollInterval = 2;
constexpr double kLongestPollInterval = 3600;

double loginLifetimeSeconds(std::optional<double> expiresIn) {
    const double lifetime = expiresIn.value_or(kDefaultLoginLifetime);
    if (std::isnan(lifetime)) return kDefaultLoginLifetime;
    return std::clamp(lifetime, 0.0, kLongestLoginLifetime);
}

double pollIntervalSeconds(std::optional<double> interval) {
    const double seconds = interval.value_or(kDefaultPollInterval);
    if (std::isnan(seconds)) return kDefaultPollInterval;
    return std::clamp(seconds, kShortestPollInterval, kLongestPollInterval);
}

bool loginExpired(const PendingLogin& login, double nowS) {
    // Reached exactly counts as past: a lifetime of 0 means the codes were dead on arrival,
    // so the login fails before any poll even on a clock that has not moved since the start.
    // Written so that a deadline that is not a number has passed, rather than never comes.
    return !(nowS < login.expires);
}

bool replacedOrCancelled(const App& app, const PendingLogin& login) {
    return !app.pendingLogin || app.pendingLogin->deviceCode != login.deviceCode;
}

void pollAnswered(App& app, const PendingLogin& login, int status,
                  const std::optional<std::string>& body) {
    // The login was replaced while this poll was on its way: the answer belongs to a login the
    // user has given up on and must not end, fail or connect the newer one.
    if (app.pendingLogin && app.pendingLogin->deviceCode != login.deviceCode) return;

    const std::optional<DevicePoll> poll =
        status == kOk && body ? decodeDevicePoll(*body) : std::nullopt;
    // A poll that went wrong is no failure by itself; only the expiry ends an unanswered login.
    // A decision that arrives after a plain cancel is still acted on.
    if (poll && poll->status) {
        const std::string& decision = *poll->status;
        if (decision == "approved") {
            app.pendingLogin.reset();
            // An empty token could not be stored as one (the file would read as no token), so
            // it ends the login like an approval that carries none, rather than announcing a
            // connection that does not exist. White space around it is no part of it: the
            // file reads back without it anyway.
            const std::optional<std::string> token =
                poll->token ? tokenFromText(*poll->token) : std::nullopt;
            if (token) app.connected(*token);
            return;
        }
        if (decision == "denied") {
            app.pendingLogin.reset();
            app.loginFailed(kDenied);
            return;
        }
        if (decision == "expired") {
            app.pendingLogin.reset();
            app.loginFailed(kCodeExpired);
            return;
        }
    }
    app.pollLogin(login);
}

}  // namespace

void App::startDeviceLogin() {
    std::optional<std::string> name = platform_.computerName();
    if (!name || name->empty()) name = "Mac";
    postJSON("/api/device/start", {{"client", "mac-timer"}, {"deviceName", *name}},
             [this](int status, std::optional<std::string> body) {
                 const std::optional<DeviceStart> start =
                     body ? decodeDeviceStart(*body) : std::nullopt;
                 if (status != kOk || !start || !start->deviceCode || !start->userCode) {
                     // A refusal's own words are shown as they are, whatever the status.
                     loginFailed(start && start->error ? *start->error : kConnectNoConnection);
                     return;
                 }
                 PendingLogin login{*start->deviceCode, *start->userCode,
                                    nowSeconds() + loginLifetimeSeconds(start->expiresIn),
                                    pollIntervalSeconds(start->interval)};
                 pendingLogin = login;
                 render();
                 openLoginPage();
                 pollLogin(login);
             });
}

void App::pollLogin(const PendingLogin& login) {
    // Cancelled, or replaced by a newer login that runs a loop of its own.
    if (replacedOrCancelled(*this, login)) return;
    if (loginExpired(login, nowSeconds())) {
        pendingLogin.reset();
        loginFailed(kCodeExpired);
        return;
    }
    // Bounded again here: a login handed in from elsewhere must not stall or overflow the wait.
    platform_.runAfter(pollIntervalSeconds(login.interval), [this, login] {
        if (replacedOrCancelled(*this, login)) return;
        postJSON("/api/device/poll", {{"deviceCode", login.deviceCode}},
                 [this, login](int status, std::optional<std::string> body) {
                     pollAnswered(*this, login, status, body);
                 });
    });
}

void App::openLoginPage() {
    if (!pendingLogin) return;
    // The code goes in as it came: the platform refuses an address that is not a valid URL.
    platform_.openUrl(base + "/device.html?code=" + pendingLogin->userCode);
}

void App::cancelLogin() {
    pendingLogin.reset();
}

void App::loginFailed(const std::string& message) {
    if (waitForOpenAlert([message](App& app) { app.loginFailed(message); })) return;
    platform_.activateApp();
    Alert alert;
    alert.message = message;
    alert.style = AlertStyle::Warning;
    alert.buttons = {"Попробовать снова", "Позже"};
    // It comes with the service's answer, whenever that arrives: the user may be typing
    // elsewhere by then.
    alert.unrequested = true;
    // Trying again goes back to the prompt, so the user may pick the pasted token instead.
    if (runAlert(alert).button == 0) connect(true);
}

void App::connected(const std::string& newToken) {
    // A token no request could carry is refused before it replaces one that works.
    switch (tokenFault(newToken)) {
        case TokenFault::TooLong:
            loginFailed(std::string(kConnectSaveFailed) + kTokenTooLong);
            return;
        case TokenFault::ControlCharacter:
            loginFailed(std::string(kConnectSaveFailed) + kTokenControlCharacter);
            return;
        case TokenFault::None:
            break;
    }
    if (auto error = useNewToken(newToken)) {
        loginFailed(kConnectSaveFailed + *error);
        return;
    }
    platform_.postNotification(Notification{"orvela-connected", "ORVELA подключён",
                                            "Таймер и повестка — на панели", std::nullopt});
}

}  // namespace orvela
