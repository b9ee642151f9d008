// The status item as a panel sees it over D-Bus (our own watcher on the private bus), the XEmbed
// tray with its QMenu where no watcher runs, and the icon as a person sees it.
#include <gtest/gtest.h>

#include <QAction>
#include <QDBusMetaType>
#include <QDBusVariant>
#include <QDirIterator>
#include <QFileInfo>
#include <QMenu>
#include <QPainter>
#include <QSystemTrayIcon>
#include <QTemporaryDir>
#include <QTest>
#include <QTextDocument>
#include <algorithm>
#include <cmath>
#include <functional>
#include <map>

#include "client/problems.hpp"
#include "model/clock.hpp"
#include "panel/status_item.hpp"
#include "panel/status_notifier_item.hpp"
#include "qt/support/fake_panel.hpp"
#include "qt/support/qt_wait.hpp"
#include "shell/app.hpp"
#include "support/fake_platform.hpp"

namespace orvela::qt {
namespace {

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

// One line of each kind: disabled with '_', header, separator, key, submenu with a switch, and
// titles from the service that look like markup or mnemonics.
std::vector<MenuItem> sampleMenu() {
    MenuItem settings = item("Настройки", MenuAction::None);
    settings.enabled = true;
    MenuItem event = item("R&D <b>", MenuAction::OpenDay);
    event.tooltip = "x &amp; y <b>";
    settings.submenu =
        std::vector<MenuItem>{item("Запускать при входе", MenuAction::ToggleLogin),
                              item("Проверить обновления…", MenuAction::CheckUpdatesNow)};
    return {item("Код для входа: AB_CD"),
            item("Сегодня & <i>завтра</i>", MenuAction::None, {}, MenuItem::Kind::SectionHeader),
            item("Посмотрите вдаль"),
            item({}, MenuAction::None, {}, MenuItem::Kind::Separator),
            item("Обновить", MenuAction::Refresh, "r"),
            settings,
            event};
}

// What a person reads in a Qt tooltip: Qt renders it as rich text when it looks like some.
QString shownToolTip(const QString& tip) {
    QTextDocument rendered;
    rendered.setHtml(tip);
    return Qt::mightBeRichText(tip) ? rendered.toPlainText() : tip;
}

std::vector<TitlePart> workTitle(const std::string& time) {
    return {{"🍅 ", TitleColour::None}, {time, TitleColour::Red}, {" · Отчёт", TitleColour::None}};
}

// A D-Bus value as text: structures (), arrays [], maps {k=v}, variants as signature:value.
QString show(const QVariant& value);
QString show(const QDBusArgument& arg) {
    QStringList items;
    const auto type = arg.currentType();
    if (type == QDBusArgument::StructureType || type == QDBusArgument::ArrayType) {
        const bool structure = type == QDBusArgument::StructureType;
        structure ? arg.beginStructure() : arg.beginArray();
        while (!arg.atEnd()) items << show(arg.asVariant());
        structure ? arg.endStructure() : arg.endArray();
        return (structure ? "(" : "[") + items.join(' ') + (structure ? ")" : "]");
    }
    if (type != QDBusArgument::MapType) return show(arg.asVariant());
    arg.beginMap();
    while (!arg.atEnd()) {
        arg.beginMapEntry();
        const QString key = show(arg.asVariant());
        items << key + "=" + show(arg.asVariant());
        arg.endMapEntry();
    }
    arg.endMap();
    return "{" + items.join(' ') + "}";
}
QString show(const QVariant& value) {
    if (value.metaType() == QMetaType::fromType<QDBusArgument>())
        return show(value.value<QDBusArgument>());
    if (value.metaType() == QMetaType::fromType<QStringList>())
        return "[" + value.toStringList().join(' ') + "]";
    if (value.metaType() != QMetaType::fromType<QDBusVariant>()) return value.toString();
    const QVariant inner = value.value<QDBusVariant>().variant();
    const QString signature = inner.metaType() == QMetaType::fromType<QDBusArgument>()
                                  ? inner.value<QDBusArgument>().currentSignature()
                                  : QDBusMetaType::typeToSignature(inner.metaType());
    return signature + ":" + show(inner);
}
// A reply or signal as its signature and arguments; an error as its name and message.
QString show(const QDBusMessage& message) {
    if (message.type() == QDBusMessage::ErrorMessage)
        return message.errorName().section('.', -1) + ": " + message.errorMessage();
    QStringList items{message.signature()};
    for (const QVariant& argument : message.arguments()) items << show(argument);
    return items.join(' ');
}

class StatusItemTest : public ::testing::Test {
protected:
    void attach() {
        ASSERT_TRUE(panel_.startWatcher());
        ASSERT_TRUE(panel_.attach());
        ASSERT_TRUE(waitUntil([&] { return statusItem_.notifierItem()->registered() == true; }));
    }
    test::FakePanel panel_;
    QTemporaryDir icons_;
    QtStatusItem statusItem_{nullptr, icons_.path()};
    RecordingDelegate delegate_;
};

// The core on virtual time through a 25-minute phase: the icon is repainted per shown minute, in
// the last one per second; each second sends XAyatanaNewLabel alone, since hosts that show no
// label re-read every property, pixmaps included, on NewTitle, NewIcon or NewToolTip.
// The host reads the label, the tooltip and the ARGB pixmaps (network byte order) as painted.
TEST_F(StatusItemTest, OnePhaseAsAHostSeesIt) {
    attach();
    test::FakePlatform fake;
    App app(fake);
    app.item = &statusItem_;
    app.state = PomodoroState{7, "Отчёт", {{"work", 25}}, nowMs() - 700, {}};
    const auto tipShown = [&] {
        const auto tip = qdbus_cast<SniToolTip>(panel_.itemProperty("ToolTip"));
        return tip.title + "|" + tip.description;
    };
    for (int second = 0; second <= 1500; ++second, fake.jumpWallClock(1)) {
        app.render();
        if (second != 1000) continue;
        EXPECT_EQ(panel_.itemProperty("XAyatanaLabel").toString(), "🍅 08:20 · Отчёт");
        EXPECT_EQ(statusItem_.iconFace().text, "9");
        EXPECT_EQ(tipShown(), "Работа, осталось 9 мин|Отчёт");
        for (const char* description : {"IconAccessibleDesc", "AttentionAccessibleDesc"})
            EXPECT_EQ(panel_.itemProperty(description).toString(), "Работа, осталось 9 мин");
        const auto icons = qdbus_cast<SniIconList>(panel_.itemProperty("IconPixmap"));
        ASSERT_EQ(icons.size(), qsizetype(std::size(kIconSizes)));
        for (int i = 0; i < icons.size(); ++i) {
            EXPECT_EQ(icons[i].width, kIconSizes[i]);
            EXPECT_EQ(icons[i].bytes,
                      sniIconFrom(paintIcon(statusItem_.iconFace(), kIconSizes[i])).bytes);
        }
        EXPECT_TRUE(icons.back().bytes.contains(QByteArray("\xff\xe5\x39\x35")));  // the red ring
    }
    panel_.itemProperty("Status");  // lets the signals sent so far arrive
    const auto count = [&](const char* s) { return panel_.log.firstArgs(s).size(); };
    EXPECT_EQ(count("NewIcon"), 1 + 24 + 59 + 1);  // "25", 24 more minutes, 59 seconds, "✅"
    const auto labels = panel_.log.firstArgs("XAyatanaNewLabel");
    EXPECT_EQ(labels.size(), 1501);
    EXPECT_EQ(std::adjacent_find(labels.begin(), labels.end()), labels.end());  // each a change
    EXPECT_EQ(labels.value(1000).toString(), "🍅 08:20 · Отчёт");
    // The tooltip tells the minute the icon shows: 25 of them, the last one, then "✅"; each
    // change comes with the icon's, and the seconds of the last minute send none.
    EXPECT_EQ(count("NewToolTip"), 25 + 1 + 1);
    for (qsizetype i = 0; i < panel_.log.received.size(); ++i)
        EXPECT_TRUE(panel_.log.received[i].member() != "NewToolTip" ||
                    panel_.log.received.value(i - 1).member() == "NewIcon")
            << i;
    EXPECT_EQ(panel_.log.received.size(), labels.size() + count("NewIcon") + count("NewToolTip"));
    statusItem_.setTooltip("Созвон\nв 10:01");
    statusItem_.setCountdown(std::nullopt);
    EXPECT_EQ(tipShown(), "Созвон|в 10:01");
}

// A left click on each host, each kind of line as dbusmenu encodes it, clicks, the rest of the
// protocol with what a careless or hostile host sends (unknown ids and names, repeats, floods,
// wrong signatures), and hosts told of a changed menu.
TEST_F(StatusItemTest, ExportsTheMenu) {
    delegate_.model = sampleMenu();
    statusItem_.setMenuDelegate(&delegate_);
    attach();
    // A left click: KDE Plasma 5.27 calls Activate and opens the menu only where that fails.
    // UnknownMethod also makes GNOME's AppIndicator 46 stop waiting for a double click (other
    // errors it logs as critical) and a newer one finds no Activate in the introspection; Xfce
    // opens an ItemIsMenu item's menu itself. MATE's notification area, LXQt's panel and
    // Cinnamon's bridge call Activate and open nothing, whatever the answer: from them (here
    // this program plays one), the call opens the item's own menu.
    const auto callItem = [&](const QString& interface, const QString& method) {
        return panel_.call(QDBusMessage::createMethodCall(
                               panel_.service, StatusNotifierItem::kObjectPath, interface, method)
                           << 1270 << 790);
    };
    const QString self = QFileInfo(QCoreApplication::applicationFilePath()).fileName();
    for (const bool menuLess : {false, true, false}) {
        statusItem_.notifierItem()->setMenuLessHosts(
            menuLess ? QStringList{"x", self} : StatusNotifierItem::menuLessHosts());
        for (int click = 0; click < 2; ++click) {  // the second from a caller already known
            EXPECT_EQ(callItem(StatusNotifierItem::kInterface, "Activate").errorName(),
                      menuLess ? "" : "org.freedesktop.DBus.Error.UnknownMethod");
            test::spin(50);
            auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
            EXPECT_EQ(menu ? menu->actions().size() : 0, menuLess ? 7 : 0) << menuLess;
            if (menu) menu->hide();
        }
    }
    EXPECT_FALSE(show(callItem("org.freedesktop.DBus.Introspectable", "Introspect"))
                     .contains("\"Activate\""));
    EXPECT_TRUE(panel_.itemProperty("ItemIsMenu").toBool());
    const auto root = panel_.openMenu();
    // The sub-menu is laid out in place, as a section between separators (Plasma opens
    // sub-menus off the screen), in the model's order.
    QStringList lines;
    for (const auto& child : root.children)
        lines << child.properties.value("label", child.properties.value("type")).toString();
    EXPECT_EQ(lines.join('|').toStdString(),
              "Код для входа: AB__CD|Сегодня & <i>завтра</i>|Посмотрите вдаль|separator|Обновить|"
              "separator|Настройки|Запускать при входе|Проверить обновления…|separator|R&D <b>");
    // '_' is a mnemonic there; "Настройки" is a header: see GetLayout below.
    for (int i : {0, 1}) EXPECT_FALSE(root.children[i].properties.value("enabled").toBool());

    // Lines that cannot be chosen do nothing; a section's item and grouped events arrive.
    for (int i : {0, 3, 6}) panel_.click(root.children[i].id);
    panel_.click(root.children[8].id);
    const auto events = [](std::vector<int> ids) {
        DBusMenuEventList list;
        for (int id : ids) list.push_back({id, "clicked", QDBusVariant(0), 0u});
        return QVariant::fromValue(list);
    };
    const auto ids = [](QList<int> list) { return QVariant::fromValue(list); };
    const QString unknown = "InvalidArgs: Unknown menu item id 999";
    // ids: 4 the separator, 5 "Обновить", 7 "Настройки", 8 and 9 its lines, 11 the event
    const std::vector<std::tuple<QString, QVariantList, QString>> cases = {
        {"GetGroupProperties",
         {ids({5, 999, 5, -1, 4}), QStringList{"label", "type", "x"}},
         "a(ia{sv}) [(5 {label=s:Обновить}) (4 {type=s:separator})]"},
        {"GetGroupProperties",
         {ids({8}), QStringList{}},
         "a(ia{sv}) [(8 {enabled=b:true label=s:Запускать при входе toggle-state=i:0 "
         "toggle-type=s:checkmark visible=b:true})]"},
        // A key no host delivers is not shown.
        {"GetProperty", {5, "shortcut"}, "InvalidArgs: No property shortcut"},
        {"GetProperty", {999, "label"}, unknown},
        {"GetProperty", {4, "label"}, "InvalidArgs: No property label"},
        {"GetLayout",
         {0, 0, QStringList{"children-display"}},
         "u(ia{sv}av) 2 (0 {children-display=s:submenu} [])"},
        {"GetLayout", {7, 1, QStringList{"enabled"}}, "u(ia{sv}av) 2 (7 {enabled=b:false} [])"},
        {"GetLayout", {999, -1, QStringList{}}, unknown},
        {"Event", {999, "clicked", QVariant::fromValue(QDBusVariant(0)), 0u}, unknown},
        {"Event",
         {5, "clicked"},
         "InvalidArgs: Invalid arguments 'is' to call com.canonical.dbusmenu.Event(), "
         "expecting 'isvu'."},
        {"EventGroup", {events({999, -3})}, "InvalidArgs: No known menu item ids"},
        {"EventGroup", {events({5, 999, 999})}, "ai [999 999]"},
        {"EventGroup", {events(std::vector<int>(65, 11))}, "InvalidArgs: More than 64 events"},
        {"AboutToShow", {5}, "b false"},
        {"AboutToShow", {999}, unknown},
        {"AboutToShowGroup", {ids({5, 999, 999, 0, -1})}, "aiai [0] [999 -1]"},
        {"org.freedesktop.DBus.Properties.GetAll",
         {"com.canonical.dbusmenu"},
         "a{sv} {Version=u:3 TextDirection=s:ltr Status=s:normal IconThemePath=as:[]}"},
    };
    for (const auto& [method, args, expected] : cases) {
        const bool own = !method.contains('.');
        auto call = QDBusMessage::createMethodCall(
            panel_.service, panel_.menuPath,
            own ? "com.canonical.dbusmenu" : method.section('.', 0, -2), method.section('.', -1));
        call.setArguments(args);
        EXPECT_EQ(show(panel_.call(call)).toStdString(), expected.toStdString())
            << method.toStdString();
    }
    ASSERT_TRUE(waitUntil([&] { return delegate_.chosen.size() >= 2; }));
    test::spin(100);
    ASSERT_EQ(delegate_.chosen.size(), 2u);
    EXPECT_EQ(std::pair(delegate_.chosen[0].action, delegate_.chosen[1].action),
              std::pair(MenuAction::CheckUpdatesNow, MenuAction::Refresh));

    // Hosts holding the old layout learn the new revision and the changed lines.
    delegate_.model[4].checked = true;
    panel_.callMenu("AboutToShow", {0});
    delegate_.model[4].title = "Обновить сейчас";
    delegate_.model[4].checked = false;
    const auto revisions = panel_.log.firstArgs("LayoutUpdated");
    panel_.callMenu("AboutToShow", {0});
    EXPECT_GT(panel_.log.firstArgs("LayoutUpdated").value(revisions.size()).toUInt(),
              revisions.value(revisions.size() - 1).toUInt());
    EXPECT_EQ(show(panel_.log.received.back()).toStdString(),  // ItemsPropertiesUpdated
              "a(ia{sv})a(ias) [(5 {enabled=b:true label=s:Обновить сейчас visible=b:true})] "
              "[(5 [toggle-state toggle-type])]");
}

// Every menu the app shows, walked there and back twice as a caching host (libdbusmenu-gtk) sees
// it: an id never changes between separator, item and sub-menu, a line that stays keeps its id
// (a changed title arrives as a property update), the same menu comes back with the same ids,
// an agenda that changes at every opening does not make the ids grow, and GNOME's AppIndicator,
// which never moves a row it keeps, shows each menu in its order.
TEST_F(StatusItemTest, KeepsMenuIdsAcrossEveryShape) {
    test::FakePlatform fake;
    App app(fake);
    statusItem_.setMenuDelegate(&app);
    attach();
    const double now = fake.wallClockMs();
    const auto timer = [&](double minutes, bool paused) {
        const auto at = paused ? std::optional(now) : std::nullopt;
        app.state = PomodoroState{7, "Отчёт", {{"work", 25}, {"rest", 5}}, now - minutes * 6e4, at};
    };
    const auto agenda = [&](const std::string& day, const std::string& title) {
        app.agendaToday = "2026-12-05";
        app.agenda = {{1, "Созвон", "2026-12-05", now, {}, false, "", {}, {}},
                      {2, title, day, now + 3e8, {}, false, "", {}, {}}};
    };
    // Each shape from a signed-in app without a timer.
    const std::vector<std::pair<std::string, std::function<void()>>> shapes = {
        {"logged out", [&] { app.problem = kProblemNoToken, app.token.reset(); }},
        {"login pending",
         [&] {
             app.token.reset(), app.pendingLogin = PendingLogin{"d", "ABCD-1234", 0, 3};
         }},
        {"problem", [&] { app.problem = kProblemNoConnection; }},
        {"no timer", [] {}},
        {"running", [&] { timer(1, false); }},
        {"break", [&] { timer(26, false); }},
        {"paused", [&] { timer(26, true); }},
        {"finished", [&] { timer(90, false); }},
        {"with agenda and an update",
         [&] {
             timer(2, false), agenda("2026-12-08", "Лекция");
             app.update = ReleaseInfo{"9.9", 99, {}, "/x.zip", "ab", {}};
         }},
        {"running again", [&] { timer(2, false); }},
    };
    // The shown menu depth first: (id, "kind label"), a label prefixed with its parents'.
    using Shown = std::vector<std::pair<int, std::string>>;
    std::function<void(const DBusMenuLayoutItem&, const std::string&, Shown&)> flatten =
        [&](const DBusMenuLayoutItem& node, const std::string& path, Shown& out) {
            for (const auto& child : node.children) {
                const auto& p = child.properties;
                const std::string label = path + p.value("label").toString().toStdString();
                out.emplace_back(child.id, (p.value("type") == "separator" ? "separator "
                                            : p.value("children-display") == "submenu" ? "submenu "
                                                                                       : "item ") +
                                               label);
                flatten(child, label + " > ", out);
            }
        };
    // GNOME's AppIndicator (dbusMenu.js) follows a new layout by adding and removing rows where
    // its list of ids says; its moves reorder that list but not the rows, so a row it would have
    // to move is shown out of place.
    std::vector<int> rows;
    const auto open = [&] {
        Shown shown;
        flatten(panel_.openMenu(), "", shown);
        std::vector<int> list = rows, ids;
        for (const auto& [id, line] : shown) {
            const std::size_t i = ids.size();
            ids.push_back(id);
            if (const auto held = std::find(list.begin() + i, list.end(), id); held != list.end())
                list.erase(held);
            else
                rows.insert(rows.begin() + std::min(i, rows.size()), id);
            list.insert(list.begin() + i, id);
        }
        std::erase_if(rows, [&](int id) { return std::ranges::find(ids, id) == ids.end(); });
        EXPECT_EQ(rows, ids);
        return shown;
    };
    std::map<int, std::string> kindOf;   // id -> the kind it was first shown as
    std::map<std::string, int> lastIds;  // line -> its id in the previous menu (0: not unique)
    std::vector<Shown> firstRound;
    std::string previous;
    int highest = 0;
    for (int round = 0; round < 2; ++round) {
        auto walk = shapes;
        walk.insert(walk.end(), shapes.rbegin() + 1, shapes.rend());  // and back
        for (std::size_t step = 0; step < walk.size(); ++step) {
            const auto& [name, enter] = walk[step];
            SCOPED_TRACE(name + " in round " + std::to_string(round));
            app.token = "t";
            app.pendingLogin.reset(), app.problem.reset(), app.state.reset(), app.update.reset();
            app.agenda.clear(), app.agendaToday.reset();
            enter();
            const Shown shown = open();
            std::map<std::string, int> ids;
            for (const auto& [id, line] : shown) {
                highest = std::max(highest, id);
                const std::string kind = line.substr(0, line.find(' '));
                EXPECT_EQ(kindOf.try_emplace(id, kind).first->second, kind) << line;
                if (kind != "separator") ids[line] = ids.contains(line) ? 0 : id;
            }
            for (const auto& [line, id] : ids)
                EXPECT_TRUE(!id || !lastIds[line] || id == lastIds[line])
                    << line << " was " << lastIds[line];
            lastIds = ids;
            if (round == 0) firstRound.push_back(shown);
            EXPECT_EQ(shown, firstRound[step]);
            if (name == "break" && previous == "running") {  // "⏭ К отдыху" → "⏭ К работе"
                ASSERT_EQ(panel_.log.received.back().member(), "ItemsPropertiesUpdated");
                EXPECT_TRUE(show(panel_.log.received.back()).contains("⏭ К работе"));
            }
            previous = name;
        }
    }
    // A change of state is told before the next opening (xfce4-panel opened a changed menu at
    // its old height once); a tick within the same state tells nothing.
    app.token = "t", app.problem.reset();  // signed in again, on a paused break
    timer(26, true);
    const auto layouts = [&] { return panel_.log.firstArgs("LayoutUpdated").size(); };
    const auto told = layouts();
    statusItem_.setCountdown(Countdown{120, 300, true, true});
    ASSERT_TRUE(waitUntil([&] { return layouts() == told + 1; }));
    statusItem_.setCountdown(Countdown{119, 300, true, true});
    test::spin(200);
    EXPECT_EQ(layouts(), told + 1);
    const int afterWalks = highest;
    app.problem.reset();  // the agenda shows
    for (int day = 0; day < 300; ++day) {
        agenda("2027-01-" + std::to_string(day), "Встреча " + std::to_string(day));
        for (const auto& [id, line] : open()) highest = std::max(highest, id);
    }
    EXPECT_LE(highest, afterWalks + 3 * int(DBusMenuExporter::kForgetAfter));

    // Shapes where no row can pass to another line: a separator gone above a line that stays
    // and a line added below it, a reversal, lines swapped across a separator. The host misses
    // the shapes marked "~" (built, announced, never fetched).
    statusItem_.setMenuDelegate(&delegate_);
    for (const char* shape : {"a - b c", "a b c d", "~b - a c", "d c b a", "- a b - c d", "~a - b",
                              "b a - e", "a - b c"}) {
        SCOPED_TRACE(shape);
        delegate_.model.clear();
        for (const QString& word : QString(shape).remove('~').split(' '))
            delegate_.model.push_back(
                word == "-" ? item({}, MenuAction::None, {}, MenuItem::Kind::Separator)
                            : item(word.toStdString()));
        if (shape[0] == '~')
            panel_.callMenu("AboutToShow", {0});
        else
            open();
    }
}

// The tray takes over while no watcher runs and hands back when one appears.
TEST_F(StatusItemTest, FallsBackToTheTrayWhileNoWatcherRuns) {
    delegate_.model = sampleMenu();
    statusItem_.setMenuDelegate(&delegate_);
    ASSERT_TRUE(waitUntil([&] { return statusItem_.usesFallback(); }));
    QSystemTrayIcon* tray = statusItem_.trayIcon();
    ASSERT_TRUE(tray && tray->isVisible());
    // Nobody shows the item: its change signals would only wake the bus and its listeners.
    ASSERT_TRUE(panel_.followItem(QString()));
    statusItem_.setTitle({{"🍅 25:00 · <b>R&D</b>", TitleColour::None}});
    statusItem_.setTooltip("<b>x</b> &amp; y");
    statusItem_.setCountdown(Countdown{1500, 1500, false, false});
    test::spin(300);
    EXPECT_EQ(panel_.log.received.size(), 0);
    EXPECT_EQ(shownToolTip(tray->toolTip()),
              "🍅 25:00 · <b>R&D</b>\nРабота, осталось 25 мин\n<b>x</b> &amp; y");
    EXPECT_EQ(tray->icon().availableSizes().size(), qsizetype(std::size(kIconSizes)));

    // The menu is rebuilt at each opening without piling up; a choice reaches the delegate on a
    // later loop turn, after the menu has closed.
    delegate_.model[5].submenu->at(0).checked = true;
    QMenu* menu = tray->contextMenu();
    for (int round = 0; round < 2; ++round) emit menu->aboutToShow();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(menu->findChildren<QMenu*>(Qt::FindDirectChildrenOnly).size(), 1);
    const auto actions = menu->actions();
    ASSERT_EQ(actions.size(), 7);
    // As typed: a section as Fusion draws it (no mnemonics), an item with Qt's mnemonics
    // stripped, a tooltip as Qt renders it.
    EXPECT_EQ(actions[1]->text(), "Сегодня & <i>завтра</i>");
    EXPECT_EQ(actions[6]->iconText(), "R&D <b>");
    EXPECT_EQ(shownToolTip(actions[6]->toolTip()), "x &amp; y <b>");
    EXPECT_TRUE(actions[5]->menu() && actions[5]->menu()->actions().at(0)->isChecked());
    actions[6]->trigger();
    EXPECT_TRUE(delegate_.chosen.empty());
    ASSERT_TRUE(waitUntil([&] { return delegate_.chosen.size() == 1; }));
    EXPECT_EQ(delegate_.chosen[0].title, "R&D <b>");
    // No key is shown beside an item, since Qt delivers none while the menu is open: one given
    // to "Обновить" and typed as a person types it does nothing.
    for (const QAction* action : actions) EXPECT_TRUE(action->shortcut().isEmpty());
    menu->popup(QPoint(10, 10));
    menu->actions().at(4)->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_R));
    QTest::keyClick(menu, Qt::Key_R, Qt::ControlModifier);
    test::spin(100);
    EXPECT_EQ(std::pair(delegate_.chosen.size(), menu->isVisible()), std::pair(1ul, true));
    menu->hide();

