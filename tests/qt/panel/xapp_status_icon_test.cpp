// The XApp status icon as an applet (Cinnamon's, libxapp's) sees it on the private bus: where the
// app shows itself as applets and watchers come and go, what the applet reads and is told, the
// picture's files, and the clicks.
#include <gtest/gtest.h>

#include <QDBusConnectionInterface>
#include <QDBusMetaType>
#include <QDBusVariant>
#include <QGuiApplication>
#include <QImage>
#include <QMenu>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QTemporaryDir>
#include <climits>
#include <memory>

#include "panel/status_item.hpp"
#include "panel/status_notifier_item.hpp"
#include "panel/xapp_status_icon.hpp"
#include "presence/panel_presence.hpp"
#include "qt/support/fake_panel.hpp"
#include "qt/support/qt_wait.hpp"

namespace orvela::qt {
namespace {

using test::waitUntil;

// An applet on a connection of its own: owns a monitor name while it runs, reads the icon's
// properties and follows its PropertiesChanged as libxapp's monitor does.
class FakeApplet {
public:
    FakeApplet() : bus_(QDBusConnection::connectToBus(QDBusConnection::SessionBus, "applet")) {
        bus_.connect(QString(), XAppStatusIcon::kObjectPath, "org.freedesktop.DBus.Properties",
                     "PropertiesChanged", &log, SLOT(record(QDBusMessage)));
    }
    ~FakeApplet() { QDBusConnection::disconnectFromBus("applet"); }
    bool run(bool on) { return on ? bus_.registerService(kName) : bus_.unregisterService(kName); }
    bool owned(const QString& name) const {
        return bus_.interface()->isServiceRegistered(name).value();
    }
    // Follows a signal of the StatusNotifierItem into `into`.
    bool follow(const QString& member, test::SignalLog* into) {
        return bus_.connect(QString(), StatusNotifierItem::kObjectPath,
                            StatusNotifierItem::kInterface, member, into,
                            SLOT(record(QDBusMessage)));
    }
    // A call sent `times` times without waiting, as a flooding peer does; the last answer.
    QDBusMessage call(const QString& service, const QString& interface, const QString& method,
                      const QVariantList& args, const QString& path = XAppStatusIcon::kObjectPath,
                      int times = 1) {
        auto message = QDBusMessage::createMethodCall(service, path, interface, method);
        message.setArguments(args);
        for (int i = 1; i < times; ++i) bus_.send(message);
        QDBusPendingCallWatcher pending(bus_.asyncCall(message));
        bool done = false;
        QObject::connect(&pending, &QDBusPendingCallWatcher::finished, [&] { done = true; });
        EXPECT_TRUE(waitUntil([&] { return done; })) << method.toStdString();
        return pending.reply();
    }
    QVariant property(const QString& service, const QString& name) {
        const QDBusMessage reply = call(service, "org.freedesktop.DBus.Properties", "Get",
                                        {XAppStatusIcon::kInterface, name});
        return reply.arguments().value(0).value<QDBusVariant>().variant();
    }
    // The values told for `property`, in order.
    QVariantList told(const QString& property) const {
        QVariantList values;
        for (const QDBusMessage& m : log.received) {
            const QVariantMap changed = qdbus_cast<QVariantMap>(m.arguments().value(1));
            if (changed.contains(property)) values << changed.value(property);
        }
        return values;
    }
    QDBusMessage release(const QString& service, int x, int y, uint button, int position,
                         int times = 1) {
        return call(service, XAppStatusIcon::kInterface, "ButtonRelease",
                    {x, y, button, 0u, position}, XAppStatusIcon::kObjectPath, times);
    }

