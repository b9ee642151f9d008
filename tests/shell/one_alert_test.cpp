// One alert at a time: alerts are modal, and while one is open the loop keeps turning, so the
// menu, the outside commands, timers and answers all reach the App meanwhile.
#include <gtest/gtest.h>

#include "client/app_harness.hpp"

namespace orvela::test {
namespace {

using Texts = std::vector<std::string>;

Texts messages(const FakePlatform& fake) {
    Texts out;
    for (const Alert& a : fake.alerts) out.push_back(a.message);
    return out;
}

MenuItem chosen(MenuAction action) {
    MenuItem item;
    item.action = action;
    return item;
}

// While the disconnect alert is open, a menu choice that would open it again or another alert
// only brings the open one to the front; what opens no alert runs, from the menu and from
// outside alike (the outside commands reach the menu's dispatch too). Once it closed, the menu
// opens alerts again.
TEST(OneAlert, ACommandThatWouldOpenAnotherBringsTheOpenOneToTheFront) {
    AppHarness h;
    h.home.putToken("orvela_tok\n");
    h.app->token = "orvela_tok";
    h.app->item = h.fake.createStatusItem();
    const double now = h.fake.wallClockMs();
    h.app->state = PomodoroState{7, "Отчёт", {{"work", 25}}, now - 60000, std::nullopt};
    h.app->update = ReleaseInfo{};
    h.app->update->version = "2.0";
    h.app->update->zip = "/mac/x.zip";
    int activationsBefore = 0;
    h.fake.whileAlertOpen = [&](const Alert&) {
        h.fake.whileAlertOpen = nullptr;  // the test's own turn runs once
        activationsBefore = h.fake.activations;
        for (MenuAction action : {MenuAction::Disconnect, MenuAction::Connect, MenuAction::AskToken,
                                  MenuAction::InstallUpdate})
            h.app->menuItemChosen(chosen(action));
        EXPECT_EQ(h.fake.activations - activationsBefore, 4) << "the open one to the front";
        EXPECT_EQ(h.app->control(TimerCommand::Pause), std::nullopt);
        h.app->menuItemChosen(chosen(MenuAction::OpenPlanner));
    };
    h.app->disconnect();
    EXPECT_EQ(messages(h.fake), Texts{"Отключить ORVELA?"});
    ASSERT_EQ(h.fake.requests.size(), 1u);
    EXPECT_TRUE(h.fake.requests[0].request.url.ends_with("/api/ext/pomodoro/pause"));
    EXPECT_EQ(h.fake.openedUrls.size(), 1u);
    h.app->menuItemChosen(chosen(MenuAction::Connect));
    EXPECT_EQ(messages(h.fake), (Texts{"Отключить ORVELA?", "Подключите ORVELA"}));
}

// What comes by itself waits its turn rather than opening over the user's alert, and then opens
// with the keys that press a button held back (`unrequested`): the prompt at a launch without a
// token, the token dialog coming back from the browser, a login's failure, a check's outcome.
// What the user opened from the menu is `requested`.
TEST(OneAlert, AlertsThatComeByThemselvesWaitTheirTurnAndHoldBackTheKeys) {
    AppHarness h;
    h.fake.alertAnswers = {{1, ""}};  // the dialog: "Открыть настройки ORVELA"
    bool waiting = true;
    h.fake.whileAlertOpen = [&](const Alert&) {
        if (!waiting) return;
        waiting = false;
        h.app->applicationDidFinishLaunching();  // no token: the prompt is due 0.5 s later
        h.app->loginFailed("Вход отклонён на сайте");
        h.app->notice("Установлена последняя версия", "");
        h.fake.advance(5);  // the dialog is still open: nothing else opens meanwhile
        EXPECT_EQ(h.fake.alerts.size(), 1u);
    };
    h.app->askToken();
    // Closed: the waiting ones open one by one, each once, then the dialog comes back.
    h.fake.advance(3);
    EXPECT_EQ(messages(h.fake),
              (Texts{"Подключите ORVELA", "Подключите ORVELA", "Вход отклонён на сайте",
                     "Установлена последняя версия", "Подключите ORVELA"}));
    std::vector<bool> unrequested;
    for (const Alert& a : h.fake.alerts) unrequested.push_back(a.unrequested);
    EXPECT_EQ(unrequested, (std::vector<bool>{false, true, true, true, true}));
    EXPECT_TRUE(h.fake.alerts.back().withoutFocus);
    EXPECT_FALSE(h.fake.alerts[1].field) << "the launch's prompt, not the dialog";
}

}  // namespace
}  // namespace orvela::test
