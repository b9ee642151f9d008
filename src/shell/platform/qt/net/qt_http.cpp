#include "qt_http.hpp"

#include <QByteArray>
#include <QNetworkCookie>
#include <QNetworkCookieJar>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTemporaryFile>
#include <QTimer>
#include <QUrl>
#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>

namespace orvela::qt {

namespace {

// The app keeps no cookies: every request stands on its bearer token alone, and a cookie the
// service (or a portal in between) sets must not ride along on later requests.
class NoCookieJar final : public QNetworkCookieJar {
public:
    using QNetworkCookieJar::QNetworkCookieJar;
    QList<QNetworkCookie> cookiesForUrl(const QUrl&) const override { return {}; }
    bool setCookiesFromUrl(const QList<QNetworkCookie>&, const QUrl&) override { return false; }
};

// Qt's timers take an int of milliseconds (for the transfer timeout 0 means "never"); the core
// speaks seconds as a double. Anything that is not a positive finite number falls back to the
// documented default rather than silently disabling the bound.
int milliseconds(double seconds, double fallbackSeconds) {
    if (!std::isfinite(seconds) || seconds <= 0) seconds = fallbackSeconds;
    const double ms = std::ceil(seconds * 1000.0);
    if (ms >= static_cast<double>(INT_MAX)) return INT_MAX;
    return static_cast<int>(ms);
}

// The most Qt holds of an answer before we have taken it: the answer then waits in the socket
// (and the sender), never in our memory, however fast it floods.
constexpr qint64 kReadBufferBytes = 64 * 1024;

// A header name or value with a line break (or NUL) would let a value inject headers of its
// own; such a request is refused before anything reaches the wire.
bool safeHeaderText(const std::string& text) {
    for (char c : text) {
        if (c == '\r' || c == '\n' || c == '\0') return false;
    }
    return true;
}

QByteArray bytes(const std::string& text) {
    return QByteArray(text.data(), static_cast<qsizetype>(text.size()));
}

std::string text(const QByteArray& bytes) {
    return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

}  // namespace

// One transfer's bounds and why it was abandoned, shared by the reply's handlers.
struct HttpClient::Transfer {
    qint64 cap = 0;       // the most body bytes the answer may have
    qint64 received = 0;  // body bytes taken so far
    QString failure;      // set when we abandoned the transfer: deadline, cap, a failed write

    explicit Transfer(std::uint64_t maxBodyBytes)
        : cap(static_cast<qint64>(
              std::min<std::uint64_t>(maxBodyBytes, static_cast<std::uint64_t>(LLONG_MAX)))) {}

