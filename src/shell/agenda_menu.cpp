// The agenda section of the menu (today and the next day with entries) and the links that open
// the web planner and the service's settings in the browser.
#include <cstddef>
#include <string>
#include <vector>

#include <unicode/locid.h>
#include <unicode/parsepos.h>
#include <unicode/smpdtfmt.h>
#include <unicode/unistr.h>

#include "client/url.hpp"
#include "model/clock.hpp"
#include "model/time_text.hpp"
#include "shell/app.hpp"

namespace orvela {

namespace {

constexpr std::size_t kTodayLimit = 12;
constexpr std::size_t kOtherDayLimit = 6;

struct Section {
    const char* word;
    std::string date;
};

std::string entryLine(const AgendaItem& entry, double now) {
    std::string time;
    bool live = false;
    if (entry.allDay) {
        time = "весь день";
    } else {
        // A point in time shows its start twice and is never under way.
        time = clockTime(entry.start) + "–" + clockTime(entry.end.value_or(entry.start));
        live = now >= entry.start && entry.end && *entry.end > now;
    }
    std::string line = live ? "● " : "";
    line += time + "   ";
    if (entry.icon) line += *entry.icon + " ";
    return line + entry.title;
}

}  // namespace

std::string dayLabel(const std::string& date) {
    UErrorCode status = U_ZERO_ERROR;
    // Strict: the fields must be in range and the whole text must be the date, nothing more.
    icu::SimpleDateFormat parser(icu::UnicodeString(u"yyyy-MM-dd"), status);
    if (U_FAILURE(status)) return date;
    parser.setLenient(false);
    const icu::UnicodeString text = icu::UnicodeString::fromUTF8(date);
    icu::ParsePosition where(0);
    const UDate midnight = parser.parse(text, where);
    if (where.getErrorIndex() >= 0 || where.getIndex() != text.length()) return date;

    const icu::Locale russian("ru_RU");
    icu::SimpleDateFormat formatter(icu::UnicodeString(u"EE, d MMM"), russian, status);
    if (U_FAILURE(status)) return date;
    icu::UnicodeString label;
    formatter.format(midnight, label);
    label.toLower(russian);
    std::string result;
    label.toUTF8String(result);
    return result;
}

void App::addAgenda(std::vector<MenuItem>& menu, const AddItem& add) const {
    // A problem takes the menu's place for the agenda too: it may be stale or not ours.
    if (problem) return;
    // One reading for every entry, so that two entries cannot disagree about "now".
    const double now = nowMs();

    const std::string today = agendaToday.value_or("");
    std::string nextDay;
    for (const AgendaItem& entry : agenda) {
        if (entry.date != today) {
            nextDay = entry.date;
            break;
        }
    }
    const Section sections[] = {{"Сегодня", today}, {"Завтра", nextDay}};

    for (const Section& section : sections) {
        std::vector<const AgendaItem*> entries;
        for (const AgendaItem& entry : agenda) {
            if (entry.date == section.date) entries.push_back(&entry);
        }
        // Today always shows, if only to say it is free; another day only when it has entries.
        if (entries.empty() && section.date != today) continue;

        MenuItem separator;
        separator.kind = MenuItem::Kind::Separator;
        menu.push_back(separator);

        MenuItem header;
        header.kind = MenuItem::Kind::SectionHeader;
        header.title = section.date.empty()
                           ? std::string(section.word)
                           : std::string(section.word) + " · " + dayLabel(section.date);
        header.enabled = false;
        menu.push_back(std::move(header));

        if (entries.empty()) {
            add("Больше ничего не запланировано", MenuAction::None, "");
            continue;
        }

        const std::size_t limit = section.date == today ? kTodayLimit : kOtherDayLimit;
        for (std::size_t i = 0; i < entries.size() && i < limit; ++i) {
            const AgendaItem& entry = *entries[i];
            MenuItem& item = add(entryLine(entry, now), MenuAction::OpenDay, "");
            item.represented = entry.date;
            if (entry.location) item.tooltip = *entry.location;
        }
        if (entries.size() > limit) {
            MenuItem& more =
                add("ещё " + std::to_string(entries.size() - limit) + "…", MenuAction::OpenDay, "");
            more.represented = section.date;
        }
    }
}

namespace {

// The base URL is the user's to set and may be anything; a text that is not a URL is never
// handed to the desktop.
void openLink(Platform& platform, const std::string& url) {
    if (isValidUrl(url)) platform.openUrl(url);
}

}  // namespace

void App::openDay(const MenuItem& sender) {
    if (sender.represented) {
        openLink(platform_, base + "/planner.html?date=" + *sender.represented);
    } else {
        openPlanner();
    }
}

void App::openPlanner() {
    openLink(platform_, base + "/planner.html");
}

void App::openAppsSettings() {
    openLink(platform_, base + "/settings.html#apps");
}

}  // namespace orvela