    // A panel starting later takes over; one going away hands back to the tray, as does a
    // watcher that says no host shows its items, until one does.
    ASSERT_TRUE(panel_.startWatcher());
    ASSERT_TRUE(waitUntil([&] { return !statusItem_.usesFallback(); }));
    EXPECT_EQ(panel_.watcher.registrations.size(), 1);
    EXPECT_FALSE(tray->isVisible());
    statusItem_.notifierItem()->setHostShown(false);
    EXPECT_TRUE(statusItem_.usesFallback() && tray->isVisible());
    statusItem_.setTitle(workTitle("24:58"));
    statusItem_.notifierItem()->setHostShown(true);
    EXPECT_FALSE(statusItem_.usesFallback() || tray->isVisible());
    statusItem_.setTitle(workTitle("24:59"));
    ASSERT_TRUE(waitUntil([&] { return !panel_.log.received.isEmpty(); }));
    test::spin(300);
    ASSERT_EQ(panel_.log.received.size(), 1);  // the label alone, of the shown item only
    EXPECT_EQ(panel_.log.received[0].member(), "XAyatanaNewLabel");
    panel_.stopWatcher();
    ASSERT_TRUE(waitUntil([&] { return statusItem_.usesFallback(); }));
    EXPECT_TRUE(tray->isVisible());
}

