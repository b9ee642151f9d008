#include <gtest/gtest.h>

#include "client/app_harness.hpp"

namespace orvela::test {
namespace {

using Texts = std::vector<std::string>;
const std::string kConnect = "Подключите ORVELA";

Texts shown(const FakePlatform& fake) {  // "dialog"/"prompt", message, "!" for a warning
    Texts out;
    for (const Alert& a : fake.alerts)
        out.push_back((a.field ? "dialog: " : "prompt: ") + a.message +
                      (a.style == AlertStyle::Warning ? " !" : ""));
    return out;
}

// The dialog starts with a token-shaped clipboard, trimmed, and takes a later one alike; an empty
// entry comes back with a warning; the settings button opens the page, the dialog returns 1 s on.
TEST(ConnectPrompt, LeadsToBothWaysAndBack) {
    AppHarness h;
    h.fake.alertAnswers = {{0, ""}, {1, ""}, {0, " "}, {1, ""}};
    h.fake.clipboard = " \n orvela_abc\t\r\n";
    for (int i = 0; i < 3; ++i) h.app->connect();
    const Alert &prompt = h.fake.alerts.at(0), &dialog = h.fake.alerts.at(2);
    EXPECT_EQ(prompt.informative,
              "Откроется сайт ORVELA с кодом — проверьте, что он совпадает с кодом в меню "
              "приложения, и нажмите «Подключить». Если вы не вошли на сайт, сначала войдите.");
    EXPECT_EQ(prompt.buttons, (Texts{"Войти через браузер", "Вставить токен вручную…", "Позже"}));
    EXPECT_EQ(dialog.informative,
              "1. Откройте на сайте Настройки → 📱 Приложения.\n"
              "2. Нажмите «Создать токен для Mac» и скопируйте его.\n"
              "3. Вставьте сюда.\n\n"
              "Токен даёт приложению доступ к таймеру помодоро и расписанию. Отозвать его "
              "можно там же, в настройках.");
    EXPECT_EQ(dialog.buttons, (Texts{"Подключить", "Открыть настройки ORVELA", "Позже"}));
    EXPECT_EQ(dialog.field->placeholder + " " + dialog.field->text, "orvela_… orvela_abc");
    EXPECT_EQ(dialog.field->fromClipboard("\n orvela_late "), "orvela_late");
    EXPECT_EQ(dialog.field->fromClipboard("ORVELA_late"), std::nullopt);
    const std::string asked = "prompt: " + kConnect + " !", form = "dialog: " + kConnect;
    Texts expected = {asked, asked, form, "dialog: Вставьте токен !", asked};
    EXPECT_EQ(shown(h.fake), expected);
    EXPECT_EQ(h.fake.requests.size(), 1u);  // the device login's start
    EXPECT_EQ(h.fake.openedUrls, Texts{std::string(kBase) + "/settings.html#mac-app"});
    h.fake.clipboard = "token orvela_abc";  // not token-shaped: the field starts empty
    h.fake.advance(1);
    expected.push_back(form);
    EXPECT_EQ(shown(h.fake), expected);
    EXPECT_EQ(h.fake.alerts.back().field->text, "");
}

// An entry is stored only once the service accepts it; a failure, or one no header could carry
// (refused without asking), brings the dialog back with the reason and keeps the old token.
TEST(TokenDialog, StoresOnlyWhatTheServiceAccepts) {
    const std::string refused = "Токен не подошёл — скопируйте его заново или создайте новый";
    // entry, the check's answer, the reason it comes back with (none: stored), requests sent
    for (const auto& [entry, check, reopened, sent] :
         std::vector<std::tuple<std::string, HttpResponse, std::string, std::size_t>>{
             {"orvela_bad", FakePlatform::ok(R"({"success":false})", 401), refused, 1},
             {"orvela_new", FakePlatform::noAnswer(),
              "Нет связи с ORVELA — проверьте интернет и попробуйте ещё раз", 1},
             {"not-prefixed", FakePlatform::ok(""), "", 3},
             {"orvela_a\tb", FakePlatform::ok(""), refused, 0},
             {"orvela_" + std::string(4090, 'x'), FakePlatform::ok(""), refused, 0}}) {
        AppHarness h;
        h.home.putToken("orvela_old\n");
        h.app->token = "orvela_old";
        h.fake.respondTo("GET", "/api/ext/pomodoro", check, 1);
        h.fake.alertAnswers.push_back({0, entry});
        h.app->askToken();
        h.fake.runPending();
        ASSERT_EQ(h.fake.requests.size(), sent) << entry.substr(0, 20);
        EXPECT_EQ(sent ? h.fake.requests[0].header("Authorization") : "Bearer " + entry,
                  "Bearer " + entry);
        const std::string kept = reopened.empty() ? entry : "orvela_old";
        EXPECT_EQ(h.app->token, kept);
        EXPECT_EQ(TempHome::read(h.home.tokenPath()), kept + "\n");
        EXPECT_EQ(shown(h.fake).back(),
                  "dialog: " + (reopened.empty() ? kConnect : reopened + " !"));
    }
}

// Confirmed: the token file and the account's state go, the service is not told. Cancelled: kept.
TEST(Disconnect, ConfirmedRemovesTheTokenAndResetsTheAccountOnly) {
    for (bool confirm : {true, false}) {
        AppHarness h;
        h.home.putToken("orvela_old\n");
        h.app->token = "orvela_old";
        h.app->state = PomodoroState{1, "Отчёт", {{"work", 25}}, 1, {}};
        h.fake.alertAnswers.push_back({confirm ? 0 : 1, ""});
        h.app->disconnect();
        const Alert& alert = h.fake.alerts.at(0);
        EXPECT_EQ(alert.message + " " + alert.informative,
                  "Отключить ORVELA? Токен будет удалён с этого компьютера. На сайте он "
                  "останется — отзовите его в настройках, если больше не нужен.");
        EXPECT_EQ(alert.buttons, (Texts{"Отключить", "Отмена"}));
        EXPECT_EQ(std::filesystem::exists(h.home.tokenPath()), !confirm);
        EXPECT_EQ(h.app->token.has_value() + h.app->state.has_value(), confirm ? 0 : 2);
        EXPECT_EQ(h.app->problem.value_or(""), confirm ? "Нет токена ORVELA" : "");
        EXPECT_TRUE(h.fake.requests.empty()) << "the service is not told";
    }
}

// While an alert is open (the loop turns inside it), a choice that would open one brings it to
// the front; the rest runs, from the menu and from outside. Once closed, alerts open again.
TEST(OneAlert, ACommandThatWouldOpenAnotherBringsTheOpenOneToTheFront) {
    AppHarness h;
    h.app->token = "orvela_tok";
    h.app->state = PomodoroState{7, "Отчёт", {{"work", 25}}, h.fake.wallClockMs(), {}};
    h.app->update = ReleaseInfo{"2.0", 2, {}, "/mac/x.zip", {}, {}};
    const auto choose = [&h](MenuAction action) {
        MenuItem item;
        item.action = action;
        h.app->menuItemChosen(item);
    };
    h.fake.whileAlertOpen = [&](const Alert&) {
        h.fake.whileAlertOpen = nullptr;
        const int activations = h.fake.activations;
        for (MenuAction action : {MenuAction::Disconnect, MenuAction::Connect, MenuAction::AskToken,
                                  MenuAction::InstallUpdate})
            choose(action);
        EXPECT_EQ(h.fake.activations - activations, 4) << "the open one to the front";
        EXPECT_EQ(h.app->control(TimerCommand::Pause), std::nullopt);
        choose(MenuAction::OpenPlanner);
    };
    h.app->disconnect();
    EXPECT_EQ(shown(h.fake), Texts{"prompt: Отключить ORVELA? !"});
    EXPECT_TRUE(h.fake.requests.size() == 1 && h.last().request.url.ends_with("/pomodoro/pause"));
    EXPECT_EQ(h.fake.openedUrls.size(), 1u);
    choose(MenuAction::Connect);
    EXPECT_EQ(shown(h.fake).back(), "prompt: " + kConnect + " !");
}

// What comes by itself (a launch's prompt, a login's failure, a check's outcome, the dialog back
// from the page) waits for the open alert to close, then opens once, marked as unrequested.
TEST(OneAlert, AlertsThatComeByThemselvesWaitTheirTurn) {
    AppHarness h;
    h.fake.alertAnswers = {{1, ""}};  // the dialog: "Открыть настройки ORVELA"
    h.fake.whileAlertOpen = [&](const Alert&) {
        h.fake.whileAlertOpen = nullptr;
        h.app->applicationDidFinishLaunching();  // no token: the prompt is due 0.5 s later
        h.app->loginFailed("Вход отклонён на сайте");
        h.app->notice("Установлена последняя версия", "");
        h.fake.advance(5);
        EXPECT_EQ(h.fake.alerts.size(), 1u) << "opened over the dialog";
    };
    h.app->askToken();
    h.fake.advance(3);
    EXPECT_EQ(shown(h.fake),
              (Texts{"dialog: " + kConnect, "prompt: " + kConnect + " !",
                     "prompt: Вход отклонён на сайте !", "prompt: Установлена последняя версия",
                     "dialog: " + kConnect}));
    // Only the dialog that came back from the page shows beside it.
    for (const Alert& a : h.fake.alerts)
        EXPECT_EQ(a.unrequested + a.withoutFocus,
                  (&a != &h.fake.alerts[0]) + (&a == &h.fake.alerts.back()));
}

}  // namespace
}  // namespace orvela::test
