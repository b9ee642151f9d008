// The connection prompt, the pasted-token dialog with its check against the service, the
// disconnection, and the prompt a launch without a token opens by itself.
#include <gtest/gtest.h>

#include "client/app_harness.hpp"

namespace orvela::test {
namespace {

using Texts = std::vector<std::string>;
const std::string kPomodoro = std::string(kBase) + "/api/ext/pomodoro";
const std::string kConnect = "Подключите ORVELA";

struct DialogHarness : AppHarness {
    DialogHarness() { app->item = fake.createStatusItem(); }
    void holdOldToken() {  // failures must leave a working token be
        home.putToken("orvela_old\n");
        app->token = "orvela_old";
    }
};

// The prompt's texts, and where each button leads: a device login, the token dialog, nowhere.
// In the dialog an empty entry comes straight back with a warning; the settings button opens
// the page and brings the plain dialog back a second later.
TEST(ConnectPrompt, LeadsToBothWaysAndBack) {
    DialogHarness h;
    for (const AlertAnswer& answer : std::vector<AlertAnswer>{{0, ""}, {1, ""}, {0, " "}, {1, ""}})
        h.fake.alertAnswers.push_back(answer);
    for (int i = 0; i < 3; ++i) h.app->connect();
    const Alert& prompt = h.fake.alerts.at(0);
    EXPECT_EQ(prompt.informative,
              "Откроется сайт ORVELA с кодом — проверьте, что он совпадает с кодом в меню "
              "приложения, и нажмите «Подключить». Если вы не вошли на сайт, сначала войдите.");
    EXPECT_EQ(prompt.style, AlertStyle::Warning);
    EXPECT_EQ(prompt.buttons, (Texts{"Войти через браузер", "Вставить токен вручную…", "Позже"}));
    EXPECT_FALSE(prompt.field);
    const auto shown = [&h] {
        Texts out;
        for (const Alert& a : h.fake.alerts)
            out.push_back((a.field ? "dialog: " : "prompt: ") + a.message +
                          (a.style == AlertStyle::Warning ? " !" : ""));
        return out;
    };
    Texts expected = {"prompt: " + kConnect + " !", "prompt: " + kConnect + " !",
                      "dialog: " + kConnect, "dialog: Вставьте токен !",
                      "prompt: " + kConnect + " !"};
    EXPECT_EQ(shown(), expected);
    EXPECT_EQ(h.fake.requests.size(), 1u);  // the device login's start
    EXPECT_EQ(h.fake.openedUrls, Texts{std::string(kBase) + "/settings.html#mac-app"});
    h.fake.advance(0.99);
    EXPECT_EQ(shown(), expected);
    h.fake.advance(0.01);
    expected.push_back("dialog: " + kConnect);
    EXPECT_EQ(shown(), expected);
}

// The field starts with the clipboard only when it holds a token-shaped text, trimmed.
TEST(TokenDialog, PrefillsOnlyATokenShapedClipboard) {
    DialogHarness h;
    h.app->askToken();
    const Alert& dialog = h.fake.alerts.at(0);
    ASSERT_TRUE(dialog.field);
    EXPECT_EQ(dialog.field->text, "");
    EXPECT_EQ(dialog.field->placeholder, "orvela_…");
    EXPECT_EQ(dialog.message, kConnect);
    EXPECT_EQ(dialog.style, AlertStyle::Informational);
    EXPECT_EQ(dialog.informative,
              "1. Откройте на сайте Настройки → 📱 Приложения.\n"
              "2. Нажмите «Создать токен для Mac» и скопируйте его.\n"
              "3. Вставьте сюда.\n\n"
              "Токен даёт приложению доступ к таймеру помодоро и расписанию. Отозвать его "
              "можно там же, в настройках.");
    EXPECT_EQ(dialog.buttons, (Texts{"Подключить", "Открыть настройки ORVELA", "Позже"}));
    const std::vector<std::pair<std::string, std::string>> cases = {
        {" \n orvela_abc\t\r\n", "orvela_abc"},
        {"orvela_a b", "orvela_a b"},
        {"ORVELA_abc", ""},
        {"token orvela_abc", ""},
        {"orvela", ""},
    };
    for (const auto& [clipboard, field] : cases) {
        h.fake.clipboard = clipboard;
        h.app->askToken();
        EXPECT_EQ(h.fake.alerts.back().field->text, field) << clipboard;
    }
}

// Every entry goes through the service before it is stored; each failure brings the dialog
// back with its reason in warning style, and the token in use stays in the file and in memory.
TEST(TokenDialog, StoresOnlyWhatTheServiceAccepts) {
    struct Case {
        std::string entry;
        HttpResponse check;
        std::optional<std::string> reopened;
        std::string sentAs;  // the entry as it goes to the service and into the file
    };
    const std::string noConnection = "Нет связи с ORVELA — проверьте интернет и попробуйте ещё раз";
    const std::vector<Case> cases = {
        {"orvela_bad", FakePlatform::ok(R"({"success":false,"error":"bad"})", 401),
         "Токен не подошёл — скопируйте его заново или создайте новый", "orvela_bad"},
        {"orvela_new", FakePlatform::ok("", 500), noConnection, "orvela_new"},
        {"orvela_new", FakePlatform::noAnswer(), noConnection, "orvela_new"},
        {"orvela_new\n", FakePlatform::ok(R"({"success":true})"), std::nullopt, "orvela_new"},
        {"  not-prefixed ", FakePlatform::ok(""), std::nullopt, "not-prefixed"},
    };
    for (const Case& c : cases) {
        DialogHarness h;
        h.holdOldToken();
        h.app->problem = "Токен отклонён — создайте новый";
        h.fake.respondTo("GET", "/api/ext/pomodoro", c.check, 1);
        h.fake.alertAnswers.push_back({0, c.entry});
        h.app->askToken();
        h.fake.runPending();

        ASSERT_EQ(h.fake.requests.size(), c.reopened ? 1u : 3u) << c.entry;
        EXPECT_EQ(h.fake.requests[0].request.url, kPomodoro);
        EXPECT_EQ(h.fake.requests[0].header("Authorization"), "Bearer " + c.sentAs);
        const std::string kept = c.reopened ? "orvela_old" : c.sentAs;
        EXPECT_EQ(TempHome::read(h.home.tokenPath()), kept + "\n") << c.entry;
        EXPECT_EQ(h.app->token, kept);
        EXPECT_EQ(h.app->problem.has_value(), c.reopened.has_value());
        if (c.reopened) {
            ASSERT_EQ(h.fake.alerts.size(), 2u) << c.entry;
            EXPECT_EQ(h.fake.alerts[1].message, *c.reopened);
            EXPECT_EQ(h.fake.alerts[1].style, AlertStyle::Warning);
        } else {  // put to work at once: the timer and the agenda are fetched with it
            EXPECT_EQ(h.fake.alerts.size(), 1u) << c.entry;
            EXPECT_EQ(h.fake.requests[1].header("Authorization"), "Bearer " + c.sentAs);
            EXPECT_EQ(h.fake.requests[2].request.url, std::string(kBase) + "/api/ext/agenda");
        }
    }
}

TEST(TokenDialog, ASaveFailureReopensTheDialogAndKeepsTheOldToken) {
    DialogHarness h;
    h.app->token = "orvela_old";
    h.home.put(".config/orvela", "a file where the token folder should be");
    h.fake.respondTo("GET", "/api/ext/pomodoro", FakePlatform::ok(""), 1);
    h.fake.alertAnswers.push_back({0, "orvela_new"});
    h.app->askToken();
    h.fake.runPending();
    ASSERT_EQ(h.fake.alerts.size(), 2u);
    EXPECT_TRUE(h.fake.alerts[1].message.starts_with(
        "Не удалось сохранить токен: " + (h.home.path() / ".config" / "orvela").string() + ": "));
    EXPECT_EQ(h.fake.alerts[1].style, AlertStyle::Warning);
    EXPECT_EQ(h.app->token, "orvela_old");
    EXPECT_EQ(h.fake.requests.size(), 1u) << "no fetch with a token that was not stored";
}

// Confirmed: the file and the account's fields go, the service is not told, the title says so.
// Cancelled: nothing changes.
TEST(Disconnect, ConfirmedRemovesTheTokenAndResetsTheAccountOnly) {
    for (bool confirm : {true, false}) {
        DialogHarness h;
        h.holdOldToken();
        h.app->state = PomodoroState{1, "Отчёт", {{"work", 25}}, 1, {}};
        h.app->agenda = {AgendaItem{1, "Встреча", "2026-12-05", 1, {}, false, "event", {}, {}}};
        h.fake.alertAnswers.push_back({confirm ? 0 : 1, ""});
        h.app->disconnect();

        const Alert& alert = h.fake.alerts.at(0);
        EXPECT_EQ(alert.message, "Отключить ORVELA?");
        EXPECT_EQ(alert.informative,
                  "Токен будет удалён с этого Mac. На сайте он останется — отзовите его в "
                  "настройках, если больше не нужен.");
        EXPECT_EQ(alert.buttons, (Texts{"Отключить", "Отмена"}));
        EXPECT_EQ(std::filesystem::exists(h.home.tokenPath()), !confirm);
        EXPECT_EQ(h.app->token.has_value(), !confirm);
        EXPECT_EQ(h.app->state.has_value(), !confirm);
        EXPECT_EQ(h.app->agenda.empty(), confirm);
        EXPECT_EQ(h.app->problem,
                  confirm ? std::optional<std::string>("Нет токена ORVELA") : std::nullopt);
        EXPECT_TRUE(h.fake.requests.empty()) << "the service is not told";
        EXPECT_EQ(h.fake.statusItem()->tooltip(), confirm ? "Нет токена ORVELA" : "");
    }
}

TEST(LaunchPrompt, OpensHalfASecondAfterALaunchWithoutAToken) {
    for (bool withToken : {false, true}) {
        DialogHarness h;
        if (withToken) h.home.putToken("orvela_old\n");
        h.app->applicationDidFinishLaunching();
        const auto prompts = [&h] {
            return std::count_if(h.fake.alerts.begin(), h.fake.alerts.end(),
                                 [](const Alert& a) { return a.message == kConnect; });
        };
        h.fake.advance(0.49);
        EXPECT_EQ(prompts(), 0);
        h.fake.advance(5);
        EXPECT_EQ(prompts(), withToken ? 0 : 1);
    }
}

}  // namespace
}  // namespace orvela::test