// Hosts that draw named icons only find the counting icon by IconName in IconThemePath: one PNG
// per size with the very pixels of the pixmaps, written when a host asks after the picture
// changed, under a new name, the old files gone; a render that draws the same picture keeps it.
TEST_F(StatusItemTest, NamesTheCountingIconInAThemeOfItsOwn) {
    attach();
    const QString theme = panel_.itemProperty("IconThemePath").toString();
    EXPECT_EQ(theme, icons_.path() + "/orvela-timer-icons");
    const auto files = [&] {
        QStringList found;
        for (QDirIterator it(theme, QDir::Files, QDirIterator::Subdirectories); it.hasNext();)
            found << it.next().mid(theme.size());
        found.sort();
        return found;
    };
    // What an earlier run left goes; what is not ours stays.
    const QString leftover = "/hicolor/22x22/apps/orvela_timer_1_9.png", foreign = "/other.png";
    for (const QString& file : {leftover, foreign}) {
        QDir().mkpath(QFileInfo(theme + file).path());
        QFile(theme + file).open(QIODevice::WriteOnly);
    }
    QString before;
    // seconds left, whether the picture changes
    const std::vector<std::pair<double, bool>> steps = {
        {1500, true}, {1490, false}, {1441, false}, {540, true}, {41.5, true}};
    for (const auto& [left, changes] : steps) {
        SCOPED_TRACE(left);
        const QStringList had = files();
        statusItem_.setCountdown(Countdown{left, 1500, false, false});
        EXPECT_EQ(files(), had);  // nothing written (or removed) before a host asks
        const QString name = panel_.itemProperty("IconName").toString();
        EXPECT_EQ(name != before, changes);
        // Looked up with fallbacks, "a-b-c" is also "a-b" and "a": LXQt showed the app's icon.
        EXPECT_FALSE(name.isEmpty() || name.contains('-')) << name.toStdString();
        before = name;
        const auto pixmaps = qdbus_cast<SniIconList>(panel_.itemProperty("IconPixmap"));
        QStringList expected{foreign};
        for (const SniIcon& pixmap : pixmaps) {
            const QString file = QString("/hicolor/%1x%1/apps/%2.png").arg(pixmap.width).arg(name);
            expected << file;
            EXPECT_EQ(sniIconFrom(QImage(theme + file)).bytes, pixmap.bytes) << file.toStdString();
        }
        expected.sort();
        EXPECT_EQ(files(), expected);
    }
}

