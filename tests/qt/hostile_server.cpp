#include "qt/hostile_server.hpp"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>

namespace orvela::test {

namespace {

constexpr std::size_t kMostHeadBytes = 1 << 20;  // a longer request head is cut off there
constexpr std::size_t kMostFlood = 4ull << 30;   // an endless body ends here at the latest
constexpr int kMostConnections = 64;             // further ones are closed at once

bool sendAll(int fd, const std::string& bytes) {
    return ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) == ssize_t(bytes.size());
}

}  // namespace

HostileServer::HostileServer() {
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    ::bind(listener_, reinterpret_cast<sockaddr*>(&address), size);
    ::listen(listener_, 128);
    ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &size);
    port_ = ntohs(address.sin_port);
    acceptor_ = std::thread([this] { acceptLoop(); });
}

HostileServer::~HostileServer() {
    stopping_ = true;
    acceptor_.join();
    for (auto& running : threads_) running.first.join();
    ::close(listener_);
}

void HostileServer::behave(const std::string& prefix, Mode mode, std::string body) {
    std::lock_guard lock(mutex_);
    modes_[prefix] = {mode, std::move(body)};
}

std::string HostileServer::url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
}

std::vector<HostileServer::Seen> HostileServer::seen() {
    std::lock_guard lock(mutex_);
    return seen_;
}

double HostileServer::now() const {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - started_).count();
}

void HostileServer::acceptLoop() {
    while (!stopping_) {
        std::erase_if(threads_, [](auto& running) {
            if (!*running.second) return false;
            running.first.join();
            return true;
        });
        pollfd ready{listener_, POLLIN, 0};
        if (::poll(&ready, 1, 10) <= 0) continue;
        const int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) continue;
        if (open_ >= kMostConnections) {
            ::close(fd);
            continue;
        }
        most_ = std::max(most_.load(), ++open_);
        auto done = std::make_shared<std::atomic<bool>>(false);
        threads_.emplace_back(std::thread([this, fd, done] {
                                  serve(fd);
                                  ::close(fd);
                                  --open_;
                                  *done = true;
                              }),
                              done);
    }
}

bool HostileServer::pause(int fd, int ms) {
    for (int waited = 0; waited < ms && !stopping_; waited += 10) {
        pollfd peer{fd, POLLIN, 0};
        char byte;
        if (::poll(&peer, 1, 10) > 0 && ::recv(fd, &byte, 1, MSG_DONTWAIT) <= 0) return false;
    }
    return !stopping_;
}

void HostileServer::serve(int fd) {
    // One request per connection; its head is all we read.
    std::string head;
    char buffer[65536];
    while (head.find("\r\n\r\n") == std::string::npos && head.size() < kMostHeadBytes) {
        if (stopping_) return;
        pollfd peer{fd, POLLIN, 0};
        if (::poll(&peer, 1, 10) <= 0) continue;
        const ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
        if (got <= 0) return;
        head.append(buffer, std::size_t(got));
    }
    const std::string line = head.substr(0, head.find(' ', head.find(' ') + 1));
    const std::string path = line.substr(line.find(' ') + 1);
    std::pair<Mode, std::string> how{Mode::Answer, {}};
    bool known = false;
    {
        std::lock_guard lock(mutex_);
        seen_.push_back({line, head.size(), now()});
        for (const auto& [prefix, mode] : modes_)
            if (path.starts_with(prefix)) how = mode, known = true;  // ordered: longest last
    }
    const auto& [mode, body] = how;
    const std::string ok =
        "HTTP/1.1 200 OK\r\nConnection: close\r\nContent-Type: application/json\r\n";
    if (!known) {
        sendAll(fd, "HTTP/1.1 404 Not Found\r\nConnection: close\r\nContent-Length: 0\r\n\r\n");
        return;
    }
    switch (mode) {
        case Mode::Answer:
            sendAll(fd, ok + "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body);
            break;
        case Mode::Trickle:  // a byte every 0.5 s: never silent long enough for a timeout
            if (!sendAll(fd, ok + "\r\n")) return;  // no length: it ends with the connection
            while (pause(fd, 500) && sendAll(fd, " ")) {
            }
            break;
        case Mode::Flood: {  // no length: the body ends when the connection does
            const std::string chunk(sizeof buffer, 'x');
            if (!sendAll(fd, ok + "\r\n")) return;
            for (std::size_t sent = 0; sent < kMostFlood && !stopping_ && sendAll(fd, chunk);)
                sent += chunk.size();
            break;
        }
        case Mode::Stall:
            while (pause(fd, 100)) {
            }
            break;
        case Mode::Reset: {
            sendAll(fd, ok + "Content-Length: 1000\r\n\r\n" + std::string(100, 'x'));
            const linger abrupt{1, 0};  // closing now sends RST instead of FIN
            ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &abrupt, sizeof abrupt);
            break;
        }
        case Mode::Garbage:
            sendAll(fd, std::string("\x16\x03\x01\xff garbage \0\r\n\r\n", 20));
            break;
        case Mode::Oversize:
            sendAll(fd, ok + "Content-Length: 1000000000\r\n\r\n" + std::string(1000, 'x'));
            pause(fd, 5000);
            break;
    }
}

}  // namespace orvela::test