    void abandon(QNetworkReply* reply, const QString& why) {
        if (failure.isEmpty()) failure = why;
        // Closes the connection at once: a reused one would still carry the rest.
        if (reply->isRunning()) reply->abort();
    }
    // Takes what has arrived into `chunk`; false (and the transfer abandoned) once the body
    // has passed the cap. At most one read buffer is taken at a time.
    bool take(QNetworkReply* reply, QByteArray& chunk) {
        if (!failure.isEmpty() || !reply->isOpen()) return false;
        chunk = reply->readAll();
        received += chunk.size();
        if (received <= cap) return true;
        abandon(reply, QStringLiteral("Answer longer than %1 bytes").arg(cap));
        return false;
    }
};

bool isHttpAnswer(const QNetworkReply& reply) {
    if (!reply.attribute(QNetworkRequest::HttpStatusCodeAttribute).isValid()) return false;
    // Qt turns every status of 400 and above into an error code of its own choosing (400 and 418
    // become ProtocolInvalidOperationError, 407 ProxyAuthenticationRequiredError, 404
    // ContentNotFoundError, ...), and only once the whole body has arrived: whatever the code,
    // that is an answer. A transfer cut short reports what broke it instead, even when a status
    // line had already come: the network layer (connection, timeout, TLS, redirects, our own
    // abort), the proxy, or a malformed or truncated answer.
    const int error = reply.error();
    if (error == QNetworkReply::NoError) return true;
    if (error < QNetworkReply::ProxyConnectionRefusedError) return false;
    if (error < QNetworkReply::ContentAccessDenied)
        return error == QNetworkReply::ProxyAuthenticationRequiredError;
    return error != QNetworkReply::ProtocolFailure;
}

HttpClient::HttpClient(QObject* parent) : QObject(parent) {
    poolWithRoom();  // the usual one, kept for the life of the client
}

HttpClient::~HttpClient() = default;

HttpClient::Pool& HttpClient::poolWithRoom() {
    for (const auto& pool : pools_)
        if (pool->inFlight < kMaxInFlightPerPool) return *pool;
    auto pool = std::make_unique<Pool>();
    pool->manager = std::make_unique<QNetworkAccessManager>();
    pool->manager->setCookieJar(new NoCookieJar(pool->manager.get()));
    pools_.push_back(std::move(pool));
    return *pools_.back();
}

void HttpClient::release(QNetworkAccessManager* manager) {
    const auto it = std::find_if(pools_.begin(), pools_.end(), [manager](const auto& pool) {
        return pool->manager.get() == manager;
    });
    if (it == pools_.end()) return;
    if (--(*it)->inFlight > 0 || it == pools_.begin()) return;
    // Later, not now: the reply that just finished still belongs to this manager.
    (*it)->manager.release()->deleteLater();
    pools_.erase(it);
}

QNetworkReply* HttpClient::start(const HttpRequest& request,
                                 const std::shared_ptr<Transfer>& transfer, QString& error) {
    const QUrl url(QString::fromStdString(request.url), QUrl::StrictMode);
    if (!url.isValid() || url.scheme().isEmpty()) {
        error = QStringLiteral("Invalid URL: ") + QString::fromStdString(request.url);
        return nullptr;
    }
    QNetworkRequest wire(url);
    for (const auto& [name, value] : request.headers) {
        if (name.empty() || !safeHeaderText(name) || !safeHeaderText(value)) {
            error = QStringLiteral("Refused a header containing a line break");
            return nullptr;
        }
        wire.setRawHeader(bytes(name), bytes(value));
    }
    wire.setTransferTimeout(milliseconds(request.timeoutSeconds, 10));
    wire.setAttribute(QNetworkRequest::CacheLoadControlAttribute,
                      request.cache == CachePolicy::IgnoreLocalData
                          ? QNetworkRequest::AlwaysNetwork
                          : QNetworkRequest::PreferNetwork);

    Pool& pool = poolWithRoom();
    QNetworkAccessManager& manager = *pool.manager;
    const QByteArray method = bytes(request.method);
    QNetworkReply* reply = nullptr;
    if (request.body) {
        reply = manager.sendCustomRequest(wire, method, bytes(*request.body));
    } else if (method == "GET") {
        reply = manager.get(wire);
    } else if (method == "HEAD") {
        reply = manager.head(wire);
    } else if (method == "DELETE") {
        reply = manager.deleteResource(wire);
    } else if (method == "POST") {
        // A body-less POST or PUT still says "Content-Length: 0": without it a server may wait
        // for a body until the connection closes. For an empty body Qt adds no Content-Type of
        // its own (it invents one only for data), so the timer commands go out with none.
        reply = manager.post(wire, QByteArray());
    } else if (method == "PUT") {
        reply = manager.put(wire, QByteArray());
    } else {
        reply = manager.sendCustomRequest(wire, method);
    }
    ++pool.inFlight;
    // Connected first, so the pool has its room back before the caller hears the answer.
    connect(reply, &QNetworkReply::finished, this, [this, owner = &manager] { release(owner); });

    reply->setReadBufferSize(kReadBufferBytes);
    // Besides the inactivity timeout: a service that trickles a byte every few seconds would
    // otherwise keep the transfer (and its connection) for ever.
    const int deadlineMs = milliseconds(request.deadlineSeconds, 30);
    auto* deadline = new QTimer(reply);
    deadline->setSingleShot(true);
    connect(deadline, &QTimer::timeout, reply, [reply, transfer, deadlineMs] {
        transfer->abandon(reply, QStringLiteral("No complete answer within %1 ms").arg(deadlineMs));
    });
    deadline->start(deadlineMs);
    // An answer that announces more than the cap is abandoned before a byte of it is read.
    connect(reply, &QNetworkReply::metaDataChanged, reply, [reply, transfer] {
        bool known = false;
        const qint64 length =
            reply->header(QNetworkRequest::ContentLengthHeader).toLongLong(&known);
        if (known && length > transfer->cap)
            transfer->abandon(reply, QStringLiteral("Answer announced as %1 bytes").arg(length));
    });
    return reply;
}

void HttpClient::send(const HttpRequest& request, std::function<void(HttpResponse)> done) {
    QString error;
    auto transfer = std::make_shared<Transfer>(request.maxBodyBytes);
    QNetworkReply* reply = start(request, transfer, error);
    if (!reply) {
        HttpResponse response;
        response.error = error.toStdString();
        QTimer::singleShot(0, this, [done = std::move(done), response] { done(response); });
        return;
    }
    // Taken as it arrives, so the cap is checked while reading, not after a flood has landed.
    auto body = std::make_shared<QByteArray>();
    connect(reply, &QNetworkReply::readyRead, this, [reply, transfer, body] {
        QByteArray chunk;
        if (transfer->take(reply, chunk)) body->append(chunk);
    });
    connect(reply, &QNetworkReply::finished, this, [reply, transfer, body, done = std::move(done)] {
        reply->deleteLater();
        QByteArray rest;
        if (transfer->take(reply, rest)) body->append(rest);
        HttpResponse response;
        if (transfer->failure.isEmpty() && isHttpAnswer(*reply)) {
            response.transportOk = true;
            response.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
            response.body = text(*body);
        } else {
            response.error =
                (transfer->failure.isEmpty() ? reply->errorString() : transfer->failure)
                    .toStdString();
        }
        done(std::move(response));
    });
}

void HttpClient::download(const HttpRequest& request, const QString& directory,
                          std::function<void(DownloadResult)> done) {
    auto fail = [this](std::function<void(DownloadResult)> done, const QString& error) {
        DownloadResult result;
        result.error = error.toStdString();
        QTimer::singleShot(0, this, [done = std::move(done), result] { done(result); });
    };
    auto file =
        std::make_shared<QTemporaryFile>(directory + QStringLiteral("/orvela-download-XXXXXX"));
    file->setAutoRemove(false);
    if (!file->open()) {
        fail(std::move(done), file->errorString());
        return;
    }
    QString error;
    auto transfer = std::make_shared<Transfer>(request.maxBodyBytes);
    QNetworkReply* reply = start(request, transfer, error);
    if (!reply) {
        file->remove();
        fail(std::move(done), error);
        return;
    }
    // Written as it arrives: an update archive need not sit in memory whole. A write that
    // fails (a full disk) ends the transfer at once.
    auto store = [reply, file, transfer] {
        QByteArray chunk;
        if (transfer->take(reply, chunk) && file->write(chunk) != chunk.size())
            transfer->abandon(reply, file->errorString());
    };
    connect(reply, &QNetworkReply::readyRead, this, store);
    connect(reply, &QNetworkReply::finished, this,
            [reply, file, transfer, store, done = std::move(done)] {
                reply->deleteLater();
                store();
                if (transfer->failure.isEmpty() && !file->flush())
                    transfer->failure = file->errorString();
                DownloadResult result;
                if (!transfer->failure.isEmpty()) {
                    result.error = transfer->failure.toStdString();
                } else if (!isHttpAnswer(*reply)) {
                    result.error = reply->errorString().toStdString();
                } else {
                    result.path = file->fileName().toStdString();
                }
                file->close();
                if (!result.path) file->remove();
                done(std::move(result));
            });
}

}  // namespace orvela::qt