// A host that dropped an item it had accepted (GNOME's AppIndicator while it starts) is given
// it again, a bounded number of times, and one that lists it is left alone.
TEST_F(StatusItemTest, RegistersAgainWhereTheHostLostTheItem) {
    for (const int lost : {0, 1, 5}) {
        SCOPED_TRACE(lost);
        panel_.stopWatcher();
        panel_.watcher.registrations.clear();
        panel_.watcher.listed.clear();
        panel_.watcher.lose = lost;
        ASSERT_TRUE(panel_.startWatcher());
        const int expected = 1 + std::min(lost, StatusNotifierItem::kMaxReRegistrations);
        ASSERT_TRUE(waitUntil([&] { return panel_.watcher.registrations.size() == expected; }));
        test::spin(StatusNotifierItem::kListedCheckMs + 300);
        EXPECT_EQ(panel_.watcher.registrations.size(), expected);
        EXPECT_EQ(panel_.watcher.listed.size(), lost <= 2 ? 1 : 0);
    }
}

bool whitish(const QImage& image, int x, int y) {
    const QColor c = image.valid(x, y) ? image.pixelColor(x, y) : QColor(Qt::transparent);
    return c.alpha() > 200 && std::min({c.red(), c.green(), c.blue()}) > 200;
}

QRect digitsBox(const QImage& image) {
    QRect box;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (whitish(image, x, y)) box |= QRect(x, y, 1, 1);
    return box;
}

