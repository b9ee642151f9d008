#include "qt_http.hpp"

#include <QByteArray>
#include <QNetworkCookie>
#include <QNetworkCookieJar>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QTemporaryFile>
#include <QTimer>
#include <QUrl>
#include <climits>
#include <cmath>
#include <memory>

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

// Qt's transfer timeout is an int of milliseconds where 0 means "never"; the core speaks
// seconds as a double. Anything that is not a positive finite number falls back to the
// documented 10 s rather than silently disabling the timeout.
int transferTimeoutMs(double seconds) {
    constexpr double kDefaultSeconds = 10.0;
    if (!std::isfinite(seconds) || seconds <= 0) seconds = kDefaultSeconds;
    const double ms = std::ceil(seconds * 1000.0);
    if (ms >= static_cast<double>(INT_MAX)) return INT_MAX;
    return static_cast<int>(ms);
}

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

bool isHttpAnswer(const QNetworkReply& reply) {
    if (!reply.attribute(QNetworkRequest::HttpStatusCodeAttribute).isValid()) return false;
    const int error = reply.error();
    // Qt turns 4xx and 5xx statuses into errors 201-299 and 401-499; those are complete
    // answers. Everything else (connection, timeout, TLS, proxy, protocol) broke the transfer,
    // even when a status line had already arrived.
    return error == QNetworkReply::NoError || (error >= 201 && error <= 299) ||
           (error >= 401 && error <= 499);
}

HttpClient::HttpClient(QObject* parent) : QObject(parent) {
    manager_.setCookieJar(new NoCookieJar(&manager_));
}

QNetworkReply* HttpClient::start(const HttpRequest& request, QString& error) {
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
    wire.setTransferTimeout(transferTimeoutMs(request.timeoutSeconds));
    wire.setAttribute(QNetworkRequest::CacheLoadControlAttribute,
                      request.cache == CachePolicy::IgnoreLocalData
                          ? QNetworkRequest::AlwaysNetwork
                          : QNetworkRequest::PreferNetwork);

    const QByteArray method = bytes(request.method);
    if (request.body) return manager_.sendCustomRequest(wire, method, bytes(*request.body));
    if (method == "GET") return manager_.get(wire);
    if (method == "HEAD") return manager_.head(wire);
    if (method == "DELETE") return manager_.deleteResource(wire);
    // A body-less POST or PUT still says "Content-Length: 0": without it a server may wait for
    // a body until the connection closes. For an empty body Qt adds no Content-Type of its
    // own (it invents one only for data), so the timer commands go out with none.
    if (method == "POST") return manager_.post(wire, QByteArray());
    if (method == "PUT") return manager_.put(wire, QByteArray());
    return manager_.sendCustomRequest(wire, method);
}

void HttpClient::send(const HttpRequest& request, std::function<void(HttpResponse)> done) {
    QString error;
    QNetworkReply* reply = start(request, error);
    if (!reply) {
        HttpResponse response;
        response.error = error.toStdString();
        QTimer::singleShot(0, this, [done = std::move(done), response] { done(response); });
        return;
    }
    connect(reply, &QNetworkReply::finished, this, [reply, done = std::move(done)] {
        reply->deleteLater();
        HttpResponse response;
        if (isHttpAnswer(*reply)) {
            response.transportOk = true;
            response.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
            response.body = text(reply->readAll());
        } else {
            response.error = reply->errorString().toStdString();
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
    QNetworkReply* reply = start(request, error);
    if (!reply) {
        file->remove();
        fail(std::move(done), error);
        return;
    }
    // Written as it arrives: an update archive need not sit in memory whole.
    auto writeError = std::make_shared<QString>();
    connect(reply, &QNetworkReply::readyRead, this, [reply, file, writeError] {
        const QByteArray chunk = reply->readAll();
        if (writeError->isEmpty() && file->write(chunk) != chunk.size()) {
            *writeError = file->errorString();
            reply->abort();
        }
    });
    connect(reply, &QNetworkReply::finished, this,
            [reply, file, writeError, done = std::move(done)] {
                reply->deleteLater();
                // After an abort the reply is closed and has nothing more to give.
                const QByteArray rest = reply->isOpen() ? reply->readAll() : QByteArray();
                if (writeError->isEmpty() && file->write(rest) != rest.size())
                    *writeError = file->errorString();
                if (writeError->isEmpty() && !file->flush()) *writeError = file->errorString();
                DownloadResult result;
                if (!writeError->isEmpty()) {
                    result.error = writeError->toStdString();
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
