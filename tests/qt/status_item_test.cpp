// The status item as a panel sees it: a StatusNotifierWatcher of our own on the private session
// bus, the item's signals and icon read over D-Bus, the dbusmenu encoding of each kind of line;
// and the XEmbed fallback with its QMenu where no watcher runs.
#include <gtest/gtest.h>

#include <QAction>
#include <QDBusVariant>
#include <QMenu>
#include <QSystemTrayIcon>
#include <algorithm>

#include "fake_panel.hpp"
#include "qt_wait.hpp"
#include "status_item.hpp"
#include "status_notifier_item.hpp"

namespace orvela::qt {
namespace {

using orvela::test::childLabelled;
using orvela::test::waitUntil;

struct RecordingDelegate : MenuDelegate {
    std::vector<MenuItem> model;
    std::vector<MenuItem> chosen;
    void menuNeedsUpdate(std::vector<MenuItem>& items) override { items = model; }
    void menuItemChosen(const MenuItem& item) override { chosen.push_back(item); }
};

MenuItem item(std::string title, MenuAction action = MenuAction::None, std::string key = {},
              MenuItem::Kind kind = MenuItem::Kind::Item) {
    MenuItem result;
    result.kind = kind;
    result.title = std::move(title);
    result.action = action;
    result.key = std::move(key);
    result.enabled = action != MenuAction::None;
    return result;
}

// One line of each kind: disabled with '_', header, separator, key, a submenu with the
// launch-at-login switch, an ampersand.
std::vector<MenuItem> sampleMenu() {
    MenuItem settings = item("Настройки", MenuAction::None);
    settings.enabled = true;
    settings.submenu =
        std::vector<MenuItem>{item("Запускать при входе", MenuAction::ToggleLogin),
                              item("Проверить обновления…", MenuAction::CheckUpdatesNow)};
    return {item("Код для входа: AB_CD"),
            item("Что сделать", MenuAction::None, {}, MenuItem::Kind::SectionHeader),
            item("Посмотрите вдаль"),
            item({}, MenuAction::None, {}, MenuItem::Kind::Separator),
            item("Обновить", MenuAction::Refresh, "r"),
            settings,
            item("Tom & Jerry", MenuAction::OpenDay)};
}

std::vector<TitlePart> workTitle(const std::string& time, const std::string& icon = "🍅 ") {
    return {{icon, TitleColour::None}, {time, TitleColour::Red}, {" · Отчёт", TitleColour::None}};
}

class StatusItemTest : public ::testing::Test {
protected:
    void attach() {
        ASSERT_TRUE(panel_.attach());
        ASSERT_TRUE(waitUntil([&] { return statusItem_.notifierItem()->registered() == true; }));
    }
    test::FakePanel panel_;
    QtStatusItem statusItem_;
    RecordingDelegate delegate_;
};

// The core renders every second: hosts are told only of what changed, once.
TEST_F(StatusItemTest, SignalsOncePerChange) {
    ASSERT_TRUE(panel_.startWatcher());
    attach();
    const auto show = [&](const std::string& time, const std::string& icon) {
        statusItem_.setTooltip("Отчёт");
        statusItem_.setTitle(workTitle(time, icon));
        panel_.itemProperty("Status");  // lets the signals sent so far arrive
        std::vector<int> n;
        for (const char* s : {"XAyatanaNewLabel", "NewTitle", "NewIcon", "NewToolTip"})
            n.push_back(int(panel_.log.firstArgs(s).size()));
        return n;
    };
    const std::vector<int> first = show("25:00", "🍅 ");
    EXPECT_EQ(show("25:00", "🍅 "), first);
    // label, title, icon (still work), tooltip (its title is the label)
    EXPECT_EQ(show("24:59", "🍅 "),
              (std::vector<int>{first[0] + 1, first[1] + 1, first[2], first[3] + 1}));
    EXPECT_EQ(show("24:59", "⏸ ")[2], first[2] + 1);
    EXPECT_EQ(panel_.log.firstArgs("XAyatanaNewLabel").back(), "⏸ 24:59 · Отчёт");

    // Square pixmaps, ARGB in network byte order: the paused work glyph has opaque strong red.
    const auto icons = qdbus_cast<SniIconList>(panel_.itemProperty("IconPixmap"));
    ASSERT_FALSE(icons.isEmpty());
    const SniIcon& icon = icons.front();
    ASSERT_EQ(icon.bytes.size(), icon.width * icon.width * 4);
    bool sawRed = false;
    for (qsizetype i = 0; i + 3 < icon.bytes.size(); i += 4)
        sawRed = sawRed || (uchar(icon.bytes[i]) == 255 && uchar(icon.bytes[i + 1]) > 200 &&
                            uchar(icon.bytes[i + 2]) < 100);
    EXPECT_TRUE(sawRed);
}

// Each kind of line as dbusmenu encodes it, clicks, and hosts told of a changed menu.
TEST_F(StatusItemTest, ExportsTheMenu) {
    ASSERT_TRUE(panel_.startWatcher());
    delegate_.model = sampleMenu();
    statusItem_.setMenuDelegate(&delegate_);
    attach();
    const auto root = panel_.openMenu();
    ASSERT_EQ(root.children.size(), 7);
    const auto code = childLabelled(root, "Код для входа: AB__CD");  // '_' is a mnemonic there
    EXPECT_FALSE(code.properties.value("enabled").toBool());
    EXPECT_FALSE(childLabelled(root, "Что сделать").properties.value("enabled").toBool());
    const auto separator = root.children[3];
    EXPECT_EQ(separator.properties.value("type").toString(), "separator");
    const auto refresh = childLabelled(root, "Обновить");
    EXPECT_EQ(qdbus_cast<QList<QStringList>>(refresh.properties.value("shortcut")),
              (QList<QStringList>{{"Control", "r"}}));
    const auto settings = childLabelled(root, "Настройки");
    EXPECT_EQ(settings.properties.value("children-display").toString(), "submenu");
    ASSERT_EQ(settings.children.size(), 2);
    const auto login = settings.children[0];
    EXPECT_EQ(login.properties.value("toggle-type").toString(), "checkmark");
    EXPECT_EQ(login.properties.value("toggle-state").toInt(), 0);

    // Lines that cannot be chosen do nothing; a submenu's item and a grouped event arrive.
    for (int id : {code.id, separator.id, settings.id}) panel_.click(id);
    panel_.click(settings.children[1].id);
    const DBusMenuEventList group{{refresh.id, "clicked", QDBusVariant(0), 0u}};
    panel_.callMenu("EventGroup", {QVariant::fromValue(group)});
    ASSERT_TRUE(waitUntil([&] { return delegate_.chosen.size() >= 2; }));
    EXPECT_EQ(delegate_.chosen[0].action, MenuAction::CheckUpdatesNow);
    EXPECT_EQ(delegate_.chosen[1].action, MenuAction::Refresh);
    EXPECT_EQ(panel_.click(999).type(), QDBusMessage::ErrorMessage);

    // Hosts holding the old layout learn the new revision and the changed lines.
    delegate_.model[4].title = "Обновить сейчас";
    const auto revisions = panel_.log.firstArgs("LayoutUpdated");
    panel_.callMenu("AboutToShow", {0});
    EXPECT_GT(panel_.log.firstArgs("LayoutUpdated").value(revisions.size()).toUInt(),
              revisions.value(revisions.size() - 1).toUInt());
    const auto updated =
        qdbus_cast<DBusMenuItemList>(panel_.log.firstArgs("ItemsPropertiesUpdated").value(0));
    ASSERT_EQ(updated.size(), 1);
    EXPECT_EQ(updated[0].id, refresh.id);
    EXPECT_EQ(updated[0].properties.value("label").toString(), "Обновить сейчас");
}

// The tray takes over while no watcher runs and hands back when one appears.
TEST_F(StatusItemTest, FallsBackToTheTrayWhileNoWatcherRuns) {
    delegate_.model = sampleMenu();
    statusItem_.setMenuDelegate(&delegate_);
    ASSERT_TRUE(waitUntil([&] { return statusItem_.usesFallback(); }));
    QSystemTrayIcon* tray = statusItem_.trayIcon();
    ASSERT_NE(tray, nullptr);
    EXPECT_TRUE(tray->isVisible());
    statusItem_.setTitle(workTitle("25:00"));
    statusItem_.setTooltip("Отчёт");
    EXPECT_EQ(tray->toolTip(), "🍅 25:00 · Отчёт\nОтчёт");

    // The menu is rebuilt at each opening without piling up; a choice reaches the delegate on a
    // later loop turn, after the menu has closed.
    delegate_.model[5].submenu->at(0).checked = true;
    QMenu* menu = tray->contextMenu();
    for (int round = 0; round < 2; ++round) emit menu->aboutToShow();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(menu->findChildren<QMenu*>(Qt::FindDirectChildrenOnly).size(), 1);
    const auto actions = menu->actions();
    ASSERT_EQ(actions.size(), 7);
    EXPECT_EQ(actions[4]->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_R));
    EXPECT_EQ(actions[6]->text(), "Tom && Jerry");  // its ampersand shown, no mnemonic
    ASSERT_NE(actions[5]->menu(), nullptr);
    EXPECT_TRUE(actions[5]->menu()->actions().at(0)->isChecked());
    actions[6]->trigger();
    EXPECT_TRUE(delegate_.chosen.empty());
    ASSERT_TRUE(waitUntil([&] { return delegate_.chosen.size() == 1; }));
    EXPECT_EQ(delegate_.chosen[0].title, "Tom & Jerry");