// How well `text`, drawn alone in a bold sans and stretched over the icon's digit pixels (the
// near-white ones), matches them: intersection over union.
double textMatch(const QImage& icon, const QString& text) {
    QImage alone(300, 120, QImage::Format_ARGB32);
    alone.fill(Qt::black);
    QPainter p(&alone);
    p.setFont(QFont("DejaVu Sans", 60, QFont::Bold));
    p.setPen(Qt::white);
    p.drawText(alone.rect(), Qt::AlignCenter, text);
    p.end();
    const QRect box = digitsBox(icon);
    const QImage fitted = alone.copy(digitsBox(alone)).scaled(box.size());
    int both = 0, either = 0;
    for (int y = 0; y < box.height(); ++y)
        for (int x = 0; x < box.width(); ++x) {
            const bool a = whitish(icon, box.x() + x, box.y() + y),
                       b = qGray(fitted.pixel(x, y)) > 110;
            both += a && b, either += a || b;
        }
    return either ? double(both) / either : 0;
}

// The relative luminance (WCAG 2.1) of a colour.
double luminance(const QColor& c) {
    const auto lin = [](double v) {
        return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * lin(c.redF()) + 0.7152 * lin(c.greenF()) + 0.0722 * lin(c.blueF());
}

// The icon as shown on a panel of colour `panel`.
QImage onPanel(const QImage& icon, const QColor& panel) {
    QImage shown(icon.size(), QImage::Format_ARGB32);
    shown.fill(panel);
    QPainter(&shown).drawImage(0, 0, icon);
    return shown;
}

// The contrast (WCAG ratio) of the digits against what the icon paints two pixels around them,
// past their ink outline (the disc, the ring), with the icon shown on a panel of colour `panel`.
// Where the digits reach the icon's edge, only their outline meets the panel; the ring is what
// must stand out from it.
double digitsContrast(const QImage& icon, QColor panel) {
    const QImage shown = onPanel(icon, panel);
    const auto near = [&](int x, int y, int d) {
        return whitish(icon, x + d, y) || whitish(icon, x - d, y) || whitish(icon, x, y + d) ||
               whitish(icon, x, y - d);
    };
    double sum[2] = {0, 0}, n[2] = {0, 0};
    for (int y = 0; y < icon.height(); ++y)
        for (int x = 0; x < icon.width(); ++x) {
            const bool opaque = qAlpha(icon.pixel(x, y)) == 255;
            const int i = whitish(icon, x, y)                         ? 0
                          : opaque && !near(x, y, 1) && near(x, y, 2) ? 1
                                                                      : 2;
            if (i == 2) continue;
            sum[i] += luminance(shown.pixelColor(x, y)), ++n[i];
        }
    return n[0] && n[1] ? (sum[0] / n[0] + 0.05) / (sum[1] / n[1] + 0.05) : 0;
}

// The WCAG 2.1 contrast ratio of two colours.
double contrast(const QColor& a, const QColor& b) {
    // The initializer-list form returns values; the two-argument one, references to temporaries.
    const auto [dark, light] = std::minmax({luminance(a), luminance(b)});
    return (light + 0.05) / (dark + 0.05);
}

// The colour most pixels of the ring have, on the icon as shown: of its elapsed part (clockwise
// from twelve o'clock, `elapsed` of a turn) or of its track. Only pixels wholly within the ring
// and clear of the part's ends count, so the blended edges do not; none, an invalid colour.
QColor ringColour(const QImage& shown, double elapsed, bool elapsedPart) {
    const int size = shown.width();
    const double c = size / 2.0, outer = (size - 1) / 2.0,
                 inner = outer - std::max(1.5, size * 0.14), end = elapsed * 360;
    std::map<QRgb, int> count;
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x) {
            const double dx = x + 0.5 - c, dy = y + 0.5 - c, d = std::hypot(dx, dy);
            const double angle = std::fmod(std::atan2(dx, -dy) * 180 / M_PI + 360, 360);
            const QRgb px = shown.pixel(x, y);
            // Not the digits over the ring: their white fill or the ink around it.
            if (d < inner + 0.75 || d > outer - 0.75 || qGray(px) > 220 || qGray(px) < 40) continue;
            if (elapsedPart ? angle < end - 12 : angle > end + 12 && angle < 348) ++count[px];
        }
    const auto most = std::max_element(count.begin(), count.end(),
                                       [](auto& a, auto& b) { return a.second < b.second; });
    return most == count.end() ? QColor() : QColor(most->first);
}

