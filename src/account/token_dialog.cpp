// The user-facing side of the account connection: the prompt offering the two ways to connect,
// the dialog for a token pasted from the site, its check against the service, and the
// disconnection.
//
// A pasted token is stored only after the service has accepted it, so a typo never replaces a
// working token. Every failure brings the dialog back with the reason as its message, and an
// already stored token stays in the file and in `token` throughout.
#include <string>

#include "account/messages.hpp"
#include "account/token_store.hpp"
#include "client/problems.hpp"
#include "client/request.hpp"
#include "shell/app.hpp"

namespace orvela {

namespace {

const char* const kConnectTitle = "Подключите ORVELA";
const char* const kEmptyEntry = "Вставьте токен";
const char* const kTokenRefused = "Токен не подошёл — скопируйте его заново или создайте новый";

// The service's tokens begin so; only the clipboard pre-fill looks at it.
const char* const kTokenPrefix = "orvela_";

constexpr int kOk = 200;
constexpr int kUnauthorized = 401;

const char* const kTokenHowTo =
    "1. Откройте на сайте Настройки → 📱 Приложения.\n"
    "2. Нажмите «Создать токен для Mac» и скопируйте его.\n"
    "3. Вставьте сюда.\n"
    "\n"
    "Токен даёт приложению доступ к таймеру помодоро и расписанию. Отозвать его можно там же, "
    "в настройках.";

// What the dialog's field starts with: a token-shaped text on the clipboard, trimmed, so that
// a user coming back from the site only has to press "Подключить".
std::string clipboardToken(const std::optional<std::string>& clipboard) {
    if (!clipboard) return {};
    std::optional<std::string> text = tokenFromText(*clipboard);
    if (!text || !text->starts_with(kTokenPrefix)) return {};
    return *text;
}

// The same rule for a clipboard the desktop shows the dialog only once it is open.
std::optional<std::string> clipboardFill(const std::string& clipboard) {
    std::string token = clipboardToken(clipboard);
    if (token.empty()) return std::nullopt;
    return token;
}

}  // namespace

void App::connect() {
    connect(true);
}

void App::connect(bool requested) {
    if (waitForOpenAlert([requested](App& app) { app.connect(requested); })) return;
    platform_.activateApp();
    Alert alert;
    alert.unrequested = !requested;
    alert.message = kConnectTitle;
    alert.informative =
        "Откроется сайт ORVELA с кодом — проверьте, что он совпадает с кодом в меню приложения, "
        "и нажмите «Подключить». Если вы не вошли на сайт, сначала войдите.";
    alert.style = AlertStyle::Warning;
    alert.buttons = {"Войти через браузер", "Вставить токен вручную…", "Позже"};
    switch (runAlert(alert).button) {
        case 0:
            startDeviceLogin();
            break;
        case 1:
            askToken(std::nullopt);
            break;
        default:
            break;
    }
}

void App::askToken() {
    askToken(std::nullopt);
}

void App::askToken(const std::optional<std::string>& error) {
    askToken(error, true, false);
}

void App::askToken(const std::optional<std::string>& error, bool requested, bool besideBrowser) {
    if (waitForOpenAlert([error, requested, besideBrowser](App& app) {
            app.askToken(error, requested, besideBrowser);
        }))
        return;
    std::optional<std::string> message = error;
    // An empty entry brings the dialog straight back; looping here rather than recursing keeps
    // the stack flat however often that happens.
    for (;;) {
        platform_.activateApp();
        Alert alert;
        alert.message = message.value_or(kConnectTitle);
        alert.informative = kTokenHowTo;
        alert.style = message ? AlertStyle::Warning : AlertStyle::Informational;
        alert.field =
            SecureField{"orvela_…", clipboardToken(platform_.clipboardText()), clipboardFill};
        alert.buttons = {"Подключить", "Открыть настройки ORVELA", "Позже"};
        alert.unrequested = !requested;
        alert.withoutFocus = besideBrowser;
        const AlertAnswer answer = runAlert(alert);
        // Whatever comes next follows the user's own press of a button.
        requested = true;
        besideBrowser = false;
        switch (answer.button) {
            case 0:
                // Any non-empty text that can be sent goes to the service, which alone knows
                // whether it is a token; one that can never be sent is no token, whatever the
                // service would say.
                if (std::optional<std::string> entered = tokenFromText(answer.fieldText)) {
                    if (!isSendableToken(*entered)) {
                        message = kTokenRefused;
                        continue;
                    }
                    verifyAndSave(*entered);
                    return;
                }
                message = kEmptyEntry;
                continue;
            case 1:
                openToken();
                // Back by the time the user returns from the browser with a fresh token, beside
                // the page rather than over it: the user is reading there, and may be typing.
                platform_.runAfter(1.0, [] {
                    if (App::shared) App::shared->askToken(std::nullopt, false, true);
                });
                return;
            default:
                return;
        }
    }
}

void App::openToken() {
    platform_.openUrl(base + "/settings.html#mac-app");
}

std::optional<std::string> App::useNewToken(const std::string& newToken) {
    if (auto failure = saveToken(newToken)) return failure;
    token = newToken;
    problem.reset();
    shownTitle.clear();  // the next render draws the title afresh
    fetch();
    fetchAgenda();
    return std::nullopt;
}

void App::verifyAndSave(const std::string& candidate) {
    if (!isSendableToken(candidate)) {
        askToken(kTokenRefused);
        return;
    }
    // One authenticated read of the timer tells whether the service takes the token; the body
    // does not matter, only the status.
    // The answer may take a while (up to the request's timeout): the dialog that comes back
    // with it opens by itself.
    request("/api/ext/pomodoro", "GET", candidate,
            [this, candidate](int status, const std::optional<Reply>&) {
                if (status == kOk) {
                    if (auto failure = useNewToken(candidate))
                        askToken(kConnectSaveFailed + *failure, false, false);
                } else if (status == kUnauthorized) {
                    askToken(kTokenRefused, false, false);
                } else {
                    askToken(kConnectNoConnection, false, false);
                }
            });
}

void App::disconnect() {
    Alert alert;
    alert.message = "Отключить ORVELA?";
    alert.informative =
        "Токен будет удалён с этого компьютера. На сайте он останется — отзовите его в "
        "настройках, если больше не нужен.";
    alert.style = AlertStyle::Warning;
    alert.buttons = {"Отключить", "Отмена"};
    platform_.activateApp();
    if (runAlert(alert).button != 0) return;

    // The service is not told: the token stays valid there until revoked on the site.
    removeTokenFile(tokenPath);
    token.reset();
    state.reset();
    agenda.clear();
    problem = kProblemNoToken;
    render();
}

}  // namespace orvela
