// Turning the Qt event loop from a test until something has happened.
#pragma once

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QThread>
#include <functional>

namespace orvela::test {

// Processes events until `done` holds or `timeoutMs` has passed; returns whether it held.
inline bool waitUntil(const std::function<bool()>& done, int timeoutMs = 5000) {
    QDeadlineTimer deadline(timeoutMs);
    while (!done()) {
        if (deadline.hasExpired()) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(1);
    }
    return true;
}

// Processes events for `ms` milliseconds.
inline void spin(int ms) {
    waitUntil([] { return false; }, ms);
}

}  // namespace orvela::test

#include <QByteArray>
#include <QString>

namespace orvela::test {

// Sets (or, with a null value, unsets) an environment variable for the life of the object.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const QString& value) : name_(name) {
        had_ = qEnvironmentVariableIsSet(name);
        old_ = qgetenv(name);
        if (value.isNull())
            qunsetenv(name);
        else
            qputenv(name, value.toUtf8());
    }
    ~ScopedEnv() {
        if (had_)
            qputenv(name_, old_);
        else
            qunsetenv(name_);
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    const char* name_;
    bool had_ = false;
    QByteArray old_;
};

}  // namespace orvela::test

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace orvela::test {

// Writes `text` to `path`, creating the folders on the way; whether it all went down.
inline bool writeFile(const QString& path, const QByteArray& text) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(text) == text.size();
}

}  // namespace orvela::test
