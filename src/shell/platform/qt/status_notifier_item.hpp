// Our StatusNotifierItem (org.kde.StatusNotifierItem) over QtDBus.
//
// Hosts that know the extension show its text label (XAyatanaLabel) next to the square icon;
// the others show the icon alone, which is why the icon carries the countdown too. Every
// property is signalled only when it changed, so hosts re-read as little as they can. The item
// registers with the session's org.kde.StatusNotifierWatcher whenever one runs, and reports whether
// a host can show it so that the owner can fall back to an XEmbed tray icon.
#pragma once

#include <QByteArray>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusObjectPath>
#include <QImage>
#include <QList>
#include <QObject>
#include <QString>
#include <optional>

class QDBusServiceWatcher;

namespace orvela::qt {

// (iiay): one icon size, ARGB32 pixels in network byte order.
struct SniIcon {
    int width = 0;
    int height = 0;
    QByteArray bytes;
};
using SniIconList = QList<SniIcon>;

// (sa(iiay)ss): icon name, icon pixmaps, title, description.
struct SniToolTip {
    QString iconName;
    SniIconList icons;
    QString title;
    QString description;
};

QDBusArgument& operator<<(QDBusArgument& arg, const SniIcon& icon);
const QDBusArgument& operator>>(const QDBusArgument& arg, SniIcon& icon);
QDBusArgument& operator<<(QDBusArgument& arg, const SniToolTip& tip);
const QDBusArgument& operator>>(const QDBusArgument& arg, SniToolTip& tip);

void registerStatusNotifierTypes();

// The pixels of `image` as the protocol carries them.
SniIcon sniIconFrom(const QImage& image);

class StatusNotifierItem : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierItem")
    Q_CLASSINFO("D-Bus Introspection",
                "  <interface name=\"org.kde.StatusNotifierItem\">\n"
                "    <property name=\"Category\" type=\"s\" access=\"read\"/>\n"
                "    <property name=\"Id\" type=\"s\" access=\"read\"/>\n"
                "    <property name=\"Title\" type=\"s\" access=\"read\"/>\n"
                "    <property name=\"Status\" type=\"s\" access=\"read\"/>\n"
                "    <property name=\"WindowId\" type=\"i\" access=\"read\"/>\n"
                "    <property name=\"IconThemePath\" type=\"s\" access=\"read\"/>\n"
                "    <property name=\"IconName\" type=\"s\" access=\"read\"/>\n"
                "    <property name=\"IconPixmap\" type=\"a(iiay)\" access=\"read\"/>\n"
                "    <property name=\"OverlayIconName\" type=\"s\" access=\"read\"/>\n"
                "    <property name=\"OverlayIconPixmap\" type=\"a(iiay)\" access=\"read\"/>\n"
                "    <property name=\"AttentionIconName\" type=\"s\" access=\"read\"/>\n"
                "    <property name=\"AttentionIconPixmap\" type=\"a(iiay)\" access=\"read\"/>\n"
                "    <property name=\"AttentionMovieName\" type=\"s\" access=\"read\"/>\n"
                "    <property name=\"ToolTip\" type=\"(sa(iiay)ss)\" access=\"read\"/>\n"
                "    <property name=\"ItemIsMenu\" type=\"b\" access=\"read\"/>\n"
                "    <property name=\"Menu\" type=\"o\" access=\"read\"/>\n"
                "    <property name=\"XAyatanaLabel\" type=\"s\" access=\"read\"/>\n"
                "    <property name=\"XAyatanaLabelGuide\" type=\"s\" access=\"read\"/>\n"
                "    <property name=\"XAyatanaOrderingIndex\" type=\"u\" access=\"read\"/>\n"
                "    <method name=\"ContextMenu\">\n"
                "      <arg name=\"x\" type=\"i\" direction=\"in\"/>\n"
                "      <arg name=\"y\" type=\"i\" direction=\"in\"/>\n"
                "    </method>\n"
                "    <method name=\"Activate\">\n"
                "      <arg name=\"x\" type=\"i\" direction=\"in\"/>\n"
                "      <arg name=\"y\" type=\"i\" direction=\"in\"/>\n"
                "    </method>\n"
                "    <method name=\"SecondaryActivate\">\n"
                "      <arg name=\"x\" type=\"i\" direction=\"in\"/>\n"
                "      <arg name=\"y\" type=\"i\" direction=\"in\"/>\n"
                "    </method>\n"
                "    <method name=\"Scroll\">\n"
                "      <arg name=\"delta\" type=\"i\" direction=\"in\"/>\n"
                "      <arg name=\"orientation\" type=\"s\" direction=\"in\"/>\n"
                "    </method>\n"
                "    <signal name=\"NewTitle\"/>\n"
                "    <signal name=\"NewIcon\"/>\n"
                "    <signal name=\"NewAttentionIcon\"/>\n"
                "    <signal name=\"NewOverlayIcon\"/>\n"
                "    <signal name=\"NewToolTip\"/>\n"
                "    <signal name=\"NewStatus\">\n"
                "      <arg name=\"status\" type=\"s\"/>\n"
                "    </signal>\n"
                "    <signal name=\"XAyatanaNewLabel\">\n"
                "      <arg name=\"label\" type=\"s\"/>\n"
                "      <arg name=\"guide\" type=\"s\"/>\n"
                "    </signal>\n"
                "  </interface>\n")
    Q_PROPERTY(QString Category READ category)
    Q_PROPERTY(QString Id READ id)
    Q_PROPERTY(QString Title READ title)
    Q_PROPERTY(QString Status READ status)
    Q_PROPERTY(int WindowId READ windowId)
    Q_PROPERTY(QString IconThemePath READ emptyText)
    Q_PROPERTY(QString IconName READ emptyText)
    Q_PROPERTY(orvela::qt::SniIconList IconPixmap READ iconPixmap)
    Q_PROPERTY(QString OverlayIconName READ emptyText)
    Q_PROPERTY(orvela::qt::SniIconList OverlayIconPixmap READ noIcons)
    Q_PROPERTY(QString AttentionIconName READ emptyText)
    Q_PROPERTY(orvela::qt::SniIconList AttentionIconPixmap READ noIcons)
    Q_PROPERTY(QString AttentionMovieName READ emptyText)
    Q_PROPERTY(orvela::qt::SniToolTip ToolTip READ toolTip)
    Q_PROPERTY(bool ItemIsMenu READ itemIsMenu)
    Q_PROPERTY(QDBusObjectPath Menu READ menu)
    Q_PROPERTY(QString XAyatanaLabel READ label)
    Q_PROPERTY(QString XAyatanaLabelGuide READ labelGuide)
    Q_PROPERTY(uint XAyatanaOrderingIndex READ orderingIndex)

public:
    static constexpr const char* kObjectPath = "/StatusNotifierItem";
    static constexpr const char* kWatcherService = "org.kde.StatusNotifierWatcher";
    // How long after registering the watcher's list is checked, and how often a registration
    // it lost is repeated for one watcher.
    static constexpr int kListedCheckMs = 1000;
    static constexpr int kMaxReRegistrations = 2;