// Work with 25 (24:01), 9, 1 minutes and 42 seconds left, a break, paused, over 99 minutes: at
// every size the right digits, most of the height, over a ring of the elapsed part in the phase
// colour (dark amber in the last minute) and a track of another; paused differs from running.
// At the sizes panels use, on a black and on a white panel (GNOME's bar, light Xfce and Plasma
// panels), the digits against what surrounds them and both parts of the ring against the panel
// keep at least 3:1 (WCAG 2.1 non-text contrast). SHOW_TABLE=1 prints what was measured.
TEST(StatusIcon, ShowsTheCountdownOnAnyPanel) {
    const QColor red(0xE5, 0x39, 0x35), green(0x43, 0xA0, 0x47), amber(0xC7, 0x7C, 0x00);
    const std::vector<std::tuple<Countdown, QString, double, QColor>> cases = {
        {{1441, 1500, false, false}, "25", 0, red},
        {{540, 1500, false, false}, "9", 0.64, red},
        {{60, 1500, false, false}, "1", 0.96, red},
        {{41.5, 1500, false, false}, "42", 0.3, amber},
        {{240, 300, true, false}, "4", 0.2, green},
        {{540, 1500, false, true}, "9", 0.64, red},
        {{240, 300, true, true}, "4", 0.2, green},
        {{41.5, 300, true, false}, "42", 0.3, amber},
        {{6000.5, 9000, true, false}, "2ч", 0.33, green},
    };
    for (int size : kIconSizes) {
        for (const auto& [countdown, text, elapsed, ring] : cases) {
            const QImage icon = paintIcon(iconFace(IconKind::Idle, countdown), size)
                                    .convertToFormat(QImage::Format_ARGB32);
            const QString what = text + (countdown.rest ? " rest" : "") +
                                 (countdown.paused ? " paused" : "") +
                                 QString(" at %1 px").arg(size);
            SCOPED_TRACE(what.toStdString());
            EXPECT_GE(digitsBox(icon).height(), size * 0.45);
            const double match = textMatch(icon, text);
            EXPECT_GT(match, 0.5);
            for (const auto& other : cases)
                EXPECT_TRUE(std::get<1>(other) == text ||
                            match > textMatch(icon, std::get<1>(other)));
            for (const QColor& panel : {QColor(Qt::black), QColor(Qt::white)}) {
                const QImage shown = onPanel(icon, panel);
                const QColor done = ringColour(shown, elapsed, true),
                             track = ringColour(shown, elapsed, false);
                const std::string row =
                    QString::asprintf("%s on %s: digits %.1f, elapsed %s %.1f, track %s %.1f",
                                      qPrintable(what), qPrintable(panel.name()),
                                      digitsContrast(icon, panel), qPrintable(done.name()),
                                      contrast(done, panel), qPrintable(track.name()),
                                      contrast(track, panel))
                        .toStdString();
                EXPECT_TRUE(elapsed < 0.1 || done == ring) << row;
                EXPECT_TRUE(elapsed > 0.9 || track != ring) << row;
                if (size > 24) continue;
                if (getenv("SHOW_TABLE")) fprintf(stderr, "%s\n", row.c_str());
                EXPECT_GE(digitsContrast(icon, panel), 3) << row;
                for (const QColor& part : {done, track})
                    EXPECT_TRUE(!part.isValid() || contrast(part, panel) >= 3) << row;
            }
        }
        EXPECT_NE(paintIcon(iconFace(IconKind::Idle, std::get<0>(cases[1])), size),
                  paintIcon(iconFace(IconKind::Idle, std::get<0>(cases[5])), size));
    }
}

