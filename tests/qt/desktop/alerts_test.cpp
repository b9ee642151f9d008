// Alerts run offscreen, answered by a timer the way a user would answer them.
#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <functional>

#include "desktop/alerts.hpp"

namespace orvela::qt {
namespace {

using Act = std::function<void(QMessageBox&)>;
const std::vector<std::string> kPrompt = {"Войти через браузер", "Вставить токен вручную…",
                                          "Позже"};

// Runs `answer` on the next modal message box once it is on screen.
void whenOpen(Act answer) {
    QTimer::singleShot(10, [answer] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        box && box->isVisible() ? answer(*box) : whenOpen(answer);
    });
}

Act click(const char* title) {
    return [title](QMessageBox& box) {
        for (QAbstractButton* button : box.buttons())
            if (button->text() == QString::fromUtf8(title)) return button->click();
        box.close();  // the last button: a wrong answer, not a hang
    };
}

Act press(Qt::Key key, bool autoRepeat = false, const QString& text = {}) {
    return [key, autoRepeat, text](QMessageBox& box) {
        for (QEvent::Type type : {QEvent::KeyPress, QEvent::KeyRelease}) {
            QKeyEvent event(type, key, Qt::NoModifier, text, autoRepeat);
            QApplication::sendEvent(box.focusWidget() ? box.focusWidget() : &box, &event);
        }
    };
}

// The answer is the button's position: Enter is the first, Escape and closing the window the last.
// An unrequested alert ignores Return, Enter and Space in its first second, while typing into it
// goes on (the rest of what was meant for another window), and a held key's repeat later; a click
// acts at once, and after a quiet second the keyboard works: a key, then Return pressing the
// default.
TEST(Alerts, AnswersTheButtonPositionAndAnUnrequestedOneHoldsBackKeysForASecond) {
    const int step = kAlertKeyGuardMs * 6 / 10;
    const Act heldBack = [step](QMessageBox& box) {
        for (Qt::Key key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Space}) press(key)(box);
        EXPECT_TRUE(box.isVisible()) << "a key pressed a button at once";
        QTimer::singleShot(step, &box, [&box, step] {
            press(Qt::Key_A)(box);
            QTimer::singleShot(step, &box, [&box] {
                press(Qt::Key_Return)(box);
                EXPECT_TRUE(box.isVisible()) << "a Return amid typing pressed a button";
                QTimer::singleShot(kAlertKeyGuardMs + 100, &box, [&box] {
                    press(Qt::Key_Return, true)(box);
                    EXPECT_TRUE(box.isVisible()) << "a held key's repeat pressed a button";
                    // After a quiet second the keyboard is the user's: a key, then Return at once.
                    press(Qt::Key_A, false, "a")(box);
                    press(Qt::Key_Return)(box);
                    if (box.isVisible()) box.close();  // a wrong answer, not a hang
                });
            });
        });
    };
    Alert alert;
    alert.buttons = kPrompt;
    for (const auto& [how, unrequested, act, expected] :
         std::vector<std::tuple<const char*, bool, Act, int>>{
             {"Enter", false, press(Qt::Key_Return), 0},
             {"Escape", false, press(Qt::Key_Escape), 2},
             {"closed", false, [](QMessageBox& box) { box.close(); }, 2},
             {"second", false, click("Вставить токен вручную…"), 1},
             {"keys unrequested", true, heldBack, 0},
             {"click unrequested", true, click("Вставить токен вручную…"), 1}}) {
        whenOpen(act);
        alert.unrequested = unrequested;
        EXPECT_EQ(runMessageBox(alert).button, expected) << how;
    }
}

// The token dialog: first button default, a focused 320×24 password field; empty, it takes a
// token from the clipboard when the box gets the keyboard or the clipboard changes, never
// replacing what it holds. It shows without activating, beside the browser; come back by itself,
// it keeps typing meant for the browser out of the field.
TEST(Alerts, TheTokenDialogHasAFocusedMaskedFieldThatTakesALateClipboard) {
    const auto token = [](const std::string& s) {
        return s.starts_with("orvela_") ? std::optional(s) : std::nullopt;
    };
    Alert alert;
    alert.buttons = {"Подключить", "Открыть настройки ORVELA", "Позже"};
    alert.field = SecureField{"orvela_…", "orvela_prefilled", token};
    alert.withoutFocus = alert.unrequested = true;
    QClipboard* clipboard = QGuiApplication::clipboard();
    clipboard->setText("orvela_there");
    whenOpen([clipboard](QMessageBox& box) {
        EXPECT_EQ(box.defaultButton()->text(), "Подключить");
        EXPECT_TRUE(box.testAttribute(Qt::WA_ShowWithoutActivating));
        auto* field = box.findChild<QLineEdit*>(kAlertFieldName);
        ASSERT_NE(field, nullptr);
        EXPECT_EQ(std::pair(field->echoMode(), field->size()),
                  std::pair(QLineEdit::Password, QSize(320, 24)));
        EXPECT_EQ(field->placeholderText() + " " + field->text(), "orvela_… orvela_prefilled");
        EXPECT_EQ(box.focusWidget(), field);
        press(Qt::Key_Z, false, "z")(box);
        EXPECT_EQ(field->text(), "orvela_prefilled") << "typing went into a fresh field";
        field->clear();
        QEvent activated(QEvent::WindowActivate);
        QApplication::sendEvent(&box, &activated);
        EXPECT_EQ(field->text(), "orvela_there") << "not read on focus";
        field->clear();
        // What arrives on the clipboard, and what the field holds after it.
        for (const auto& [copied, held] : std::vector<std::pair<QString, QString>>{
                 {"a note", ""}, {"orvela_copied", "orvela_copied"}, {"orvela_2", "orvela_copied"}})
            EXPECT_EQ((clipboard->setText(copied), field->text()), held) << copied.toStdString();
        click("Открыть настройки ORVELA")(box);
    });
    const AlertAnswer answer = runMessageBox(alert);
    EXPECT_EQ(std::pair(answer.button, answer.fieldText),
              std::pair(1, std::string("orvela_copied")));
    clipboard->clear();
}

}  // namespace
}  // namespace orvela::qt
