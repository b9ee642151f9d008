// The menu's agenda section, its day labels, and the planner links its entries open.
#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "shell/app.hpp"
#include "support/fake_platform.hpp"
#include "support/time_zone.hpp"

namespace orvela {
namespace {

using test::FakePlatform;

constexpr double kMinuteMs = 60000;
constexpr double kDayMs = 24 * 60 * kMinuteMs;
// 2026-12-05 00:00 in Moscow (UTC+3 all year).
constexpr double kDec5Ms = 1796418000000.0;

double at(int hour, int minute, int dayOffset = 0) {
    return kDec5Ms + dayOffset * kDayMs + (hour * 60 + minute) * kMinuteMs;
}

AgendaItem entry(std::string date, std::string title, double start,
                 std::optional<double> end = std::nullopt) {
    AgendaItem item;
    item.title = std::move(title);
    item.date = std::move(date);
    item.start = start;
    item.end = end;
    return item;
}

std::string row(const MenuItem& item) {
    if (item.kind == MenuItem::Kind::Separator) return "---";
    if (item.kind == MenuItem::Kind::SectionHeader) return "## " + item.title;
    return item.enabled ? item.title : item.title + " (off)";
}

struct AgendaMenuTest : ::testing::Test {
    test::ScopedTimeZone zone{"Europe/Moscow"};
    FakePlatform fake;
    std::unique_ptr<App> app;

    AgendaMenuTest() {
        fake.userDefaults["OrvelaURL"] = "https://orvela.test";
        app = std::make_unique<App>(fake);
        fake.createStatusItem()->setMenuDelegate(app.get());
    }

