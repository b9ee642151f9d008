// The status item as a panel sees it: a StatusNotifierWatcher of our own on the private session
// bus, the item's properties and signals read over D-Bus, its menu driven through dbusmenu; and
// the XEmbed fallback with its QMenu where no watcher runs.
#include <gtest/gtest.h>

#include <QAction>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusVariant>
#include <QMenu>
#include <QSystemTrayIcon>
#include <algorithm>

#include "dbus_menu_exporter.hpp"
#include "fake_panel.hpp"
#include "qt_wait.hpp"
#include "status_glyph.hpp"
#include "status_item.hpp"
#include "status_notifier_item.hpp"
#include "tray_menu.hpp"

namespace orvela::qt {

namespace {

using orvela::test::childLabelled;
using orvela::test::FakePanel;
using orvela::test::waitUntil;

struct RecordingDelegate : MenuDelegate {
    std::vector<MenuItem> model;
    int builds = 0;
    std::vector<MenuItem> chosen;
    void menuNeedsUpdate(std::vector<MenuItem>& items) override {
        ++builds;
        items = model;
    }
    void menuItemChosen(const MenuItem& item) override { chosen.push_back(item); }
};

MenuItem item(std::string title, MenuAction action = MenuAction::None, std::string key = {}) {
    MenuItem result;
    result.title = std::move(title);
    result.action = action;
    result.key = std::move(key);
    result.enabled = action != MenuAction::None;
    return result;
}

MenuItem ofKind(MenuItem::Kind kind, std::string title = {}) {
    MenuItem result;
    result.kind = kind;
    result.title = std::move(title);
    return result;
}

// A menu like the real one: a disabled line, a header, a separator, an item with a key and a
// settings submenu with the launch-at-login switch.
std::vector<MenuItem> sampleMenu() {
    MenuItem settings = item("Настройки");
    settings.enabled = true;
    MenuItem login = item("Запускать при входе в систему", MenuAction::ToggleLogin);
    settings.submenu =
        std::vector<MenuItem>{login, item("Проверить обновления…", MenuAction::CheckUpdatesNow)};
    MenuItem tip = item("Посмотрите вдаль");
    tip.tooltip = "20 секунд";
    return {item("Код для входа: AB_CD"),
            ofKind(MenuItem::Kind::SectionHeader, "Что сделать"),
            tip,
            ofKind(MenuItem::Kind::Separator),
            item("Обновить", MenuAction::Refresh, "r"),
            settings,
            item("Tom & Jerry", MenuAction::OpenDay)};
}

class StatusItemTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(panel_.isConnected()) << "run under scripts/with-session-bus.sh";
    }

    // Waits for the item to register and to learn it did, and subscribes as a host does.
    void attach(QtStatusItem& statusItem) {
        ASSERT_TRUE(panel_.attach());
        ASSERT_TRUE(waitUntil([&] { return statusItem.notifierItem()->registered() == true; }));
    }

    FakePanel panel_;
};

std::vector<TitlePart> workTitle(const std::string& time, const std::string& icon = "🍅 ") {
    return {{icon, TitleColour::None}, {time, TitleColour::Red}, {" · Отчёт", TitleColour::None}};
}

