// The comparison program for bench/footprint.sh: the plainest Qt 6 tray countdown one would
// write. A QSystemTrayIcon whose icon shows "mm:ss" of the running phase, repainted once a
// second, and a GET of the timer from the service every 15 s with QNetworkAccessManager.
//
//   qt-tray-countdown --url http://127.0.0.1:PORT --token TOKEN
//
// Each repaint writes "repaints N" on stderr, so the benchmark can count them on any tray.
#include <QApplication>
#include <QCommandLineParser>
#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPainter>
#include <QSystemTrayIcon>
#include <QTimer>
#include <cmath>
#include <cstdio>
#include <optional>

namespace {

constexpr int kPollMs = 15000;
constexpr int kIconSize = 22;

// Milliseconds left in the current phase of a timer reply's "state", if one runs.
std::optional<double> msLeft(const QJsonObject& state, double nowMs) {
    const double startedAt = state.value(QStringLiteral("startedAt")).toDouble(NAN);
    if (!std::isfinite(startedAt)) return std::nullopt;
    const QJsonValue paused = state.value(QStringLiteral("pausedAt"));
    const double at = paused.isDouble() ? paused.toDouble() : nowMs;
    const double elapsed = at - startedAt;
    double end = 0;
    for (const QJsonValue& phase : state.value(QStringLiteral("plan")).toArray()) {
        end += phase.toObject().value(QStringLiteral("min")).toDouble() * 60000.0;
        if (end > elapsed) return end - elapsed;
    }
    return std::nullopt;
}

QIcon paintCountdown(std::optional<double> left) {
    QImage image(kIconSize, kIconSize, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setBrush(QColor(0xd0, 0x30, 0x30));
    painter.setPen(Qt::NoPen);
    painter.drawEllipse(image.rect());
    QString text = QStringLiteral("--");
    if (left && *left >= 0 && *left < 100.0 * 60000.0) {
        const int seconds = int(std::ceil(*left / 1000.0));
        text = QStringLiteral("%1:%2")
                   .arg(seconds / 60, 2, 10, QLatin1Char('0'))
                   .arg(seconds % 60, 2, 10, QLatin1Char('0'));
    }
    QFont font = painter.font();
    font.setPixelSize(8);
    font.setBold(true);
    painter.setFont(font);
    painter.setPen(Qt::white);
    painter.drawText(image.rect(), Qt::AlignCenter, text);
    painter.end();
    return QIcon(QPixmap::fromImage(image));
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    QCommandLineParser options;
    options.addOption(
        {QStringLiteral("url"), QStringLiteral("Service base URL."), QStringLiteral("url")});
    options.addOption(
        {QStringLiteral("token"), QStringLiteral("Bearer token."), QStringLiteral("token")});
    options.addHelpOption();
    options.process(app);

    QNetworkAccessManager network;
    QNetworkRequest request(
        QUrl(options.value(QStringLiteral("url")) + QStringLiteral("/api/ext/pomodoro")));
    request.setRawHeader("Authorization",
                         "Bearer " + options.value(QStringLiteral("token")).toUtf8());
    request.setTransferTimeout(10000);

    QJsonObject state;
    QSystemTrayIcon tray;
    long repaints = 0;
    const auto repaint = [&] {
        tray.setIcon(paintCountdown(msLeft(state, double(QDateTime::currentMSecsSinceEpoch()))));
        std::fprintf(stderr, "repaints %ld\n", ++repaints);
    };
    const auto poll = [&] {
        QNetworkReply* reply = network.get(request);
        QObject::connect(reply, &QNetworkReply::finished, reply, [&, reply] {
            reply->deleteLater();
            if (reply->error() != QNetworkReply::NoError) return;
            const QJsonObject answer = QJsonDocument::fromJson(reply->read(1 << 20)).object();
            state = answer.value(QStringLiteral("state")).toObject();
        });
    };

    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, repaint);
    tick.start(1000);
    QTimer polling;
    QObject::connect(&polling, &QTimer::timeout, poll);
    polling.start(kPollMs);
    poll();
    repaint();
    tray.show();
    return app.exec();
}
