#include "processes.hpp"

#include <QEventLoop>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStringList>
#include <string_view>

extern char** environ;

namespace orvela::qt {

namespace {
QStringList toQt(const std::vector<std::string>& arguments) {
    QStringList list;
    list.reserve(static_cast<qsizetype>(arguments.size()));
    for (const auto& argument : arguments) list << QString::fromStdString(argument);
    return list;
}
}  // namespace

ProcessResult runAndWait(const std::string& path, const std::vector<std::string>& arguments) {
    QProcess process;
    process.setProgram(QString::fromStdString(path));
    process.setArguments(toQt(arguments));
    process.setProcessEnvironment(QProcessEnvironment::systemEnvironment());
    // Output goes where ours goes; a program that reads its input sees an end, not a hang.
    process.setProcessChannelMode(QProcess::ForwardedChannels);
    process.setStandardInputFile(QProcess::nullDevice());

    QEventLoop loop;
    QObject::connect(&process, &QProcess::stateChanged, &loop,
                     [&loop](QProcess::ProcessState state) {
                         if (state == QProcess::NotRunning) loop.quit();
                     });
    process.start();
    if (process.state() != QProcess::NotRunning) loop.exec();

    ProcessResult result;
    if (process.state() != QProcess::NotRunning) {
        // The loop ended before the program: the app is quitting (QCoreApplication::exit ends
        // every loop). Its work is half done; stop it now, so that nothing more is written
        // behind our back, and never read an exit status it does not have.
        process.kill();
        process.waitForFinished(3000);
        result.stoppedByQuit = true;
    } else if (process.error() == QProcess::FailedToStart) {
        result.launchError = process.errorString().toStdString();
    } else if (process.exitStatus() == QProcess::CrashExit) {
        // Killed by a signal: it ended, and not well.
        result.exitStatus = process.exitCode() != 0 ? 128 + process.exitCode() : 128;
    } else {
        result.exitStatus = process.exitCode();
    }
    return result;
}

std::map<std::string, std::string> processEnvironment() {
    // The C library's table as it is now, with whatever the app itself set since it started
    // (QProcessEnvironment::systemEnvironment() reads the same table).
    std::map<std::string, std::string> variables;
    for (char** entry = environ; entry && *entry; ++entry) {
        const std::string_view text(*entry);
        const std::size_t equals = text.find('=');
        if (equals == std::string_view::npos || equals == 0) continue;
        variables.emplace(std::string(text.substr(0, equals)),
                          std::string(text.substr(equals + 1)));
    }
    return variables;
}

std::optional<std::string> launchDetached(const std::string& path,
                                          const std::vector<std::string>& arguments,
                                          const std::map<std::string, std::string>& environment) {
    QProcessEnvironment exact;  // default-constructed: empty, inheriting nothing
    for (const auto& [name, value] : environment)
        exact.insert(QString::fromStdString(name), QString::fromStdString(value));
    QProcess process;
    process.setProgram(QString::fromStdString(path));
    process.setArguments(toQt(arguments));
    process.setProcessEnvironment(exact);
    process.setStandardInputFile(QProcess::nullDevice());
    if (!process.startDetached()) return process.errorString().toStdString();
    return std::nullopt;
}

}  // namespace orvela::qt