    // A panel starting later takes over; one going away hands back to the tray.
    ASSERT_TRUE(panel_.startWatcher());
    ASSERT_TRUE(waitUntil([&] { return !statusItem_.usesFallback(); }));
    EXPECT_EQ(panel_.watcher.registrations.size(), 1);
    EXPECT_FALSE(tray->isVisible());
    panel_.stopWatcher();
    ASSERT_TRUE(waitUntil([&] { return statusItem_.usesFallback(); }));
    EXPECT_TRUE(tray->isVisible());
}

TEST(StatusGlyph, FollowsTheTitleState) {
    using K = GlyphKind;
    const TitleColour none = TitleColour::None, red = TitleColour::Red, green = TitleColour::Green,
                      grey = TitleColour::Secondary;
    const std::vector<std::pair<std::vector<TitlePart>, GlyphState>> cases = {
        {{}, {K::Idle, none}},
        {{{"🍅 ?", none}}, {K::Problem, none}},
        {{{"🔑 ", none}, {"ABCD-1234", none}}, {K::Login, none}},
        {{{"✅ ", none}, {"Отчёт", none}}, {K::Finished, none}},
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
        if (std::find(painted.begin(), painted.end(), big) == painted.end()) painted.push_back(big);
    }
    // Every distinct state gets a glyph of its own (red and green pause included).
    EXPECT_EQ(painted.size(), 9u);
}

}  // namespace
}  // namespace orvela::qt
