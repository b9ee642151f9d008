// The status item's drop-down menu: rebuilt from the App's fields every time it opens, so it
// always shows this instant's state, and never kept in between.
#include <algorithm>
#include <cstddef>
#include <string>
#include <vector>

#include "announce/tips.hpp"
#include "model/position.hpp"
#include "model/time_text.hpp"
#include "shell/app.hpp"

namespace orvela {

namespace {

constexpr const char* kDot = " \u00b7 ";

MenuItem separator() {
    MenuItem item;
    item.kind = MenuItem::Kind::Separator;
    return item;
}

// A line that only informs: no action, so it cannot be chosen.
MenuItem infoLine(std::string title) {
    MenuItem item;
    item.title = std::move(title);
    item.enabled = false;
    return item;
}

MenuItem actionItem(std::string title, MenuAction action) {
    MenuItem item;
    item.title = std::move(title);
    item.action = action;
    return item;
}

// Only the phase type "work" counts as a work phase here; anything else (including unknown
// types, which the rest of the menu shows as work) is not counted.
std::size_t workPhases(const std::vector<Phase>& plan, std::size_t upTo) {
    const auto last = plan.begin() + static_cast<std::ptrdiff_t>(std::min(upTo, plan.size()));
    return static_cast<std::size_t>(
        std::count_if(plan.begin(), last, [](const Phase& p) { return p.type == "work"; }));
}

std::string phaseLine(const PomodoroState& state, const Position& pos) {
    if (pos.finished()) return "Время задачи вышло";
    const Phase& phase = *pos.phase;
    const std::string minutes = std::to_string(wholeMinutes(phase.min)) + " мин";
    std::string line;
    if (phase.type == "rest") {
        line = "Отдых" + std::string(kDot) + minutes;
    } else {
        // index + 1 phases have begun; the index is never negative, and a plan shorter than
        // that simply counts all its work phases.
        const std::size_t begun =
            static_cast<std::size_t>(std::max<std::int64_t>(pos.index, 0)) + 1;
        line = "Работа · подход " + std::to_string(workPhases(state.plan, begun)) + "/" +
               std::to_string(workPhases(state.plan, state.plan.size())) + kDot + minutes;
    }
    if (state.pausedAt) line += " · на паузе";
    return line;
}

std::string controlTitle(MenuAction action, bool rest) {
    switch (action) {
        case MenuAction::Pause:
            return "⏸ Пауза";
        case MenuAction::Resume:
            return "▶ Продолжить";
        case MenuAction::Skip:
            return rest ? "⏭ К работе" : "⏭ К отдыху";
        case MenuAction::Stop:
            return "■ Остановить";
        case MenuAction::Extend:
            return "+45 минут";
        default:
            return {};
    }
}

std::string controlKey(MenuAction action) {
    return action == MenuAction::Pause || action == MenuAction::Resume ? "p" : "";
}

}  // namespace

void App::menuNeedsUpdate(std::vector<MenuItem>& items) {
    items.clear();
    // Every item except separators and "Настройки" is made here, so that an item is enabled
    // exactly when it does something.
    const AddItem add = [&items](const std::string& title, MenuAction action,
                                 const std::string& key) -> MenuItem& {
        MenuItem& item = items.emplace_back();
        item.title = title;
        item.action = action;
        item.key = key;
        item.enabled = action != MenuAction::None;
        return item;
    };
    const auto addSeparator = [&items] { items.push_back(separator()); };

    // The variant and its timer controls come from the offer that outside callers are held to.
    using Situation = TimerOffer::Situation;
    const TimerOffer offer = timerOffer();

    // A login waiting for the browser leaves nothing else to do but finish or drop it.
    if (offer.situation == Situation::Login) {
        add("Код для входа: " + pendingLogin->userCode, MenuAction::None, "");
        add("Подтвердите его на сайте ORVELA…", MenuAction::OpenLoginPage, "");
        add("Отменить вход", MenuAction::CancelLogin, "");
        addSeparator();
        add("Выйти", MenuAction::Quit, "q");
        return;
    }

    if (offer.situation == Situation::Problem) {
        add(*problem, MenuAction::None, "");
        add("Войти через браузер…", MenuAction::Connect, "");
        add("Вставить токен вручную…", MenuAction::AskToken, "");
        add("Обновить", MenuAction::Refresh, "r");
    } else if (offer.situation == Situation::NoTimer) {
        add("🍅 Таймер не запущен — взять задачу в работу…", MenuAction::OpenPlanner, "");
    } else {
        const Position& pos = *offer.pos;
        const bool rest = !pos.finished() && pos.phase->type == "rest";
        add(state->title, MenuAction::OpenPlanner, "");
        add(phaseLine(*state, pos), MenuAction::None, "");
        addSeparator();
        for (const MenuAction action : offer.controls)
            add(controlTitle(action, rest), action, controlKey(action));
        if (rest) {
            // Consecutive breaks rotate through the tips, two eye exercises and one for the
            // body at a time.
            const std::size_t k = tipSlot(pos.index);
            addSeparator();
            add("Что сделать в перерыв", MenuAction::None, "");
            add(std::string(eyeTips[k]), MenuAction::None, "");
            add(std::string(eyeTips[(k + 1) % eyeTips.size()]), MenuAction::None, "");
            add(std::string(bodyTips[k]), MenuAction::None, "");
        }
    }

    addAgenda(items, add);
    addSeparator();
    if (update) {
        if (updating) {
            add("Обновляется до " + update->version + "…", MenuAction::None, "");
        } else {
            add("⬆ Обновить до версии " + update->version + "…", MenuAction::InstallUpdate, "");
        }
    }
    add("Открыть планер", MenuAction::OpenPlanner, "o");
    // An item that only opens a sub-menu has no action of its own but stays enabled.
    MenuItem settings;
    settings.title = "Настройки";
    settings.submenu = settingsMenu();
    items.push_back(std::move(settings));
    add("Выйти", MenuAction::Quit, "q");
}

std::vector<MenuItem> App::settingsMenu() {
    std::vector<MenuItem> menu;
    // The registration is read fresh on every opening: the user may change it elsewhere.
    MenuItem launchAtLogin = actionItem("Запускать при входе в систему", MenuAction::ToggleLogin);
    launchAtLogin.checked = platform_.loginItemStatus() == LoginItemStatus::Enabled;
    menu.push_back(std::move(launchAtLogin));
    menu.push_back(actionItem("Настройки ORVELA на сайте…", MenuAction::OpenAppsSettings));
    menu.push_back(actionItem("Проверить обновления…", MenuAction::CheckUpdatesNow));
    if (token) {
        menu.push_back(separator());
        menu.push_back(actionItem("Подключить заново…", MenuAction::Connect));
        menu.push_back(actionItem("Отключить ORVELA…", MenuAction::Disconnect));
    }
    menu.push_back(separator());
    menu.push_back(
        infoLine("ORVELA Timer " + appVersion + " (сборка " + std::to_string(appBuild) + ")"));
    return menu;
}

void App::toggleLogin() {
    // Awaiting approval or not found count as off: choosing the switch registers again.
    const bool enabled = platform_.loginItemStatus() == LoginItemStatus::Enabled;
    const auto error = enabled ? platform_.unregisterLoginItem() : platform_.registerLoginItem();
    if (error) platform_.systemLog("ORVELA Timer: автозапуск не переключился: " + *error);
}

void App::menuItemChosen(const MenuItem& item) {
    // While an alert is open, a second one (of the same kind or another) is not stacked on it:
    // the open one comes to the front, and the user answers it first.
    if (alertOpen && opensAlert(item.action)) {
        platform_.activateApp();
        return;
    }
    switch (item.action) {
        case MenuAction::None:
            break;
        case MenuAction::Connect:
            connect();
            break;
        case MenuAction::AskToken:
            askToken();
            break;
        case MenuAction::Disconnect:
            disconnect();
            break;
        case MenuAction::OpenLoginPage:
            openLoginPage();
            break;
        case MenuAction::CancelLogin:
            cancelLogin();
            break;
        case MenuAction::Pause:
            pause();
            break;
        case MenuAction::Resume:
            resume();
            break;
        case MenuAction::Skip:
            skip();
            break;
        case MenuAction::Stop:
            stop();
            break;
        case MenuAction::Extend:
            extend();
            break;
        case MenuAction::Refresh:
            refresh();
            break;
        case MenuAction::Quit:
            quit();
            break;
        case MenuAction::CheckUpdatesNow:
            checkUpdatesNow();
            break;
        case MenuAction::InstallUpdate:
            installUpdate();
            break;
        case MenuAction::OpenPlanner:
            openPlanner();
            break;
        case MenuAction::OpenAppsSettings:
            openAppsSettings();
            break;
        case MenuAction::OpenDay:
            openDay(item);
            break;
        case MenuAction::ToggleLogin:
            toggleLogin();
            break;
    }
}

}  // namespace orvela
