// Alerts run offscreen, answered by a timer the way a user would answer them.
#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QElapsedTimer>
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

Act press(Qt::Key key, bool autoRepeat = false) {
    return [key, autoRepeat](QMessageBox& box) {
        QWidget* target = box.focusWidget() ? box.focusWidget() : &box;
        for (QEvent::Type type : {QEvent::KeyPress, QEvent::KeyRelease}) {
            QKeyEvent event(type, key, Qt::NoModifier, QString(), autoRepeat);
            QApplication::sendEvent(target, &event);
        }
    };
}

// The answer is the button's position: Enter is the first, Escape and closing the window the last.
TEST(Alerts, AnswersTheButtonPositionAndClosingCountsAsTheLast) {
    Alert alert;
    alert.buttons = {"Войти через браузер", "Вставить токен вручную…", "Позже"};
    const std::vector<std::tuple<const char*, Act, int>> cases = {
        {"Enter", press(Qt::Key_Return), 0},
        {"Escape", press(Qt::Key_Escape), 2},
        {"closed", [](QMessageBox& box) { box.close(); }, 2},
        {"second", click("Вставить токен вручную…"), 1},
    };
    for (const auto& [how, act, expected] : cases) {
        whenOpen(act);
        EXPECT_EQ(runMessageBox(alert).button, expected) << how;
    }
}

// An alert that opened by itself: Return, Enter and Space (on the focused default button) do
// nothing in its first second, nor does a held key's repeat later; a click acts at once, and
// after that second Return presses the default.
TEST(Alerts, AnUnrequestedAlertHoldsBackTheKeysThatPressAButtonForASecond) {
    Alert alert;
    alert.buttons = {"Войти через браузер", "Вставить токен вручную…", "Позже"};
    alert.unrequested = true;
    whenOpen([](QMessageBox& box) {
        for (Qt::Key key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Space}) press(key)(box);
        EXPECT_TRUE(box.isVisible()) << "a key pressed a button at once";
        QTimer::singleShot(kAlertKeyGuardMs + 100, &box, [&box] {
            press(Qt::Key_Return, true)(box);
            EXPECT_TRUE(box.isVisible()) << "a held key's repeat pressed a button";
            press(Qt::Key_Return)(box);
        });
    });
    EXPECT_EQ(runMessageBox(alert).button, 0);
    whenOpen(click("Вставить токен вручную…"));
    EXPECT_EQ(runMessageBox(alert).button, 1);
}

// The token dialog: first button default, a focused 320×24 password field whose text comes
// back. Empty, it takes a token from the clipboard (by the core's rule) when the box gets the
// keyboard and whenever the clipboard changes, and never replaces what it holds. The dialog
// beside the browser shows without activating.
TEST(Alerts, TheTokenDialogHasAFocusedMaskedFieldThatTakesALateClipboard) {
    Alert alert;
    alert.buttons = {"Подключить", "Открыть настройки ORVELA", "Позже"};
    alert.field =
        SecureField{"orvela_…", "orvela_prefilled", [](const std::string& text) {
                        return text.starts_with("orvela_") ? std::optional(text) : std::nullopt;
                    }};
    alert.withoutFocus = true;
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