TEST_F(StatusItemTest, RegistersAndTellsHostsOnlyWhenTheLabelChanges) {
    ASSERT_TRUE(panel_.startWatcher());
    QtStatusItem statusItem;
    attach(statusItem);
    EXPECT_FALSE(statusItem.usesFallback());
    EXPECT_EQ(statusItem.trayIcon(), nullptr);

    EXPECT_EQ(panel_.itemProperty("Category").toString(), "ApplicationStatus");
    EXPECT_EQ(panel_.itemProperty("Id").toString(), "orvela-timer");
    EXPECT_EQ(panel_.itemProperty("Title").toString(), "ORVELA Timer");
    EXPECT_EQ(panel_.itemProperty("Status").toString(), "Active");
    EXPECT_TRUE(panel_.itemProperty("ItemIsMenu").toBool());
    EXPECT_FALSE(panel_.itemProperty("XAyatanaLabelGuide").toString().isEmpty());

    statusItem.setTooltip("Отчёт");
    statusItem.setTitle(workTitle("25:00"));
    EXPECT_EQ(panel_.itemProperty("XAyatanaLabel").toString(), "🍅 25:00 · Отчёт");
    EXPECT_EQ(panel_.log.labels, QStringList{"🍅 25:00 · Отчёт"});
    EXPECT_EQ(panel_.log.count("NewTitle"), 1);
    EXPECT_EQ(panel_.log.count("NewIcon"), 1);  // idle turned to work
    const int toolTips = panel_.log.count("NewToolTip");
    EXPECT_GE(toolTips, 1);

    // The core renders every second; equal texts must not make hosts re-read anything.
    statusItem.setTooltip("Отчёт");
    statusItem.setTitle(workTitle("25:00"));
    statusItem.setTitle(workTitle("24:59"));
    EXPECT_EQ(panel_.itemProperty("XAyatanaLabel").toString(), "🍅 24:59 · Отчёт");
    EXPECT_EQ(panel_.log.count("XAyatanaNewLabel"), 2);
    EXPECT_EQ(panel_.log.count("NewTitle"), 2);
    EXPECT_EQ(panel_.log.count("NewIcon"), 1);  // still work: no repaint
    EXPECT_EQ(panel_.log.count("NewToolTip"), toolTips + 1);

    statusItem.setTooltip("Отчёт по кварталу");
    statusItem.setTitle(workTitle("24:59", "⏸ "));
    const auto tip = qdbus_cast<SniToolTip>(panel_.itemProperty("ToolTip"));
    EXPECT_EQ(tip.title, "⏸ 24:59 · Отчёт");
    EXPECT_EQ(tip.description, "Отчёт по кварталу");
    EXPECT_EQ(panel_.log.count("NewIcon"), 2);
    EXPECT_EQ(panel_.log.count("XAyatanaNewLabel"), 3);

    // Square pixmaps, ARGB in network byte order: an opaque pixel of the paused work glyph
    // reads alpha first, then a strong red.
    const auto icons = qdbus_cast<SniIconList>(panel_.itemProperty("IconPixmap"));
    ASSERT_FALSE(icons.isEmpty());
    for (const SniIcon& icon : icons) {
        EXPECT_EQ(icon.width, icon.height);
        ASSERT_EQ(icon.bytes.size(), icon.width * icon.height * 4);
    }
    const QByteArray& bytes = icons.front().bytes;
    bool sawRed = false;
    for (qsizetype i = 0; i + 3 < bytes.size(); i += 4) {
        const auto a = uchar(bytes[i]), r = uchar(bytes[i + 1]), g = uchar(bytes[i + 2]);
        if (a == 255) sawRed = sawRed || (r > 200 && g < 100);
    }
    EXPECT_TRUE(sawRed);
}

