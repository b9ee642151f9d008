// orvela-dev-service: a LOCAL DEVELOPMENT STAND-IN for the ORVELA service, not the service.
//
// It answers the requests the desktop client sends (timer, agenda, device login, release
// manifest and archives, the pages the client opens) for one demo user, keeps everything in
// memory and listens on 127.0.0.1 over plain HTTP, or HTTPS with a certificate it is given. The
// demo, the end-to-end tests and the service tests start it in-process or as the orvela-dev-service
// program.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>

#include "dev-service/device_login.hpp"
#include "dev-service/options.hpp"
#include "dev-service/timer.hpp"

namespace httplib {
class Server;
struct Request;
struct Response;
}  // namespace httplib

namespace orvela::dev {

class DevService {
public:
    // Wall-clock now in milliseconds since the Unix epoch; tests hand in their own to move time.
    using Clock = std::function<double()>;
    static double systemNowMs();

    // Seeds the demo token and, unless options.demoTimer is off, a timer started at clock().
    explicit DevService(Options options, Clock clock = &DevService::systemNowMs);
    ~DevService();
    DevService(const DevService&) = delete;
    DevService& operator=(const DevService&) = delete;

    // Binds 127.0.0.1 on options.port (0: a free port) and serves on a thread of its own.
    // Returns the bound port; throws std::runtime_error when the port cannot be bound.
    int start();
    // Stops serving and joins the thread; safe to call twice.
    void stop();

    int port() const { return port_; }
    std::string baseUrl() const;

    // Write one line per request to stderr (the command-line program does; tests do not).
    void logRequests(bool on) { logRequests_ = on; }

private:
    void routes();
    bool authorized(const httplib::Request& req, httplib::Response& res);
    void timerAction(const httplib::Request& req, httplib::Response& res);
    void startTimer(const httplib::Request& req, httplib::Response& res);
    void deviceStart(const httplib::Request& req, httplib::Response& res);
    void devicePoll(const httplib::Request& req, httplib::Response& res);
    void deviceDecide(const httplib::Request& req, httplib::Response& res, bool approve);
    void releaseManifest(const httplib::Request& req, httplib::Response& res);
    void releaseFile(const httplib::Request& req, httplib::Response& res);
    std::string issueToken();

    Options options_;
    Clock clock_;
    bool logRequests_ = false;

    // The server's worker threads share the demo account; one lock keeps it consistent.
    std::mutex mutex_;
    DemoTimer timer_;
    std::set<std::string> tokens_;
    DeviceLogins logins_;

    std::unique_ptr<httplib::Server> server_;
    std::thread thread_;
    int port_ = 0;
};

}  // namespace orvela::dev
