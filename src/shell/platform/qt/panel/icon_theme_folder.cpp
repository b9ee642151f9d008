#include "icon_theme_folder.hpp"

#include <sys/stat.h>

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <utility>

#include "quick_png.hpp"

namespace orvela::qt {

namespace {
// No '-' in the name: Qt and GTK hosts that look a name up with fallbacks strip it at each '-'
// ("orvela-timer-1" falls back to "orvela-timer"), and LXQt's panel then shows the app's own
// icon, found in the user's theme, without looking into IconThemePath at all.
const QString kPrefix = QStringLiteral("orvela_timer_");
// More files of ours than a run ever leaves means the folder is not what it seems: stop there.
constexpr int kMaxLeftovers = 256;
}  // namespace

IconThemeFolder::IconThemeFolder(QString path) : path_(std::move(path)) {}

IconThemeFolder::~IconThemeFolder() {
    removeWritten();
}

QString IconThemeFolder::fileOf(const QString& name, int size) const {
    return QStringLiteral("%1/hicolor/%2x%2/apps/%3.png").arg(path_).arg(size).arg(name);
}

QString IconThemeFolder::publish(const QList<QImage>& images) {
    if (!cleaned_) {
        cleaned_ = true;
        // The folder is the user's alone, like the runtime folder it lives in.
        ::mkdir(QFile::encodeName(path_).constData(), 0700);
        removeLeftovers();
    }
    removeWritten();
    // The process id keeps a host that outlived an earlier run from showing what it loaded
    // under the same name then.
    const QString name =
        kPrefix + QStringLiteral("%1_%2").arg(QCoreApplication::applicationPid()).arg(++serial_);
    for (const QImage& image : images) {
        const QString file = fileOf(name, image.width());
        // Written in place, no sync: hosts read it only once told its name, after this, and a
        // file cut short by a crash bears a name nobody asks for again.
        const QByteArray png = quickPng(image);
        QFile out(file);
        const bool saved = !png.isEmpty() && QDir().mkpath(QFileInfo(file).path()) &&
                           out.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
                           out.write(png) == png.size() && out.flush();
        out.close();
        if (!saved) {
            removeWritten();
            return {};
        }
        written_ << file;
    }
    return name;
}

void IconThemeFolder::removeWritten() {
    for (const QString& file : std::as_const(written_)) QFile::remove(file);
    written_.clear();
}

void IconThemeFolder::removeLeftovers() {
    // Only our own names, in the folders we write to; links are not followed.
    QDirIterator it(path_ + QStringLiteral("/hicolor"), {kPrefix + QStringLiteral("*.png")},
                    QDir::Files | QDir::NoSymLinks, QDirIterator::Subdirectories);
    for (int n = 0; n < kMaxLeftovers && it.hasNext(); ++n) QFile::remove(it.next());
}

}  // namespace orvela::qt