    // Exports the item on `connection`; `menuPath` is where the dbusmenu object lives.
    StatusNotifierItem(QDBusConnection connection, QString menuPath, QObject* parent = nullptr);
    ~StatusNotifierItem() override;

    // Starts following the watcher; registeredChanged reports the first answer.
    void start();

    // The bus name a watcher was (or will be) given for us.
    const QString& serviceName() const { return serviceName_; }
    // Present once known: whether a watcher has accepted the item.
    std::optional<bool> registered() const { return registered_; }

    // Each tells hosts only of a real change, by the one signal that names what changed.
    void setLabel(const QString& label);
    void setToolTipText(const QString& text);
    void setIcons(const QList<QImage>& images);

    QString category() const { return QStringLiteral("ApplicationStatus"); }
    QString id() const { return QStringLiteral("orvela-timer"); }
    QString title() const { return QStringLiteral("ORVELA Timer"); }
    QString status() const { return QStringLiteral("Active"); }
    int windowId() const { return 0; }
    QString emptyText() const { return {}; }
    SniIconList iconPixmap() const { return icons_; }
    SniIconList noIcons() const { return {}; }
    SniToolTip toolTip() const;
    bool itemIsMenu() const { return true; }
    QDBusObjectPath menu() const { return QDBusObjectPath(menuPath_); }
    QString label() const { return label_; }
    QString labelGuide() const;
    uint orderingIndex() const { return 0; }

public slots:
    // The menu does all the work (ItemIsMenu); clicks and scrolls change nothing.
    Q_SCRIPTABLE void ContextMenu(int x, int y);
    Q_SCRIPTABLE void Activate(int x, int y);
    Q_SCRIPTABLE void SecondaryActivate(int x, int y);
    Q_SCRIPTABLE void Scroll(int delta, const QString& orientation);

signals:
    Q_SCRIPTABLE void NewTitle();
    Q_SCRIPTABLE void NewIcon();
    Q_SCRIPTABLE void NewAttentionIcon();
    Q_SCRIPTABLE void NewOverlayIcon();
    Q_SCRIPTABLE void NewToolTip();
    Q_SCRIPTABLE void NewStatus(const QString& status);
    Q_SCRIPTABLE void XAyatanaNewLabel(const QString& label, const QString& guide);

    // Not on the bus: whether a watcher now shows the item.
    void registeredChanged(bool registered);

private:
    // Change signals are broadcast on the bus and wake every listener, so they go out only
    // while a watcher shows the item; one that registers later reads every property afresh.
    bool shown() const { return registered_.value_or(false); }
    void registerWithWatcher();
    // Asks the watcher whether it still lists the item, and registers again if not.
    void checkListed(quint64 attempt);
    void setRegistered(bool registered);

    QDBusConnection connection_;
    QString menuPath_;
    QString serviceName_;
    bool ownsServiceName_ = false;
    bool exported_ = false;
    QDBusServiceWatcher* watcher_ = nullptr;
    // Answers from an earlier watcher (or an earlier attempt) are stale once this moves on.
    quint64 attempt_ = 0;
    // Registrations repeated for the present watcher because it did not list the item.
    int reRegistrations_ = 0;
    std::optional<bool> registered_;
    QString label_;
    QString toolTipText_;
    SniIconList icons_;
};

}  // namespace orvela::qt

Q_DECLARE_METATYPE(orvela::qt::SniIcon)
Q_DECLARE_METATYPE(orvela::qt::SniToolTip)
