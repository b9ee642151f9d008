#include "dev-service/service.hpp"

#include <httplib.h>

#include <chrono>
#include <fstream>
#include <iostream>
#include <sstream>
#include <stdexcept>

#include "dev-service/agenda.hpp"
#include "dev-service/pages.hpp"

namespace orvela::dev {

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

constexpr const char* kJson = "application/json; charset=utf-8";
constexpr const char* kHtml = "text/html; charset=utf-8";
// Nothing the clients send comes near this; it keeps a runaway request from filling memory.
constexpr std::size_t kMaxBody = 64 * 1024;

// Titles from the command line may be any bytes; a broken UTF-8 sequence must not turn an
// answer into a 500, so it is replaced rather than thrown on.
std::string dump(const json& value) {
    return value.dump(-1, ' ', false, json::error_handler_t::replace);
}

void answer(httplib::Response& res, int status, const json& body) {
    res.status = status;
    res.set_content(dump(body), kJson);
}

void failure(httplib::Response& res, int status, const std::string& error) {
    answer(res, status, {{"success", false}, {"error", error}});
}

void html(httplib::Response& res, int status, const std::string& body) {
    res.status = status;
    res.set_content(body, kHtml);
}

json timerReply(const std::optional<TimerState>& state) {
    json reply = {{"success", true}};
    if (state) reply["state"] = toJson(*state);
    return reply;
}

std::string contentTypeFor(const fs::path& file) {
    const std::string ext = file.extension().string();
    if (ext == ".zip") return "application/zip";
    if (ext == ".json") return kJson;
    if (ext == ".html" || ext == ".htm") return kHtml;
    if (ext == ".txt" || ext == ".sh") return "text/plain; charset=utf-8";
    return "application/octet-stream";
}

// The file under `root` that the request path names, or nothing. The path arrives
// percent-decoded, so "..", absolute parts and links that lead out of the folder are refused
// here; nothing outside the release folder is ever served.
std::optional<fs::path> fileUnder(const fs::path& root, const std::string& requestPath) {
    if (requestPath.size() < 2 || requestPath.front() != '/') return std::nullopt;
    if (requestPath.find('\0') != std::string::npos) return std::nullopt;
    const fs::path relative = fs::path(requestPath.substr(1)).lexically_normal();
    if (relative.empty() || relative.is_absolute()) return std::nullopt;
    for (const auto& part : relative) {
        if (part == "..") return std::nullopt;
    }
    std::error_code error;
    const fs::path base = fs::canonical(root, error);
    if (error) return std::nullopt;
    const fs::path file = fs::canonical(base / relative, error);
    if (error || !fs::is_regular_file(file, error)) return std::nullopt;
    const fs::path inside = file.lexically_relative(base);
    if (inside.empty() || *inside.begin() == "..") return std::nullopt;
    return file;
}

std::optional<std::string> readWhole(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) return std::nullopt;
    std::ostringstream bytes;
    bytes << in.rdbuf();
    if (in.bad()) return std::nullopt;
    return std::move(bytes).str();
}

// Field `key` of a JSON object as text; absent when missing or not a string.
std::optional<std::string> textField(const json& object, const char* key) {
    const auto found = object.find(key);
    if (found == object.end() || !found->is_string()) return std::nullopt;
    return found->get<std::string>();
}

}  // namespace

double DevService::systemNowMs() {
    using namespace std::chrono;
    return duration<double, std::milli>(system_clock::now().time_since_epoch()).count();
}

DevService::DevService(Options options, Clock clock)
    : options_(std::move(options)),
      clock_(std::move(clock)),
      logins_([this] { return issueToken(); }, options_.autoApproveSeconds) {
    tokens_.insert(options_.token);
    if (options_.demoTimer)
        timer_.start(TimerState{1, options_.title, options_.plan, clock_(), {}});
}

DevService::~DevService() {
    stop();
}

