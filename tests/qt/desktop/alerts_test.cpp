// Alerts run offscreen, answered by a timer the way a user would answer them.
#include <gtest/gtest.h>

#include <QApplication>
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

Act press(Qt::Key key) {
    return [key](QMessageBox& box) {
        QKeyEvent event(QEvent::KeyPress, key, Qt::NoModifier);
        QApplication::sendEvent(box.focusWidget() ? box.focusWidget() : &box, &event);
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

// The token dialog: first button default, a focused 320×24 password field; typing comes back.
TEST(Alerts, TheTokenDialogHasAFocusedMaskedField) {
    Alert alert;
    alert.buttons = {"Подключить", "Открыть настройки ORVELA", "Позже"};
    alert.field = SecureField{"orvela_…", "orvela_prefilled"};
    whenOpen([](QMessageBox& box) {
        ASSERT_NE(box.defaultButton(), nullptr);
        EXPECT_EQ(box.defaultButton()->text(), "Подключить");
        auto* field = box.findChild<QLineEdit*>(kAlertFieldName);
        ASSERT_NE(field, nullptr);
        EXPECT_EQ(std::pair(field->echoMode(), field->size()),
                  std::pair(QLineEdit::Password, QSize(320, 24)));
        EXPECT_EQ(field->placeholderText() + " " + field->text(), "orvela_… orvela_prefilled");
        EXPECT_EQ(box.focusWidget(), field);
        field->setText("orvela_typed");
        click("Открыть настройки ORVELA")(box);
    });
    const AlertAnswer answer = runMessageBox(alert);
    EXPECT_EQ(std::pair(answer.button, answer.fieldText),
              std::pair(1, std::string("orvela_typed")));
}

}  // namespace
}  // namespace orvela::qt