// What the icon shows, in the words a screen reader and the tooltip say: as coarse as the icon,
// so that they change with it.
TEST(StatusIcon, SaysWhatItShows) {
    const std::vector<std::tuple<IconKind, std::optional<Countdown>, QString>> cases = {
        {IconKind::Idle, Countdown{1379.2, 1500, false, false}, "Работа, осталось 23 мин"},
        {IconKind::Idle, Countdown{240, 300, true, false}, "Отдых, осталось 4 мин"},
        {IconKind::Idle, Countdown{540, 1500, false, true}, "Работа на паузе, осталось 9 мин"},
        {IconKind::Idle, Countdown{59, 1500, false, false}, "Работа, осталось меньше минуты"},
        {IconKind::Idle, Countdown{0, 300, true, true}, "Отдых на паузе, осталось меньше минуты"},
        {IconKind::Idle, Countdown{6000.5, 9000, true, false}, "Отдых, осталось 2 ч"},
        {IconKind::Idle, std::nullopt, "Таймер не запущен"},
        {IconKind::Finished, std::nullopt, "Время задачи вышло"},
        {IconKind::Login, std::nullopt, "Ждёт подтверждения входа на сайте ORVELA"},
        {IconKind::Problem, std::nullopt, "Нет подключения к ORVELA"},
        {IconKind::Event, std::nullopt, "Событие календаря"},
    };
    for (const auto& [kind, countdown, words] : cases)
        EXPECT_EQ(faceInWords(iconFace(kind, countdown)), words);
}