    test::SignalLog log;
    inline static const QString kName = "org.x.StatusIconMonitor.test";

private:
    QDBusConnection bus_;
};

struct MenuModel : MenuDelegate {
    void menuNeedsUpdate(std::vector<MenuItem>& items) override {
        MenuItem refresh;
        refresh.title = "Обновить";
        refresh.action = MenuAction::Refresh;
        items = {refresh, refresh, refresh};
    }
    void menuItemChosen(const MenuItem&) override {}
};

class XAppIconTest : public ::testing::Test {
protected:
    void makeItem() {
        item_ = std::make_unique<QtStatusItem>(nullptr, folder_.path());
        item_->setMenuDelegate(&menu_);
    }
    XAppStatusIcon* icon() const { return item_->xappIcon(); }
    bool xappShown() const { return icon()->shown().value_or(false); }
    // Where the app shows itself now, and whether that is one place only: the XApp icon with
    // the tray hidden and the item never registered or passive.
    std::string place() const {
        const StatusNotifierItem* sni = item_->notifierItem();
        const bool tray = item_->trayIcon() && item_->trayIcon()->isVisible();
        if (xappShown())
            return !tray && (panel_.watcher.registrations.isEmpty() || sni->passive()) ? "xapp"
                                                                                       : "two";
        if (sni->passive()) return "passive";
        if (tray) return sni->registered().value_or(false) ? "two" : "tray";
        return sni->registered().value_or(false) ? "sni" : "none";
    }
    QStringList files() const { return QDir(folder_.path()).entryList(QDir::Files); }

