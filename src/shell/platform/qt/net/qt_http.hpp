// net/: HTTP on the main loop and the TLS trust it uses. Includes nothing else of the adapter,
// so the transport can be read and tested alone.
//
// The HTTP client of the process, on the Qt main loop.
#pragma once

#include <QNetworkAccessManager>
#include <QObject>
#include <QString>
#include <functional>
#include <memory>
#include <vector>

#include "shell/platform/platform.hpp"

class QNetworkReply;

namespace orvela::qt {

class HttpClient final : public QObject {
    Q_OBJECT
public:
    explicit HttpClient(QObject* parent = nullptr);
    ~HttpClient() override;

    // `done` runs exactly once, from the main loop, never from inside the call. The answer is
    // abandoned (transportOk false) once it passes the request's deadline or body cap.
    void send(const HttpRequest& request, std::function<void(HttpResponse)> done);
    // Streams the body into a new file in `directory`; the file is left for the caller. The
    // deadline and the cap hold as for send(); a failed write (a full disk) fails it too.
    void download(const HttpRequest& request, const QString& directory,
                  std::function<void(DownloadResult)> done);

    // How many connection pools exist right now (for tests: stuck requests add pools, and the
    // pools go again when they are done).
    std::size_t poolCount() const { return pools_.size(); }

private:
    struct Pool {
        std::unique_ptr<QNetworkAccessManager> manager;
        int inFlight = 0;
    };
    struct Transfer;

    // Null (with `error` set) when the request cannot be put on the wire safely. Otherwise the
    // reply, already bounded by the request's deadline and read buffer, and counted in its pool.
    QNetworkReply* start(const HttpRequest& request, const std::shared_ptr<Transfer>& transfer,
                         QString& error);
    Pool& poolWithRoom();
    void release(QNetworkAccessManager* manager);

    // Qt opens at most six connections per host and per manager and queues every further
    // request until one of them is free, so six stuck answers (a service that trickles a byte
    // every few seconds never trips the inactivity timeout) would hold back every later poll
    // and every command. No manager here ever carries more than kMaxInFlightPerPool requests;
    // the next one goes to another manager with room, made when there is none, so a request
    // always finds a free connection and goes out at once. Nothing is queued or cancelled by
    // another request; the deadline ends the stuck ones, and a pool that has emptied is
    // dropped again (the first one stays, keeping its connections alive for the next poll).
    static constexpr int kMaxInFlightPerPool = 4;
    std::vector<std::unique_ptr<Pool>> pools_;
};

// Whether a finished reply carries an HTTP answer the caller should see (any status, also 4xx
// and 5xx), as opposed to a transfer that failed before the answer was complete.
bool isHttpAnswer(const QNetworkReply& reply);

}  // namespace orvela::qt
