// Alerts run offscreen, answered by a timer the way a user would answer them.
#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <functional>

#include "alerts.hpp"

namespace orvela::qt {
namespace {

using Act = std::function<void(QMessageBox&)>;

// Runs `answer` on the next modal message box once it is on screen.
void whenAlertOpens(Act answer) {
    QTimer::singleShot(10, [answer] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box && box->isVisible()) return answer(*box);
        whenAlertOpens(answer);
    });
}

Act click(const char* title) {
    return [title](QMessageBox& box) {
        for (QAbstractButton* button : box.buttons())
            if (button->text() == QString::fromUtf8(title)) return button->click();
        ADD_FAILURE() << "no button " << title;
        box.close();
    };
}

Act press(Qt::Key key) {
    return [key](QMessageBox& box) {
        QKeyEvent event(QEvent::KeyPress, key, Qt::NoModifier);
        QApplication::sendEvent(box.focusWidget() ? box.focusWidget() : &box, &event);
    };
}

// The answer is the button's position as given: Enter is the first, Escape and closing the
// window the last; an alert given no buttons still has one to press.
TEST(Alerts, AnswersTheButtonPositionAndClosingCountsAsTheLast) {
    Alert prompt, bare;
    prompt.buttons = {"Войти через браузер", "Вставить токен вручную…", "Позже"};
    const std::vector<std::tuple<const char*, Alert, Act, int>> cases = {
        {"Enter", prompt, press(Qt::Key_Return), 0},
        {"Escape", prompt, press(Qt::Key_Escape), 2},
        {"closed", prompt, [](QMessageBox& box) { box.close(); }, 2},
        {"second", prompt, click("Вставить токен вручную…"), 1},
        {"third", prompt, click("Позже"), 2},
        {"no buttons", bare, click("OK"), 0},
    };
    for (const auto& [how, alert, act, expected] : cases) {
        whenAlertOpens([&](QMessageBox& box) {
            EXPECT_EQ(box.icon(), QMessageBox::Warning) << how;
            EXPECT_EQ(box.buttons().size(), std::max<qsizetype>(1, alert.buttons.size())) << how;
            EXPECT_EQ(box.findChild<QLineEdit*>(kAlertFieldName), nullptr) << how;
            act(box);
        });
        EXPECT_EQ(runMessageBox(alert).button, expected) << how;
    }
}

// The token dialog: text never read as markup, the first button default, and a focused 320×24
// password field above the buttons with placeholder and pre-filled text; what is typed comes back.
TEST(Alerts, TheTokenDialogHasAFocusedMaskedFieldAboveTheButtons) {
    const Alert alert{.message = "<b>Подключите</b> ORVELA",
                      .informative = "<i>not markup</i>",
                      .style = AlertStyle::Informational,
                      .buttons = {"Подключить", "Открыть настройки ORVELA", "Позже"},
                      .field = SecureField{"orvela_…", "orvela_prefilled"}};
    whenAlertOpens([&](QMessageBox& box) {
        EXPECT_EQ(box.icon(), QMessageBox::Information);
        EXPECT_EQ(box.textFormat(), Qt::PlainText);
        ASSERT_NE(box.defaultButton(), nullptr);
        EXPECT_EQ(box.defaultButton()->text(), QString::fromUtf8("Подключить"));
        auto* field = box.findChild<QLineEdit*>(kAlertFieldName);
        ASSERT_NE(field, nullptr);
        EXPECT_TRUE(field->isVisible());
        EXPECT_EQ(field->echoMode(), QLineEdit::Password);
        EXPECT_EQ(field->size(), QSize(320, 24));
        EXPECT_EQ(field->placeholderText(), QString::fromUtf8("orvela_…"));
        EXPECT_EQ(field->text(), "orvela_prefilled");
        EXPECT_EQ(box.focusWidget(), field);
        EXPECT_LT(field->mapTo(&box, QPoint(0, 0)).y(),
                  box.defaultButton()->mapTo(&box, QPoint(0, 0)).y());
        field->setText("orvela_typed");
        click("Открыть настройки ORVELA")(box);
    });
    const AlertAnswer answer = runMessageBox(alert);
    EXPECT_EQ(answer.button, 1);
    EXPECT_EQ(answer.fieldText, "orvela_typed");
}

}  // namespace
}  // namespace orvela::qt
