#include "dev-service/options.hpp"

#include <charconv>
#include <cmath>

#include "dev-service/device_login.hpp"

namespace orvela::dev {

namespace {

// A whole decimal number with nothing around it, finite.
std::optional<double> number(std::string_view text) {
    double value = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    if (text.empty() || error != std::errc{} || stop != end || !std::isfinite(value)) {
        return std::nullopt;
    }
    return value;
}

// A token travels in a header line, so it may hold only visible ASCII without blanks.
bool headerSafe(std::string_view token) {
    if (token.empty()) return false;
    for (const char c : token) {
        if (c <= ' ' || c >= 0x7f) return false;
    }
    return true;
}

}  // namespace

std::optional<std::vector<PlanPhase>> parsePlan(std::string_view text) {
    std::vector<PlanPhase> plan;
    if (text.empty()) return plan;
    while (true) {
        const auto comma = text.find(',');
        const std::string_view item = text.substr(0, comma);
        const auto colon = item.find(':');
        if (colon == std::string_view::npos || colon == 0) return std::nullopt;
        const auto minutes = number(item.substr(colon + 1));
        if (!minutes || *minutes < 0 || *minutes > kMaxPhaseMinutes) return std::nullopt;
        plan.push_back({std::string(item.substr(0, colon)), *minutes});
        if (comma == std::string_view::npos) return plan;
        text.remove_prefix(comma + 1);
    }
}

CommandLine parseCommandLine(const std::vector<std::string>& args) {
    CommandLine result;
    Options options;
    auto fail = [&](std::string message) {
        result.error = std::move(message);
        return result;
    };
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--help" || arg == "-h") {
            result.help = true;
            return result;
        }
        if (arg == "--no-timer") {
            options.demoTimer = false;
            continue;
        }
        const bool takesValue = arg == "--port" || arg == "--token" || arg == "--plan" ||
                                arg == "--title" || arg == "--auto-approve" ||
                                arg == "--release-dir" || arg == "--tls-cert" || arg == "--tls-key";
        if (!takesValue) return fail("неизвестный параметр: " + arg);
        if (i + 1 >= args.size()) return fail("параметру " + arg + " нужно значение");
        const std::string& value = args[++i];

        if (arg == "--port") {
            const auto port = number(value);
            if (!port || *port < 0 || *port > 65535 || std::floor(*port) != *port) {
                return fail("--port: ожидается число от 0 до 65535");
            }
            options.port = static_cast<int>(*port);
        } else if (arg == "--token") {
            if (!headerSafe(value))
                return fail("--token: пустой или с пробелами/управляющими символами");
            options.token = value;
        } else if (arg == "--plan") {
            auto plan = parsePlan(value);
            if (!plan)
                return fail("--plan: ожидается вид \"work:25,rest:5\" (минуты от 0 до недели)");
            options.plan = std::move(*plan);
        } else if (arg == "--title") {
            if (value.empty()) return fail("--title: пустое название");
            options.title = value;
        } else if (arg == "--auto-approve") {
            const auto seconds = number(value);
            if (!seconds || *seconds < 0 || *seconds > kLoginLifetimeSeconds) {
                return fail("--auto-approve: ожидается число секунд от 0 до 600");
            }
            options.autoApproveSeconds = *seconds;
        } else if (arg == "--tls-cert" || arg == "--tls-key") {
            std::error_code ignored;
            if (!std::filesystem::is_regular_file(value, ignored))
                return fail(arg + ": нет такого файла: " + value);
            (arg == "--tls-cert" ? options.tlsCert : options.tlsKey) = std::filesystem::path(value);
        } else {
            std::error_code ignored;
            if (!std::filesystem::is_directory(value, ignored)) {
                return fail("--release-dir: нет такой папки: " + value);
            }
            options.releaseDir = std::filesystem::path(value);
        }
    }
    if (options.tlsCert.has_value() != options.tlsKey.has_value())
        return fail("--tls-cert и --tls-key задаются вместе");
    result.options = std::move(options);
    return result;
}

std::string usage() {
    return R"(orvela-dev-service — локальная замена сервиса ORVELA для разработки и тестов.
Это НЕ настоящий сервис: один демо-пользователь, данные только в памяти, HTTP (HTTPS с
--tls-cert и --tls-key), слушает только 127.0.0.1.

Параметры:
  --port N             порт (по умолчанию 8765; 0 — выбрать свободный). Первая строка
                       вывода всегда "listening on 127.0.0.1:PORT".
  --token T            демо-токен, принимаемый с самого начала (по умолчанию orvela_demo_token)
  --plan PLAN          план демо-таймера в минутах, например "work:25,rest:5,work:0.1"
                       (по умолчанию work:25,rest:5,work:25,rest:5)
  --no-timer           запуститься без демо-таймера
  --title TEXT         название демо-задачи (по умолчанию "Демо-задача")
  --auto-approve SEC   подтверждать вход с устройства автоматически через SEC секунд после
                       его начала (0…600), без страницы подтверждения
  --release-dir DIR    отдавать DIR/version.json как /mac/version.json и любой файл из DIR
                       по его относительному пути (например /mac/app-13.zip). Без него
                       /mac/version.json — манифест со сборкой 0, обновлений нет.
  --tls-cert PEM       отвечать по HTTPS с этой цепочкой сертификатов (вместе с --tls-key);
  --tls-key PEM        приложение должно доверять её корню, иначе у него "Нет связи с ORVELA"
  --help               эта справка

Адреса: GET /api/ext/pomodoro, POST /api/ext/pomodoro/{pause,resume,skip,stop,extend,start},
GET /api/ext/agenda (всё с "Authorization: Bearer T"); POST /api/device/start,
POST /api/device/poll; страницы /device.html?code=, /planner.html, /settings.html.
)";
}

}  // namespace orvela::dev
