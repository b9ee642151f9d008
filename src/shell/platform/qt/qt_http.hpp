// The one HTTP client of the process, on the Qt main loop.
#pragma once

#include <QNetworkAccessManager>
#include <QObject>
#include <QString>
#include <functional>

#include "shell/platform/platform.hpp"

class QNetworkReply;

namespace orvela::qt {

class HttpClient final : public QObject {
    Q_OBJECT
public:
    explicit HttpClient(QObject* parent = nullptr);

    // `done` runs exactly once, from the main loop, never from inside the call.
    void send(const HttpRequest& request, std::function<void(HttpResponse)> done);
    // Streams the body into a new file in `directory`; the file is left for the caller.
    void download(const HttpRequest& request, const QString& directory,
                  std::function<void(DownloadResult)> done);

private:
    // Null (with `error` set) when the request cannot be put on the wire safely.
    QNetworkReply* start(const HttpRequest& request, QString& error);

    QNetworkAccessManager manager_;
};

// Whether a finished reply carries an HTTP answer the caller should see (any status, also 4xx
// and 5xx), as opposed to a transfer that failed before the answer was complete.
bool isHttpAnswer(const QNetworkReply& reply);

}  // namespace orvela::qt