// Odd numbers stay bounded; without a countdown the title's state picks one glyph of its own.
TEST(StatusIcon, BoundsNumbersAndKeepsAGlyphPerState) {
    for (const auto& [countdown, text] : std::vector<std::pair<Countdown, std::string>>{
             {{NAN, NAN, false, false}, "0 120"},
             {{-5, 0, false, false}, "0 120"},
             {{INFINITY, INFINITY, false, false}, "99ч 0"},
             {{1e300, 1, false, false}, "99ч 0"}}) {
        const IconFace face = iconFace(IconKind::Idle, countdown);
        EXPECT_EQ(face.text + " " + std::to_string(face.ring), text);
    }
    const TitleColour none = TitleColour::None;
    const std::vector<std::pair<std::vector<TitlePart>, IconKind>> titles = {
        {{{"🍅", none}}, IconKind::Idle},
        {{{"🍅 ?", none}}, IconKind::Problem},
        {{{"🔑 ", none}, {"ABCD-1234", none}}, IconKind::Login},
        {{{"✅ ", none}, {"Отчёт", none}}, IconKind::Finished},
        {{{"● ", TitleColour::Red}, {"Созвон", none}}, IconKind::Event},
        {{{"Созвон", none}, {" · через 10 мин", TitleColour::Secondary}}, IconKind::Event},
    };
    QSet<QByteArray> painted;  // one glyph per kind: 5 kinds
    for (const auto& [parts, kind] : titles) {
        EXPECT_EQ(titleKind(parts), kind) << parts.front().text;
        const QImage image = paintIcon(iconFace(kind, std::nullopt), 22);
        painted << QByteArray((const char*)image.constBits(), image.sizeInBytes());
    }
    EXPECT_EQ(painted.size(), 5);
}

}  // namespace
}  // namespace orvela::qt
