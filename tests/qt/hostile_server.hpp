// A loopback HTTP server (raw sockets, 127.0.0.1 only) that misbehaves on purpose, path by
// path: trickles, floods without end, stalls, resets mid-body or answers garbage. Every loop
// is bounded and ends when the peer goes or the server stops.
#pragma once

#include <atomic>
#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace orvela::test {

class HostileServer {
public:
    enum class Mode { Answer, Trickle, Flood, Stall, Reset, Garbage, Oversize };
    struct Seen {
        std::string line;       // "GET /path"
        std::size_t headBytes;  // the whole request head as it arrived
        double at;              // seconds since the server started
    };

    HostileServer();
    ~HostileServer();
    // How requests whose path starts with `prefix` are answered (the longest prefix wins);
    // Answer sends 200 with `body`. Unknown paths get 404.
    void behave(const std::string& prefix, Mode mode, std::string body = {});
    std::string url(const std::string& path = {}) const;
    std::vector<Seen> seen();
    int openConnections() const { return open_; }
    int mostConnections() const { return most_; }
    double now() const;

private:
    void acceptLoop();
    void serve(int fd);
    bool pause(int fd, int ms);  // false when the peer closed or the server stops

    int listener_ = -1;
    int port_ = 0;
    std::chrono::steady_clock::time_point started_ = std::chrono::steady_clock::now();
    std::atomic<bool> stopping_{false};
    std::atomic<int> open_{0}, most_{0};
    std::mutex mutex_;
    std::map<std::string, std::pair<Mode, std::string>> modes_;
    std::vector<Seen> seen_;
    // Connection threads, joined as soon as they end: a finished one would still hold its stack
    // and count in the process's RSS, which the tests measure.
    std::vector<std::pair<std::thread, std::shared_ptr<std::atomic<bool>>>> threads_;
    std::thread acceptor_;
};

}  // namespace orvela::test