TEST_F(StatusItemTest, ExportsTheMenuAndRunsClickedItems) {
    ASSERT_TRUE(panel_.startWatcher());
    QtStatusItem statusItem;
    RecordingDelegate delegate;
    delegate.model = sampleMenu();
    statusItem.setMenuDelegate(&delegate);
    attach(statusItem);

    const QDBusMessage shown = panel_.callMenu("AboutToShow", {0});
    EXPECT_TRUE(shown.arguments().value(0).toBool());
    EXPECT_EQ(delegate.builds, 1);
    ASSERT_EQ(panel_.log.layoutRevisions.size(), 1);

    const QDBusMessage reply = panel_.callMenu("GetLayout", {0, -1, QStringList()});
    ASSERT_EQ(reply.type(), QDBusMessage::ReplyMessage) << reply.errorMessage().toStdString();
    EXPECT_EQ(reply.signature(), "u(ia{sv}av)");
    EXPECT_EQ(reply.arguments().value(0).toUInt(), panel_.log.layoutRevisions.back());
    const auto root = qdbus_cast<DBusMenuLayoutItem>(reply.arguments().value(1));
    ASSERT_EQ(root.children.size(), 7);

    const auto code = childLabelled(root, "Код для входа: AB__CD");
    EXPECT_FALSE(code.properties.value("enabled").toBool());
    EXPECT_FALSE(childLabelled(root, "Что сделать").properties.value("enabled").toBool());
    const auto separator = root.children[3];
    EXPECT_EQ(separator.properties.value("type").toString(), "separator");
    const auto refresh = childLabelled(root, "Обновить");
    EXPECT_TRUE(refresh.properties.value("enabled").toBool());
    EXPECT_EQ(qdbus_cast<QList<QStringList>>(refresh.properties.value("shortcut")),
              (QList<QStringList>{{"Control", "r"}}));
    EXPECT_FALSE(refresh.properties.contains("toggle-type"));
    const auto settings = childLabelled(root, "Настройки");
    EXPECT_EQ(settings.properties.value("children-display").toString(), "submenu");
    ASSERT_EQ(settings.children.size(), 2);
    const auto login = settings.children[0];
    EXPECT_EQ(login.properties.value("toggle-type").toString(), "checkmark");
    EXPECT_EQ(login.properties.value("toggle-state").toInt(), 0);

    // A click reaches the delegate with the item that was shown, submenus included; lines
    // that cannot be chosen in a desktop menu do nothing.
    for (int id : {code.id, separator.id, settings.id}) panel_.click(id);
    panel_.click(settings.children[1].id);
    ASSERT_TRUE(waitUntil([&] { return !delegate.chosen.empty(); }));
    const DBusMenuEventList group{{refresh.id, "clicked", QDBusVariant(0), 0u}};
    const QDBusMessage grouped = panel_.callMenu("EventGroup", {QVariant::fromValue(group)});
    EXPECT_EQ(grouped.type(), QDBusMessage::ReplyMessage) << grouped.errorMessage().toStdString();
    ASSERT_TRUE(waitUntil([&] { return delegate.chosen.size() == 2; }));
    EXPECT_EQ(delegate.chosen[0].action, MenuAction::CheckUpdatesNow);
    EXPECT_EQ(delegate.chosen[1].title, "Обновить");
    EXPECT_EQ(panel_.click(999).type(), QDBusMessage::ErrorMessage);

    // The next opening sees the fields of that instant; hosts holding the old layout are told.
    delegate.model[4].title = "Обновить сейчас";
    delegate.model[5].submenu->at(0).checked = true;
    panel_.callMenu("AboutToShow", {0});
    EXPECT_EQ(delegate.builds, 2);
    ASSERT_EQ(panel_.log.layoutRevisions.size(), 2);
    EXPECT_GT(panel_.log.layoutRevisions[1], panel_.log.layoutRevisions[0]);
    std::vector<std::pair<int, QVariantMap>> updates;
    for (const auto& update : panel_.log.updatedProps)
        updates.emplace_back(update.id, update.properties);
    ASSERT_EQ(updates.size(), 2u);
    EXPECT_EQ(updates[0].first, refresh.id);
    EXPECT_EQ(updates[0].second.value("label").toString(), "Обновить сейчас");
    EXPECT_EQ(updates[1].first, login.id);
    EXPECT_EQ(updates[1].second.value("toggle-state").toInt(), 1);

    // A partial layout: one level of one submenu, only the asked properties.
    const QDBusMessage partial =
        panel_.callMenu("GetLayout", {settings.id, 0, QStringList{"label"}});
    const auto sub = qdbus_cast<DBusMenuLayoutItem>(partial.arguments().value(1));
    EXPECT_EQ(sub.properties.keys(), QStringList{"label"});
    EXPECT_TRUE(sub.children.isEmpty());
}

TEST_F(StatusItemTest, FallsBackToTheTrayWhileNoWatcherRuns) {
    QtStatusItem statusItem;
    RecordingDelegate delegate;
    delegate.model = sampleMenu();
    statusItem.setMenuDelegate(&delegate);
    ASSERT_TRUE(waitUntil([&] { return statusItem.usesFallback(); }));
    QSystemTrayIcon* tray = statusItem.trayIcon();
    ASSERT_NE(tray, nullptr);
    EXPECT_TRUE(tray->isVisible());
    statusItem.setTitle(workTitle("25:00"));
    statusItem.setTooltip("Отчёт");
    EXPECT_EQ(tray->toolTip(), "🍅 25:00 · Отчёт\nОтчёт");

    // The tray's menu is built when it opens and hands choices back on a later loop turn.
    QMenu* menu = tray->contextMenu();
    ASSERT_NE(menu, nullptr);
    emit menu->aboutToShow();
    EXPECT_EQ(delegate.builds, 1);
    auto actions = menu->actions();
    auto refresh = std::find_if(actions.begin(), actions.end(),
                                [](QAction* a) { return a->text() == "Обновить"; });
    ASSERT_NE(refresh, actions.end());
    (*refresh)->trigger();
    EXPECT_TRUE(delegate.chosen.empty());
    ASSERT_TRUE(waitUntil([&] { return delegate.chosen.size() == 1; }));
    EXPECT_EQ(delegate.chosen[0].action, MenuAction::Refresh);

    // A panel starting later takes over; one going away hands back to the tray.
    ASSERT_TRUE(panel_.startWatcher());
    ASSERT_TRUE(waitUntil([&] { return !statusItem.usesFallback(); }));
    EXPECT_EQ(panel_.watcher.registrations.size(), 1);
    EXPECT_FALSE(tray->isVisible());
    panel_.stopWatcher();
    ASSERT_TRUE(waitUntil([&] { return statusItem.usesFallback(); }));
    EXPECT_TRUE(tray->isVisible());
}

