#include "dev-service/pages.hpp"

namespace orvela::dev {

namespace {

std::string page(std::string_view title, std::string_view body) {
    std::string html =
        "<!DOCTYPE html>\n<html lang=\"ru\">\n<head>\n<meta charset=\"utf-8\">\n<title>";
    html += escapeHtml(title);
    html +=
        " — локальный сервис ORVELA</title>\n"
        "<style>body{font-family:sans-serif;max-width:40em;margin:2em auto;padding:0 1em}"
        ".dev{background:#fff3cd;border:1px solid #e0c36a;padding:.5em 1em}"
        "button{font-size:1.1em;margin-right:1em}code{font-size:1.4em}</style>\n"
        "</head>\n<body>\n"
        "<p class=\"dev\">Локальная замена сервиса ORVELA для разработки — это не настоящий "
        "сайт.</p>\n<h1>";
    html += escapeHtml(title);
    html += "</h1>\n";
    html += body;
    html += "\n</body>\n</html>\n";
    return html;
}

std::string decisionForm(const std::string& code, std::string_view action, std::string_view label) {
    std::string form = "<form method=\"post\" action=\"/device/";
    form += action;
    form += "\" style=\"display:inline\"><input type=\"hidden\" name=\"code\" value=\"";
    form += escapeHtml(code);
    form += "\"><button type=\"submit\">";
    form += label;
    form += "</button></form>";
    return form;
}

std::string statusText(LoginStatus status) {
    switch (status) {
        case LoginStatus::pending:
            return "Ожидает подтверждения.";
        case LoginStatus::approved:
            return "Вход подтверждён. Можно вернуться к приложению.";
        case LoginStatus::denied:
            return "Вход отклонён.";
        case LoginStatus::expired:
            return "Код истёк. Начните вход в приложении заново.";
    }
    return {};
}

}  // namespace

std::string escapeHtml(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            case '\'':
                out += "&#39;";
                break;
            default:
                out += c;
        }
    }
    return out;
}

std::string indexPage() {
    return page("ORVELA",
                "<ul>\n<li><a href=\"/planner.html\">Планировщик</a></li>\n"
                "<li><a href=\"/settings.html\">Настройки</a></li>\n"
                "<li><a href=\"/device.html\">Подтверждение входа с устройства</a></li>\n</ul>");
}

std::string plannerPage(const std::optional<std::string>& date) {
    std::string body = "<p>Здесь будет планировщик ORVELA.</p>\n";
    if (date) body += "<p>Выбранный день: <strong>" + escapeHtml(*date) + "</strong></p>";
    return page("Планировщик", body);
}

std::string settingsPage() {
    return page("Настройки",
                "<h2 id=\"mac-app\">Приложение для строки меню</h2>\n"
                "<p>Токен демо-пользователя задаёт параметр <code>--token</code> сервиса.</p>\n"
                "<h2 id=\"apps\">Приложения</h2>\n<p>Подключённых приложений нет.</p>");
}

std::string devicePage(const std::string& code, const std::optional<LoginView>& login) {
    if (code.empty()) {
        return page("Вход с устройства",
                    "<form method=\"get\" action=\"/device.html\"><label>Код из приложения: "
                    "<input name=\"code\" autofocus></label> "
                    "<button type=\"submit\">Продолжить</button></form>");
    }
    if (!login) {
        return page("Вход с устройства",
                    "<p>Код <code>" + escapeHtml(code) + "</code> не найден.</p>");
    }
    std::string body = "<p>Код: <code>" + escapeHtml(login->userCode) + "</code></p>\n";
    body += "<p>Устройство: " + escapeHtml(login->deviceName) + " (" + escapeHtml(login->client) +
            ")</p>\n";
    body += "<p>" + statusText(login->status) + "</p>\n";
    if (login->status == LoginStatus::pending) {
        body += "<p>Сверьте код с кодом в приложении.</p>\n<p>";
        body += decisionForm(login->userCode, "approve", "Подтвердить");
        body += decisionForm(login->userCode, "deny", "Отклонить");
        body += "</p>";
    }
    return page("Вход с устройства", body);
}

std::string decisionPage(const std::string& code, DeviceLogins::Decision decision, bool approved,
                         const std::optional<LoginView>& login) {
    switch (decision) {
        case DeviceLogins::Decision::decided:
            return page(approved ? "Вход подтверждён" : "Вход отклонён",
                        approved ? "<p>Приложение подключится в течение нескольких секунд.</p>"
                                 : "<p>Приложение не получит доступа.</p>");
        case DeviceLogins::Decision::unknown:
            return page("Вход с устройства",
                        "<p>Код <code>" + escapeHtml(code) + "</code> не найден.</p>");
        case DeviceLogins::Decision::notPending:
            return page("Вход с устройства",
                        "<p>Этот вход уже решён: " +
                            statusText(login ? login->status : LoginStatus::expired) + "</p>");
    }
    return {};
}

}  // namespace orvela::dev