std::string DevService::baseUrl() const {
    return (options_.tlsCert ? "https://127.0.0.1:" : "http://127.0.0.1:") + std::to_string(port_);
}

// Called with mutex_ held (from the device-login handlers), so the set needs no lock of its own.
std::string DevService::issueToken() {
    std::string token;
    do {
        token = newAccessToken();
    } while (!tokens_.insert(token).second);
    return token;
}

int DevService::start() {
    if (server_) throw std::runtime_error("the stand-in service is already running");
    if (options_.tlsCert && options_.tlsKey) {
        auto tls = std::make_unique<httplib::SSLServer>(options_.tlsCert->c_str(),
                                                        options_.tlsKey->c_str());
        if (!tls->is_valid())
            throw std::runtime_error("cannot load the TLS certificate " +
                                     options_.tlsCert->string() + " with its key " +
                                     options_.tlsKey->string());
        server_ = std::move(tls);
    } else {
        server_ = std::make_unique<httplib::Server>();
    }
    // httplib's defaults add SO_REUSEPORT, which lets a second stand-in share a busy port and
    // take half of its connections; a busy port must be an error instead.
    server_->set_socket_options([](socket_t sock) {
        int yes = 1;
        setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    });
    routes();
    const char* host = "127.0.0.1";
    if (options_.port == 0) {
        port_ = server_->bind_to_any_port(host);
        if (port_ <= 0) port_ = 0;
    } else if (server_->bind_to_port(host, options_.port)) {
        port_ = options_.port;
    }
    if (port_ == 0) {
        server_.reset();
        throw std::runtime_error("cannot listen on 127.0.0.1:" + std::to_string(options_.port));
    }
    thread_ = std::thread([server = server_.get()] { server->listen_after_bind(); });
    // stop() only takes effect once the accept loop runs; wait for it so that a quick stop
    // cannot be lost and leave the thread listening forever.
    while (!server_->is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return port_;
}

void DevService::stop() {
    if (!server_) return;
    server_->stop();
    if (thread_.joinable()) thread_.join();
    server_.reset();
}

void DevService::routes() {
    httplib::Server& s = *server_;

    s.set_logger([this](const httplib::Request& req, const httplib::Response& res) {
        if (logRequests_) std::cerr << req.method << ' ' << req.path << ' ' << res.status << '\n';
    });
    s.set_exception_handler([](const httplib::Request&, httplib::Response& res,
                               std::exception_ptr) { failure(res, 500, "Внутренняя ошибка"); });
    // Our handlers write their own error bodies; only statuses without one get a page.
    s.set_error_handler(
        httplib::Server::HandlerWithResponse([](const httplib::Request&, httplib::Response& res) {
            if (!res.body.empty()) return httplib::Server::HandlerResponse::Unhandled;
            failure(res, res.status,
                    res.status == 404   ? "Не найдено"
                    : res.status == 413 ? "Слишком большой запрос"
                                        : "Неверный запрос");
            return httplib::Server::HandlerResponse::Handled;
        }));

    s.set_payload_max_length(kMaxBody);
    // The clients post their commands without a body, and some send no Content-Length then;
    // httplib would wait for the connection to close to find the body's end. Such a request
    // has no body, so only a declared one is read.
    auto post = [&s](const std::string& pattern, httplib::Server::Handler handler) {
        s.Post(pattern, [handler](const httplib::Request& req, httplib::Response& res,
                                  const httplib::ContentReader& read) {
            httplib::Request full = req;
            const bool declared =
                req.has_header("Content-Length") ||
                req.get_header_value("Transfer-Encoding").find("chunked") != std::string::npos;
            if (declared && !read([&full](const char* data, std::size_t size) {
                    full.body.append(data, size);
                    return true;
                })) {
                return failure(res, 400, "Неверный запрос");
            }
            if (req.get_header_value("Content-Type")
                    .rfind("application/x-www-form-urlencoded", 0) == 0) {
                httplib::detail::parse_query_text(full.body, full.params);
            }
            handler(full, res);
        });
    };

    // ---- timer ----
    s.Get("/api/ext/pomodoro", [this](const httplib::Request& req, httplib::Response& res) {
        std::lock_guard lock(mutex_);
        if (!authorized(req, res)) return;
        answer(res, 200, timerReply(timer_.state()));
    });
    post("/api/ext/pomodoro/start",
         [this](const httplib::Request& req, httplib::Response& res) { startTimer(req, res); });
    post(R"(/api/ext/pomodoro/([A-Za-z]+))",
         [this](const httplib::Request& req, httplib::Response& res) { timerAction(req, res); });

    // ---- agenda ----
    s.Get("/api/ext/agenda", [this](const httplib::Request& req, httplib::Response& res) {
        std::lock_guard lock(mutex_);
        if (!authorized(req, res)) return;
        answer(res, 200, demoAgenda(clock_()));
    });

    // ---- device login ----
    post("/api/device/start",
         [this](const httplib::Request& req, httplib::Response& res) { deviceStart(req, res); });
    post("/api/device/poll",
         [this](const httplib::Request& req, httplib::Response& res) { devicePoll(req, res); });
    s.Get("/device.html", [this](const httplib::Request& req, httplib::Response& res) {
        const std::string code = req.get_param_value("code");
        std::lock_guard lock(mutex_);
        const auto login = code.empty() ? std::nullopt : logins_.byUserCode(code, clock_());
        html(res, code.empty() || login ? 200 : 404, devicePage(code, login));
    });
    post("/device/approve", [this](const httplib::Request& req, httplib::Response& res) {
        deviceDecide(req, res, true);
    });
    post("/device/deny", [this](const httplib::Request& req, httplib::Response& res) {
        deviceDecide(req, res, false);
    });

    // ---- pages ----
    s.Get("/",
          [](const httplib::Request&, httplib::Response& res) { html(res, 200, indexPage()); });
    s.Get("/planner.html", [](const httplib::Request& req, httplib::Response& res) {
        std::optional<std::string> date;
        if (req.has_param("date")) date = req.get_param_value("date");
        html(res, 200, plannerPage(date));
    });
    s.Get("/settings.html",
          [](const httplib::Request&, httplib::Response& res) { html(res, 200, settingsPage()); });

    // ---- releases ----
    s.Get("/mac/version.json", [this](const httplib::Request& req, httplib::Response& res) {
        releaseManifest(req, res);
    });
    s.Get(R"(/.+)",
          [this](const httplib::Request& req, httplib::Response& res) { releaseFile(req, res); });
}

bool DevService::authorized(const httplib::Request& req, httplib::Response& res) {
    const std::string header = req.get_header_value("Authorization");
    constexpr std::string_view kScheme = "Bearer ";
    if (header.size() > kScheme.size() && header.compare(0, kScheme.size(), kScheme) == 0 &&
        tokens_.count(header.substr(kScheme.size())) != 0) {
        return true;
    }
    res.set_header("WWW-Authenticate", "Bearer");
    failure(res, 401, header.empty() ? "Нужен токен" : "Токен не принят");
    return false;
}

void DevService::timerAction(const httplib::Request& req, httplib::Response& res) {
    std::lock_guard lock(mutex_);
    if (!authorized(req, res)) return;
    const auto action = timerActionNamed(req.matches[1].str());
    if (!action) return failure(res, 404, "Неизвестное действие");
    const std::string refusal = timer_.apply(*action, clock_());
    if (!refusal.empty()) return failure(res, 409, refusal);
    answer(res, 200, timerReply(timer_.state()));
}

void DevService::startTimer(const httplib::Request& req, httplib::Response& res) {
    std::lock_guard lock(mutex_);
    if (!authorized(req, res)) return;
    TimerState state{1, options_.title, options_.plan, clock_(), {}};
    if (!req.body.empty()) {
        const json body = json::parse(req.body, nullptr, false);
        if (!body.is_object()) return failure(res, 400, "Ожидается JSON-объект");
        if (const auto id = body.find("taskId"); id != body.end()) {
            if (!id->is_number_integer()) return failure(res, 400, "taskId: ожидается целое число");
            state.taskId = id->get<std::int64_t>();
        }
        if (const auto title = body.find("title"); title != body.end()) {
            if (!title->is_string()) return failure(res, 400, "title: ожидается строка");
            state.title = title->get<std::string>();
        }
        if (const auto plan = body.find("plan"); plan != body.end()) {
            auto phases = planFromJson(*plan);
            if (!phases) return failure(res, 400, "plan: ожидается [{\"type\",\"min\"}]");
            state.plan = std::move(*phases);
        }
    }
    timer_.start(std::move(state));
    answer(res, 200, timerReply(timer_.state()));
}

void DevService::deviceStart(const httplib::Request& req, httplib::Response& res) {
    const json body = json::parse(req.body, nullptr, false);
    const auto client = body.is_object() ? textField(body, "client") : std::nullopt;
    const auto deviceName = body.is_object() ? textField(body, "deviceName") : std::nullopt;
    if (!client || !deviceName) {
        return failure(res, 400, "Ожидается JSON {\"client\": …, \"deviceName\": …}");
    }
    std::lock_guard lock(mutex_);
    const LoginCodes codes = logins_.start(*client, *deviceName, clock_());
    answer(res, 200,
           {{"success", true},
            {"deviceCode", codes.deviceCode},
            {"userCode", codes.userCode},
            {"expiresIn", kLoginLifetimeSeconds},
            {"interval", kLoginPollInterval}});
}

void DevService::devicePoll(const httplib::Request& req, httplib::Response& res) {
    const json body = json::parse(req.body, nullptr, false);
    const auto deviceCode = body.is_object() ? textField(body, "deviceCode") : std::nullopt;
    if (!deviceCode) return failure(res, 400, "Ожидается JSON {\"deviceCode\": …}");
    std::lock_guard lock(mutex_);
    const auto login = logins_.byDeviceCode(*deviceCode, clock_());
    if (!login) {
        return answer(res, 404,
                      {{"success", false}, {"status", "expired"}, {"error", "Код не найден"}});
    }
    json reply = {{"success", true}, {"status", statusName(login->status)}};
    if (login->status == LoginStatus::approved) reply["token"] = login->token;
    answer(res, 200, reply);
}

void DevService::deviceDecide(const httplib::Request& req, httplib::Response& res, bool approve) {
    const std::string code = req.get_param_value("code");
    std::lock_guard lock(mutex_);
    const double now = clock_();
    const auto decision = logins_.decide(code, approve, now);
    const auto login = logins_.byUserCode(code, now);
    const int status = decision == DeviceLogins::Decision::decided   ? 200
                       : decision == DeviceLogins::Decision::unknown ? 404
                                                                     : 409;
    html(res, status, decisionPage(code, decision, approve, login));
}

void DevService::releaseManifest(const httplib::Request& req, httplib::Response& res) {
    if (options_.releaseDir) return releaseFile(req, res);
    // No releases here: build 0 is never newer than any client, so nobody is offered one.
    answer(res, 200,
           {{"version", "0.0.0"},
            {"build", 0},
            {"notes", "Локальный сервис разработки: обновлений нет"},
            {"zip", "/mac/none.zip"},
            {"sha256", std::string(64, '0')}});
}

void DevService::releaseFile(const httplib::Request& req, httplib::Response& res) {
    const auto file =
        options_.releaseDir
            ? fileUnder(*options_.releaseDir,
                        req.path == "/mac/version.json" ? std::string("/version.json") : req.path)
            : std::nullopt;
    const auto bytes = file ? readWhole(*file) : std::nullopt;
    if (!bytes) return failure(res, 404, "Не найдено");
    res.status = 200;
    res.set_content(*bytes, contentTypeFor(*file).c_str());
}

}  // namespace orvela::dev