    QTemporaryDir folder_;
    test::FakePanel panel_;
    FakeApplet applet_;
    MenuModel menu_;
    test::SignalLog statuses_;  // the item's NewStatus
    std::unique_ptr<QtStatusItem> item_;
};

// Applets and watchers coming and going in turn, from each start: one place at every step. An
// item registered before an applet came is made passive (a registration cannot be taken back),
// and active again when the applet goes.
TEST_F(XAppIconTest, ShowsOneIconAsAppletsAndWatchersComeAndGo) {
    ASSERT_TRUE(applet_.follow("NewStatus", &statuses_));
    enum Step { AppletUp, AppletDown, WatcherUp, WatcherDown };
    const std::vector<std::pair<std::vector<Step>, std::vector<std::string>>> runs = {
        {{AppletUp, WatcherUp}, {"xapp", "xapp"}},
        {{WatcherUp, AppletUp, AppletDown, AppletUp, WatcherDown, AppletDown, AppletUp},
         {"sni", "xapp", "sni", "xapp", "xapp", "tray", "xapp"}},
    };
    for (const auto& [steps, places] : runs) {
        SCOPED_TRACE(places.size());
        panel_.watcher.registrations.clear();
        statuses_.received.clear();
        for (std::size_t i = 0; i < steps.size(); ++i) {
            SCOPED_TRACE(i);
            const Step step = steps[i];
            bool ok = true;
            if (step == AppletUp || step == AppletDown) ok = applet_.run(step == AppletUp);
            if (step == WatcherUp) ok = panel_.startWatcher();
            if (step == WatcherDown) panel_.stopWatcher();
            // The item starts after the first step, as with a panel already there.
            if (i == 0) makeItem();
            if (i == 0 && step == WatcherUp) ok = ok && panel_.attach();
            ASSERT_TRUE(ok);
            ASSERT_TRUE(waitUntil([&] { return place() == places[i]; })) << place();
            test::spin(150);
            EXPECT_EQ(place(), places[i]);
            // The name is owned while shown, and a picture exists only then.
            EXPECT_EQ(applet_.owned(icon()->busName()), xappShown());
            EXPECT_EQ(files().size(), xappShown() ? 1 : 0);
        }
        // Hosts were told of each change of status.
        if (!panel_.service.isEmpty()) {
            EXPECT_EQ(panel_.itemProperty("Status").toString(), "Passive");
        }
        const QVariantList told{"Passive", "Active", "Passive"};
        EXPECT_EQ(statuses_.firstArgs("NewStatus"), steps.size() > 2 ? told : QVariantList());
        applet_.run(false);
        panel_.stopWatcher();
        item_.reset();
        EXPECT_TRUE(files().isEmpty());
    }
}

// The label ticks with a signal per change and none for a repeat; the tooltip is escaped for
// the applet's markup; the picture is a new file only when it changes (a new minute, a size the
// applet asks for), the old one removed; all as libxapp's monitor finds it (an object manager).
TEST_F(XAppIconTest, TellsTheAppletWhatChanged) {
    ASSERT_TRUE(applet_.run(true));
    makeItem();
    ASSERT_TRUE(waitUntil([&] { return xappShown(); }));
    const QString name = icon()->busName();
    const auto title = [&](const std::string& time) {  // "mm:ss" left of 25 minutes
        item_->setTitle({{"🍅 " + time + " · <b>R&D</b>", TitleColour::None}});
        const double left = std::stoi(time) * 60.0 + std::stoi(time.substr(3));
        item_->setCountdown(Countdown{left, 1500, false, false});
    };
    item_->setTooltip("Отчёт <b>&</b>");
    for (const char* time : {"24:59", "24:58", "24:58", "24:01", "24:00", "23:59"}) title(time);
    applet_.property(name, "Name");  // lets the signals sent so far arrive
    EXPECT_EQ(applet_.told("Label"),
              (QVariantList{"🍅 24:59 · <b>R&D</b>", "🍅 24:58 · <b>R&D</b>", "🍅 24:01 · <b>R&D</b>",
                            "🍅 24:00 · <b>R&D</b>", "🍅 23:59 · <b>R&D</b>"}));
    // 25 minutes at first, 24 from 23:59 on: one change of picture after the first.
    const QVariantList icons = applet_.told("IconName");
    ASSERT_EQ(icons.size(), 2);
    EXPECT_EQ(files(), QStringList{QFileInfo(icons.back().toString()).fileName()});
    EXPECT_EQ(QImage(icons.back().toString()).convertToFormat(QImage::Format_ARGB32),
              paintIcon(item_->iconFace(), XAppStatusIcon::kDefaultIconSize)
                  .convertToFormat(QImage::Format_ARGB32));
    EXPECT_EQ(applet_.property(name, "TooltipText").toString(),
              "Работа, осталось 24 мин\nОтчёт &lt;b&gt;&amp;&lt;/b&gt;");

    // A size asked for paints once, even flooded (twice where the flood straddles a turn of the
    // loop); out of range is held to the range.
    const auto askSize = [&](int size, int times) {
        applet_.call(
            name, "org.freedesktop.DBus.Properties", "Set",
            {XAppStatusIcon::kInterface, "IconSize", QVariant::fromValue(QDBusVariant(size))},
            XAppStatusIcon::kObjectPath, times);
    };
    askSize(40, 1);
    askSize(1000, 30);
    ASSERT_TRUE(waitUntil([&] { return applet_.told("IconName").size() >= 3; }));
    test::spin(100);
    EXPECT_LE(applet_.told("IconName").size(), 4);
    EXPECT_EQ(QImage(icon()->iconFile()).width(), XAppStatusIcon::kMaxIconSize);
    EXPECT_EQ(files().size(), 1);

    // What the monitor reads when the name appears.
    const QDBusMessage managed =
        applet_.call(name, "org.freedesktop.DBus.ObjectManager", "GetManagedObjects", {},
                     XAppStatusIcon::kManagerPath);
    EXPECT_TRUE(managed.signature() == "a{oa{sa{sv}}}") << managed.errorMessage().toStdString();
    const QDBusArgument objects = managed.arguments().value(0).value<QDBusArgument>();
    QMap<QDBusObjectPath, QMap<QString, QVariantMap>> tree;
    objects >> tree;
    const QVariantMap shown =
        tree.value(QDBusObjectPath(XAppStatusIcon::kObjectPath)).value(XAppStatusIcon::kInterface);
    EXPECT_EQ(shown.value("Label").toString(), "🍅 23:59 · <b>R&D</b>");
    EXPECT_EQ(shown.value("IconName").toString(), icon()->iconFile());
    EXPECT_TRUE(shown.value("Visible").toBool());

    // Gone with the applet: nothing more is told, and the picture is removed.
    const qsizetype before = applet_.log.received.size();
    ASSERT_TRUE(applet_.run(false));
    ASSERT_TRUE(waitUntil([&] { return !xappShown(); }));
    title("23:58");
    test::spin(150);
    EXPECT_EQ(applet_.log.received.size(), before);
    EXPECT_TRUE(files().isEmpty());
}

// Left and right open the menu away from the panel, on the screen whatever the numbers; the
// middle button pauses or resumes once however often a peer repeats it; other buttons do nothing.
TEST_F(XAppIconTest, OpensTheMenuOrPausesOnAClick) {
    ASSERT_TRUE(applet_.run(true));
    makeItem();
    int middle = 0;
    item_->setMiddleClickHandler([&] { ++middle; });
    ASSERT_TRUE(waitUntil([&] { return xappShown(); }));
    const QString name = icon()->busName();
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    // (x, y, button, panel position) → which corner of the menu lands where ("" no menu)
    struct Click {
        int x, y;
        uint button;
        int position;
        const char* corner;
    };
    const std::vector<Click> clicks = {
        {300, 570, 1, 3, "bottom-left 300,570"},
        {300, 30, 3, 2, "top-left 300,30"},
        {30, 200, 1, 0, "top-left 30,200"},
        {770, 200, 3, 1, "top-right 770,200"},
        {INT_MIN, INT_MAX, 1, 77, "anywhere on the screen"},
        {300, 570, 8, 3, ""},
    };
    for (const Click& c : clicks) {
        SCOPED_TRACE(c.corner);
        if (QMenu* open = item_->ownMenu()) open->hide();
        EXPECT_EQ(applet_.release(name, c.x, c.y, c.button, c.position).type(),
                  QDBusMessage::ReplyMessage);
        test::spin(100);
        QMenu* menu = item_->ownMenu();
        const bool visible = menu && menu->isVisible();
        ASSERT_EQ(visible, *c.corner != 0);
        if (!visible) continue;
        const QRect at = menu->geometry();
        EXPECT_TRUE(screen.contains(at));
        const QString corner = QString(c.corner).section(' ', 0, 0);
        const QPoint point = corner == "bottom-left" ? QPoint(at.left(), at.bottom() + 1)
                             : corner == "top-right" ? QPoint(at.right() + 1, at.top())
                                                     : at.topLeft();
        if (corner != "anywhere") {
            EXPECT_EQ(QString("%1 %2,%3").arg(corner).arg(point.x()).arg(point.y()).toStdString(),
                      c.corner);
        }
        EXPECT_EQ(menu->actions().size(), 3);
        EXPECT_TRUE(icon()->menuOpen(c.button));
        menu->hide();
        EXPECT_FALSE(icon()->menuOpen(c.button));
    }
    // A flood is one click, or two where it straddles a turn of the loop.
    applet_.release(name, 10, 10, 2, 3, 30);
    test::spin(100);
    EXPECT_TRUE(middle == 1 || middle == 2) << middle;
    EXPECT_EQ(applet_.call(name, XAppStatusIcon::kInterface, "ButtonRelease", {1, 2}).errorName(),
              "org.freedesktop.DBus.Error.InvalidArgs");
}

// An applet is a place for the app, there at the start or coming later; the last one going is a
// loss of it.
TEST_F(XAppIconTest, AnAppletIsAPlace) {
    ASSERT_TRUE(applet_.run(true));
    PanelPresence presence(QDBusConnection::sessionBus(), [] { return false; }, {50, 50});
    int missing = 0, found = 0;
    QObject::connect(&presence, &PanelPresence::missing, [&] { ++missing; });
    QObject::connect(&presence, &PanelPresence::found, [&] { ++found; });
    presence.start();
    ASSERT_TRUE(waitUntil([&] { return presence.state() == PanelPresence::State::Present; }));
    ASSERT_TRUE(applet_.run(false));
    ASSERT_TRUE(waitUntil([&] { return missing == 1; }));
    ASSERT_TRUE(applet_.run(true));
    ASSERT_TRUE(waitUntil([&] { return found == 1; }));
}

}  // namespace
}  // namespace orvela::qt
