// The connection prompt, the pasted-token dialog with its check against the service, the
// disconnection, and the prompt a launch without a token opens by itself.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "client/app_harness.hpp"

namespace orvela::test {
namespace {

const std::string kPomodoro = std::string(kBase) + "/api/ext/pomodoro";

std::string fileText(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

struct DialogHarness : AppHarness {
    DialogHarness() { app->item = fake.createStatusItem(); }
    // An app that already holds a working token, to see that failures leave it be.
    void holdOldToken() {
        home.putToken("orvela_old\n");
        app->token = "orvela_old";
    }
};

TEST(ConnectPrompt, OffersBothWaysInOrder) {
    for (int button : {0, 1, 2}) {
        DialogHarness h;
        h.fake.alertAnswers.push_back({button, ""});
        h.app->connect();
        h.fake.runPending();

        const Alert& prompt = h.fake.alerts.at(0);
        EXPECT_EQ(prompt.message, "Подключите ORVELA");
        EXPECT_EQ(prompt.informative,
                  "Откроется сайт ORVELA с кодом — проверьте, что он совпадает с кодом в меню "
                  "приложения, и нажмите «Подключить». Если вы не вошли на сайт, сначала войдите.");
        EXPECT_EQ(prompt.style, AlertStyle::Warning);
        EXPECT_EQ(prompt.buttons, (std::vector<std::string>{"Войти через браузер",
                                                            "Вставить токен вручную…", "Позже"}));
        EXPECT_FALSE(prompt.field);
        // The browser starts a device login; the second button opens the token dialog.
        EXPECT_EQ(h.fake.requests.size(), button == 0 ? 1u : 0u);
        ASSERT_EQ(h.fake.alerts.size(), button == 1 ? 2u : 1u);
        if (button == 1) {
            EXPECT_TRUE(h.fake.alerts[1].field);
        }
    }
}

TEST(TokenDialog, PrefillsOnlyATokenShapedClipboard) {
    struct Case {
        std::optional<std::string> clipboard;
        std::string field;
    };
    const std::vector<Case> cases = {
        {std::nullopt, ""},           {" \n orvela_abc\t\r\n", "orvela_abc"},
        {"orvela_a b", "orvela_a b"}, {"ORVELA_abc", ""},
        {"token orvela_abc", ""},     {"orvela", ""},
    };
    for (const Case& c : cases) {
        DialogHarness h;
        h.fake.clipboard = c.clipboard;
        h.app->askToken();
        const Alert& dialog = h.fake.alerts.at(0);
        ASSERT_TRUE(dialog.field);
        EXPECT_EQ(dialog.field->text, c.field) << c.clipboard.value_or("(none)");
        EXPECT_EQ(dialog.field->placeholder, "orvela_…");
        EXPECT_EQ(dialog.message, "Подключите ORVELA");
        EXPECT_EQ(dialog.style, AlertStyle::Informational);
        EXPECT_EQ(dialog.informative,
                  "1. Откройте на сайте Настройки → 📱 Приложения.\n"
                  "2. Нажмите «Создать токен для Mac» и скопируйте его.\n"
                  "3. Вставьте сюда.\n\n"
                  "Токен даёт приложению доступ к таймеру помодоро и расписанию. Отозвать его "
                  "можно там же, в настройках.");
        EXPECT_EQ(dialog.buttons,
                  (std::vector<std::string>{"Подключить", "Открыть настройки ORVELA", "Позже"}));
    }
}

// Every entry goes through the service before it is stored; each failure brings the dialog
// back with its reason in warning style, and the token in use stays in the file and in memory.
TEST(TokenDialog, StoresOnlyWhatTheServiceAccepts) {
    struct Case {
        std::string entry;
        std::optional<HttpResponse> check;  // none: nothing may be sent
        std::optional<std::string> reopened;
        std::string sentAs;  // the entry as it goes to the service and into the file
    };
    const std::string noConnection = "Нет связи с ORVELA — проверьте интернет и попробуйте ещё раз";
    const std::vector<Case> cases = {
        {" \n\t", std::nullopt, "Вставьте токен", ""},
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
        h.app->shownTitle = "🍅 ?";
        if (c.check) h.fake.respondTo("GET", "/api/ext/pomodoro", *c.check, 1);
        h.fake.alertAnswers.push_back({0, c.entry});
        h.app->askToken();
        h.fake.runPending();

        if (c.check) {
            ASSERT_FALSE(h.fake.requests.empty()) << c.entry;
            EXPECT_EQ(h.fake.requests[0].request.url, kPomodoro);
            EXPECT_EQ(h.fake.requests[0].header("Authorization"), "Bearer " + c.sentAs);
        } else {
            EXPECT_TRUE(h.fake.requests.empty());
        }
        if (c.reopened) {
            ASSERT_EQ(h.fake.alerts.size(), 2u) << c.entry;
            EXPECT_EQ(h.fake.alerts[1].message, *c.reopened);
            EXPECT_EQ(h.fake.alerts[1].style, AlertStyle::Warning);
            EXPECT_EQ(fileText(h.home.tokenPath()), "orvela_old\n");
            EXPECT_EQ(h.app->token, "orvela_old");
            EXPECT_TRUE(h.app->problem);
        } else {
            EXPECT_EQ(h.fake.alerts.size(), 1u) << c.entry;
            EXPECT_EQ(fileText(h.home.tokenPath()), c.sentAs + "\n");
            EXPECT_EQ(h.app->token, c.sentAs);
            EXPECT_FALSE(h.app->problem);
            // The new token is put to work at once: a fetch of the timer and of the agenda.
            ASSERT_EQ(h.fake.requests.size(), 3u);
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
    const std::string prefix = "Не удалось сохранить токен: ";
    EXPECT_TRUE(h.fake.alerts[1].message.starts_with(prefix));
    EXPECT_GT(h.fake.alerts[1].message.size(), prefix.size());
    EXPECT_EQ(h.fake.alerts[1].style, AlertStyle::Warning);
    EXPECT_EQ(h.app->token, "orvela_old");
    EXPECT_EQ(h.fake.requests.size(), 1u) << "no fetch with a token that was not stored";
}

TEST(TokenDialog, EmptyEntriesLoopUntilTheUserGivesUp) {
    DialogHarness h;
    for (int i = 0; i < 3; ++i) h.fake.alertAnswers.push_back({0, "  "});
    h.app->askToken();
    ASSERT_EQ(h.fake.alerts.size(), 4u);  // the last one closed with "Позже"
    for (int i = 1; i < 4; ++i) EXPECT_EQ(h.fake.alerts[i].message, "Вставьте токен");
}

TEST(TokenDialog, SettingsButtonOpensThePageAndReopensTheDialogASecondLater) {
    DialogHarness h;
    h.fake.alertAnswers.push_back({1, ""});
    h.app->askToken(std::string("Вставьте токен"));
    EXPECT_EQ(h.fake.openedUrls,
              std::vector<std::string>{std::string(kBase) + "/settings.html#mac-app"});
    h.fake.advance(0.99);
    EXPECT_EQ(h.fake.alerts.size(), 1u);
    h.fake.advance(0.01);
    ASSERT_EQ(h.fake.alerts.size(), 2u);
    EXPECT_EQ(h.fake.alerts[1].message, "Подключите ORVELA");
    EXPECT_EQ(h.fake.alerts[1].style, AlertStyle::Informational);
}

TEST(Disconnect, ConfirmedRemovesTheTokenAndResetsTheAccountOnly) {
    for (bool confirm : {true, false}) {
        DialogHarness h;
        h.holdOldToken();
        h.app->state = PomodoroState{1, "Отчёт", {{"work", 25}}, 1, {}};
        h.app->agenda = {AgendaItem{1, "Встреча", "2026-12-05", 1, {}, false, "event", {}, {}}};
        h.app->agendaToday = "2026-12-05";
        h.app->pendingLogin = PendingLogin{"d", "u", 1e12, 3};
        h.fake.alertAnswers.push_back({confirm ? 0 : 1, ""});
        h.app->disconnect();

        const Alert& alert = h.fake.alerts.at(0);
        EXPECT_EQ(alert.message, "Отключить ORVELA?");
        EXPECT_EQ(alert.informative,
                  "Токен будет удалён с этого Mac. На сайте он останется — отзовите его в "
                  "настройках, если больше не нужен.");
        EXPECT_EQ(alert.buttons, (std::vector<std::string>{"Отключить", "Отмена"}));
        EXPECT_EQ(std::filesystem::exists(h.home.tokenPath()), !confirm);
        EXPECT_EQ(h.app->token.has_value(), !confirm);
        EXPECT_EQ(h.app->state.has_value(), !confirm);
        EXPECT_EQ(h.app->agenda.empty(), confirm);
        EXPECT_EQ(h.app->problem,
                  confirm ? std::optional<std::string>("Нет токена ORVELA") : std::nullopt);
        EXPECT_EQ(h.app->agendaToday, "2026-12-05");
        EXPECT_TRUE(h.app->pendingLogin);
        EXPECT_TRUE(h.fake.requests.empty()) << "the service is not told";
    }
}

TEST(Disconnect, AFileAlreadyGoneStillResetsAndRedraws) {
    DialogHarness h;
    h.app->token = "orvela_old";
    h.fake.alertAnswers.push_back({0, ""});
    h.app->disconnect();
    EXPECT_FALSE(h.app->token);
    EXPECT_EQ(h.fake.statusItem()->plainTitle(), "🍅 ?");
    EXPECT_EQ(h.fake.statusItem()->tooltip(), "Нет токена ORVELA");
}

TEST(LaunchPrompt, OpensHalfASecondAfterALaunchWithoutAToken) {
    for (bool withToken : {false, true}) {
        DialogHarness h;
        if (withToken) h.home.putToken("orvela_old\n");
        h.app->applicationDidFinishLaunching();
        h.fake.advance(0.49);
        const auto prompts = [&h] {
            int n = 0;
            for (const Alert& a : h.fake.alerts) n += a.message == "Подключите ORVELA";
            return n;
        };
        EXPECT_EQ(prompts(), 0);
        h.fake.advance(5);
        EXPECT_EQ(prompts(), withToken ? 0 : 1);
    }
}

}  // namespace
}  // namespace orvela::test
