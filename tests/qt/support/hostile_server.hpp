// A loopback HTTP server (raw sockets, 127.0.0.1) that misbehaves on purpose, path by path: one
// request and thread per connection, every loop bounded until the peer goes or the server stops.
#pragma once

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace orvela::test {

class HostileServer {
public:
    // Answer: 200 with the body. Trickle: a byte every 0.5 s, never silent long enough for a
    // timeout. Flood: an endless body. Stall: nothing after the request. Reset: RST mid-body.
    // Garbage: no HTTP at all. Oversize: announces a gigabyte. Hold: nothing until the test
    // gives the path another mode, which then answers. Unknown paths get 404.
    enum class Mode { Answer, Trickle, Flood, Stall, Reset, Garbage, Oversize, Hold };
    struct Seen {
        std::string line;       // "GET /path"
        std::size_t headBytes;  // the request head as it arrived
        double at;              // seconds since the server started
    };

    HostileServer() {
        sockaddr_in address{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
        socklen_t size = sizeof address;
        ::bind(listener_, reinterpret_cast<sockaddr*>(&address), size);
        ::listen(listener_, 128);
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &size);
        port_ = ntohs(address.sin_port);
        acceptor_ = std::thread([this] { acceptLoop(); });
    }
    ~HostileServer() {
        stopping_ = true;
        acceptor_.join();
        while (open_ > 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        ::close(listener_);
    }
    // Paths starting with `prefix` are served so; the longest prefix wins.
    void behave(const std::string& prefix, Mode mode, std::string body = {}) {
        std::lock_guard lock(mutex_);
        modes_[prefix] = {mode, std::move(body)};
    }
    std::string url(const std::string& path = {}) const {
        return "http://127.0.0.1:" + std::to_string(port_) + path;
    }
    std::vector<Seen> seen() {
        std::lock_guard lock(mutex_);
        return seen_;
    }
    int openConnections() const { return open_; }
    int mostConnections() const { return most_; }
    double now() const {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - started_).count();
    }

private:
    static bool sendAll(int fd, const std::string& bytes) {
        return ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) == ssize_t(bytes.size());
    }
    // Waits `ms`; false when the peer closed or the server stops.
    bool pause(int fd, int ms) {
        for (int waited = 0; waited < ms && !stopping_; waited += 10) {
            pollfd peer{fd, POLLIN, 0};
            char byte;
            if (::poll(&peer, 1, 10) > 0 && ::recv(fd, &byte, 1, MSG_DONTWAIT) <= 0) return false;
        }
        return !stopping_;
    }
    void acceptLoop() {
        while (!stopping_) {
            pollfd ready{listener_, POLLIN, 0};
            if (::poll(&ready, 1, 10) <= 0) continue;
            const int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0) continue;
            if (open_ >= 64) {  // a bound of our own: further connections are closed at once
                ::close(fd);
                continue;
            }
            most_ = std::max(most_.load(), ++open_);
            // Detached, so a finished thread's stack is freed at once (it would count in the RSS
            // we test); the destructor waits for the count to reach zero instead.
            std::thread([this, fd] { serve(fd), ::close(fd), --open_; }).detach();
        }
    }
    void serve(int fd) {
        std::string head;
        char buffer[65536];
        while (head.find("\r\n\r\n") == std::string::npos && head.size() < (1 << 20)) {
            pollfd peer{fd, POLLIN, 0};
            if (stopping_) return;
            if (::poll(&peer, 1, 10) <= 0) continue;
            const ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
            if (got <= 0) return;
            head.append(buffer, std::size_t(got));
        }
        const std::string line = head.substr(0, head.find(' ', head.find(' ') + 1));
        const std::string path = line.substr(line.find(' ') + 1);
        const auto modeFor = [&](bool record) {
            std::pair<Mode, std::string> how{Mode::Garbage, "404"};
            std::lock_guard lock(mutex_);
            if (record) seen_.push_back({line, head.size(), now()});
            for (const auto& [prefix, mode] : modes_)  // in order: the longest match comes last
                if (path.starts_with(prefix)) how = mode;
            return how;
        };
        auto how = modeFor(true);
        while (how.first == Mode::Hold && pause(fd, 10)) how = modeFor(false);
        const auto& [mode, body] = how;
        const std::string ok = "HTTP/1.1 200 OK\r\nConnection: close\r\n";
        if (mode == Mode::Answer) {
            sendAll(fd, ok + "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body);
        } else if (mode == Mode::Trickle) {  // no length: the body ends with the connection
            for (bool on = sendAll(fd, ok + "\r\n"); on && pause(fd, 500);) on = sendAll(fd, " ");
        } else if (mode == Mode::Flood) {
            const std::string chunk(sizeof buffer, 'x');
            bool on = sendAll(fd, ok + "\r\n");
            for (std::size_t sent = 0; on && sent < (4ull << 30); sent += chunk.size())
                on = !stopping_ && sendAll(fd, chunk);
        } else if (mode == Mode::Stall) {
            while (pause(fd, 100)) continue;
        } else if (mode == Mode::Reset) {
            sendAll(fd, ok + "Content-Length: 1000\r\n\r\n" + std::string(100, 'x'));
            const linger abrupt{1, 0};  // closing now sends RST instead of FIN
            ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &abrupt, sizeof abrupt);
        } else if (mode == Mode::Oversize) {
            sendAll(fd, ok + "Content-Length: 1000000000\r\n\r\n" + std::string(1000, 'x'));
            pause(fd, 5000);
        } else if (body == "404") {
            sendAll(fd, "HTTP/1.1 404 Not Found\r\nConnection: close\r\nContent-Length: 0\r\n\r\n");
        } else {
            const char garbage[] = "\x16\x03\x01\xff garbage \0\r\n\r\n";
            sendAll(fd, std::string(garbage, sizeof garbage - 1));
        }
    }

    int listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int port_ = 0;
    const std::chrono::steady_clock::time_point started_ = std::chrono::steady_clock::now();
    std::atomic<bool> stopping_{false};
    std::atomic<int> open_{0}, most_{0};
    std::mutex mutex_;
    std::map<std::string, std::pair<Mode, std::string>> modes_;
    std::vector<Seen> seen_;
    std::thread acceptor_;
};

}  // namespace orvela::test
