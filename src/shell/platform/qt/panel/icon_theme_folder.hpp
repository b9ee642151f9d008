// The counting icon as files of a private icon theme, for hosts that draw only named icons.
//
// MATE's Ayatana indicator applet shows a StatusNotifierItem's IconName and never its pixmaps.
// Hosts that draw both (Plasma, GNOME's AppIndicator, Xfce, LXQt, MATE's notification area)
// prefer the name where they find it, so the theme holds the very pictures the pixmaps carry,
// one PNG per size under hicolor/<n>x<n>/apps/: each host picks the size it would have picked
// among the pixmaps. A new picture gets a new name (hosts and GTK keep what they loaded by
// name), written before hosts are told of it; the previous picture's files go at once.
#pragma once

#include <QImage>
#include <QList>
#include <QString>
#include <QStringList>

namespace orvela::qt {

class IconThemeFolder {
public:
    // `path` is the folder hosts are given as IconThemePath; created private (0700) when it is
    // first written to. What an earlier run of the app left there is removed then.
    explicit IconThemeFolder(QString path);
    // Takes the files it wrote with it.
    ~IconThemeFolder();
    IconThemeFolder(const IconThemeFolder&) = delete;
    IconThemeFolder& operator=(const IconThemeFolder&) = delete;

    const QString& path() const { return path_; }
    // Writes `images` (square, one per size) under a new name and removes the previous ones.
    // Returns the name, or an empty one when a file could not be written (none is left then).
    QString publish(const QList<QImage>& images);
    // Where `publish` put the picture of `size` px for `name`.
    QString fileOf(const QString& name, int size) const;

private:
    void removeWritten();
    void removeLeftovers();

    QString path_;
    QStringList written_;
    quint64 serial_ = 0;
    bool cleaned_ = false;
};

}  // namespace orvela::qt