    // The section as it appears in the no-timer menu: after its first line, before the tail
    // (separator, planner link, settings, quit).
    std::vector<MenuItem> section() {
        const auto items = fake.openMenu();
        return {items.begin() + 1, items.end() - 4};
    }
    std::vector<std::string> sectionRows() {
        std::vector<std::string> out;
        for (const auto& item : section()) out.push_back(row(item));
        return out;
    }
};

// Which days get a section, in which order, with which header, and which entries.
TEST_F(AgendaMenuTest, SectionsAndHeaders) {
    struct Case {
        const char* name;
        std::optional<std::string> today;
        std::vector<AgendaItem> agenda;
        std::vector<std::string> expected;
    };
    const std::vector<Case> cases = {
        {"nothing known yet: both bare headers, both empty",
         std::nullopt,
         {},
         {"---", "## Сегодня", "Больше ничего не запланировано (off)", "---", "## Завтра",
          "Больше ничего не запланировано (off)"}},
        {"a free day: the second section is skipped",
         "2026-12-05",
         {},
         {"---", "## Сегодня · сб, 5 дек.", "Больше ничего не запланировано (off)"}},
        {"a far later second day, a third day hidden, stored order kept",
         "2026-12-05",
         {entry("2026-12-08", "Лекция", at(10, 0, 3)),
          entry("2026-12-05", "Стендап", at(11, 0), at(11, 15)),
          entry("2026-12-09", "Не показывать", at(12, 0, 4)),
          entry("2026-12-05", "Обзор", at(15, 0), at(16, 0)),
          entry("2026-12-08", "Семинар", at(12, 0, 3), at(13, 30, 3))},
         {"---", "## Сегодня · сб, 5 дек.", "11:00–11:15   Стендап", "15:00–16:00   Обзор", "---",
          "## Завтра · вт, 8 дек.", "10:00–10:00   Лекция", "12:00–13:30   Семинар"}},
        {"entries only on another day: today still says it is free",
         "2026-12-05",
         {entry("2026-12-06", "Бег", at(8, 0, 1))},
         {"---", "## Сегодня · сб, 5 дек.", "Больше ничего не запланировано (off)", "---",
          "## Завтра · вс, 6 дек.", "08:00–08:00   Бег"}},
        {"no today from the service: entries fall to the second section",
         std::nullopt,
         {entry("2026-12-05", "Стендап", at(11, 0), at(11, 15))},
         {"---", "## Сегодня", "Больше ничего не запланировано (off)", "---",
          "## Завтра · сб, 5 дек.", "11:00–11:15   Стендап"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        app->agendaToday = c.today;
        app->agenda = c.agenda;
        EXPECT_EQ(sectionRows(), c.expected);
    }
}

// At most 12 entries today and 6 on the other day; the rest is one line opening that day.
TEST_F(AgendaMenuTest, OverflowLines) {
    app->agendaToday = "2026-12-05";
    for (int i = 1; i <= 15; ++i)
        app->agenda.push_back(entry("2026-12-05", "Сегодня " + std::to_string(i), at(8, i)));
    for (int i = 1; i <= 7; ++i)
        app->agenda.push_back(entry("2026-12-06", "Завтра " + std::to_string(i), at(8, i, 1)));

    const auto items = section();
    ASSERT_EQ(items.size(), 2u + 12 + 1 + 2 + 6 + 1);
    EXPECT_EQ(items[2].title, "08:01–08:01   Сегодня 1");
    EXPECT_EQ(items[13].title, "08:12–08:12   Сегодня 12");
    EXPECT_EQ(items[14].title, "ещё 3…");
    EXPECT_EQ(items[14].represented, "2026-12-05");
    EXPECT_EQ(items[22].title, "08:06–08:06   Завтра 6");
    const MenuItem& more = items[23];
    EXPECT_EQ(more.title, "ещё 1…");
    EXPECT_EQ(more.represented, "2026-12-06");
    EXPECT_TRUE(more.enabled);

    fake.choose(more);
    EXPECT_EQ(fake.openedUrls,
              std::vector<std::string>{"https://orvela.test/planner.html?date=2026-12-06"});
}

// One entry's line: times, the live marker against the clock, all-day, icon.
TEST_F(AgendaMenuTest, EntryLines) {
    struct Case {
        double now;
        AgendaItem item;
        const char* expected;
    };
    AgendaItem birthday = entry("2026-12-05", "Др", at(0, 0), at(0, 0, 1));
    birthday.allDay = true;
    birthday.icon = "🎂";
    AgendaItem call = entry("2026-12-05", "Созвон", at(9, 0), at(9, 30));
    AgendaItem withIcon = call;
    withIcon.icon = "📞";
    const std::vector<Case> cases = {
        {at(8, 59), call, "09:00–09:30   Созвон"},
        {at(9, 0), call, "● 09:00–09:30   Созвон"},
        {at(9, 10), call, "● 09:00–09:30   Созвон"},
        {at(9, 30), call, "09:00–09:30   Созвон"},
        {at(9, 10), withIcon, "● 09:00–09:30   📞 Созвон"},
        {at(14, 0), entry("2026-12-05", "Звонок", at(14, 0)), "14:00–14:00   Звонок"},
        {at(12, 0), birthday, "весь день   🎂 Др"},
    };
    app->agendaToday = "2026-12-05";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.expected);
        fake.setWallClockMs(c.now);
        app->agenda = {c.item};
        EXPECT_EQ(section().at(2).title, c.expected);
    }
}

// Entries carry their day for the planner link, and their place as a tooltip when known.
TEST_F(AgendaMenuTest, EntriesOpenTheirDay) {
    app->agendaToday = "2026-12-05";
    AgendaItem meeting = entry("2026-12-05", "Встреча", at(15, 0), at(16, 0));
    meeting.location = "Переговорная 3";
    app->agenda = {meeting, entry("2026-12-05", "Звонок", at(17, 0))};

    const auto items = section();
    ASSERT_EQ(items.size(), 4u);
    EXPECT_EQ(items[2].tooltip, "Переговорная 3");
    EXPECT_EQ(items[3].tooltip, "");
    for (const auto& item : {items[2], items[3]}) {
        EXPECT_EQ(item.action, MenuAction::OpenDay);
        EXPECT_TRUE(item.enabled);
        EXPECT_EQ(item.key, "");
        EXPECT_EQ(item.represented, "2026-12-05");
    }

    fake.choose(items[2]);
    MenuItem noDay;  // an entry item that lost its day falls back to the planner's main page
    noDay.action = MenuAction::OpenDay;
    fake.choose(noDay);
    EXPECT_EQ(fake.openedUrls,
              (std::vector<std::string>{"https://orvela.test/planner.html?date=2026-12-05",
                                        "https://orvela.test/planner.html"}));
}

// Day labels: Russian, lower case, the same calendar day in any zone; anything else as is.
TEST(DayLabel, FormatsValidDatesAndKeepsTheRest) {
    struct Case {
        const char* zone;
        const char* date;
        const char* expected;
    };
    const std::vector<Case> cases = {
        {"Europe/Moscow", "2026-12-05", "сб, 5 дек."},
        {"Pacific/Kiritimati", "2026-12-05", "сб, 5 дек."},
        {"Pacific/Pago_Pago", "2026-12-05", "сб, 5 дек."},
        {"UTC", "2026-05-09", "сб, 9 мая"},
        {"UTC", "2027-01-01", "пт, 1 янв."},
        {"UTC", "", ""},
        {"UTC", "завтра", "завтра"},
        {"UTC", "2026-13-01", "2026-13-01"},
        {"UTC", "2026-02-30", "2026-02-30"},
        {"UTC", "2026-12-05T10:00", "2026-12-05T10:00"},
        {"UTC", "05.12.2026", "05.12.2026"},
        {"UTC", "2026-12-05 ", "2026-12-05 "},
        {"UTC", "\xff\xfe", "\xff\xfe"},
    };
    for (const auto& c : cases) {
        test::ScopedTimeZone zone(c.zone);
        EXPECT_EQ(dayLabel(c.date), c.expected) << c.zone << " " << c.date;
    }
}

}  // namespace
}  // namespace orvela