TEST(TrayMenu, RendersTheModel) {
    QMenu menu;
    std::vector<MenuItem> chosen;
    std::vector<MenuItem> model = sampleMenu();
    model[5].submenu->at(0).checked = true;
    // Rendering twice must not pile up actions or submenus.
    for (int round = 0; round < 2; ++round)
        fillMenu(&menu, model, [&](const MenuItem& it) { chosen.push_back(it); });
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(menu.findChildren<QMenu*>(Qt::FindDirectChildrenOnly).size(), 1);

    const auto actions = menu.actions();
    ASSERT_EQ(actions.size(), 7);
    EXPECT_TRUE(menu.toolTipsVisible());
    EXPECT_FALSE(actions[0]->isEnabled());
    EXPECT_TRUE(actions[1]->isSeparator());  // a section
    EXPECT_EQ(actions[1]->text(), "Что сделать");
    EXPECT_EQ(actions[2]->toolTip(), "20 секунд");
    EXPECT_TRUE(actions[3]->isSeparator());
    EXPECT_EQ(actions[4]->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_R));
    EXPECT_FALSE(actions[4]->isCheckable());
    EXPECT_EQ(actions[6]->text(), "Tom && Jerry");  // shown with its ampersand, no mnemonic

    QMenu* settings = actions[5]->menu();
    ASSERT_NE(settings, nullptr);
    const auto subActions = settings->actions();
    ASSERT_EQ(subActions.size(), 2);
    EXPECT_TRUE(subActions[0]->isCheckable());
    EXPECT_TRUE(subActions[0]->isChecked());
    subActions[1]->trigger();
    actions[6]->trigger();
    ASSERT_EQ(chosen.size(), 2u);
    EXPECT_EQ(chosen[0].action, MenuAction::CheckUpdatesNow);
    EXPECT_EQ(chosen[1].title, "Tom & Jerry");
}

TEST(StatusGlyph, FollowsTheTitleState) {
    using K = GlyphKind;
    const TitleColour none = TitleColour::None, red = TitleColour::Red, green = TitleColour::Green,
                      grey = TitleColour::Secondary;
    const std::vector<std::pair<std::vector<TitlePart>, GlyphState>> cases = {
        {{}, {K::Idle, none}},
        {{{"🍅", none}}, {K::Idle, none}},
        {{{"🍅 ?", none}}, {K::Problem, none}},
        {{{"🔑 ", none}, {"ABCD-1234", none}}, {K::Login, none}},
        {{{"✅ ", none}, {"Отчёт", none}}, {K::Finished, none}},
        {{{"✅", none}}, {K::Finished, none}},
        {workTitle("25:00"), {K::Work, red}},
        {{{"☕ ", none}, {"04:12", green}, {" · Отчёт", none}}, {K::Rest, green}},
        {{{"⏸ ", none}, {"04:12", green}, {" · Отчёт", none}}, {K::Paused, green}},
        {workTitle("25:00", "⏸ "), {K::Paused, red}},
        {{{"● ", red}, {"Созвон", none}, {" · ещё 45 мин", grey}}, {K::Event, none}},
        {{{"Созвон", none}, {" · через 10 мин", grey}}, {K::Event, none}},
    };
    std::vector<QImage> painted;
    for (const auto& [parts, expected] : cases) {
        const GlyphState state = glyphStateFor(parts);
        EXPECT_EQ(state, expected) << (parts.empty() ? "" : parts.front().text);
        const QImage big = paintGlyph(state, 44);
        EXPECT_EQ(big.size(), QSize(44, 44));
        if (std::find(painted.begin(), painted.end(), big) == painted.end()) painted.push_back(big);
    }
    // Every distinct state gets a glyph of its own (red and green pause included).
    EXPECT_EQ(painted.size(), 9u);
}

}  // namespace
}  // namespace orvela::qt
