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
#include "qt_wait.hpp"

namespace orvela::qt {
namespace {

// Runs `answer` on the next modal message box once it is on screen.
void whenAlertOpens(std::function<void(QMessageBox&)> answer) {
    auto* poll = new QTimer;
    poll->setInterval(10);
    QObject::connect(poll, &QTimer::timeout, [poll, answer] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box || !box->isVisible()) return;
        poll->stop();
        poll->deleteLater();
        answer(*box);
    });
    poll->start();
}

QPushButton* buttonTitled(QMessageBox& box, const QString& title) {
    for (QAbstractButton* button : box.buttons())
        if (button->text() == title) return qobject_cast<QPushButton*>(button);
    return nullptr;
}

Alert tokenDialog() {
    Alert alert;
    alert.message = "Подключите ORVELA";
    alert.informative = "<b>not markup</b>";
    alert.style = AlertStyle::Informational;
    alert.buttons = {"Подключить", "Открыть настройки ORVELA", "Позже"};
    alert.field = SecureField{"orvela_…", "orvela_prefilled"};
    return alert;
}

TEST(Alerts, TheTokenDialogShowsAFocusedMaskedFieldAndReportsTheButtonAndText) {
    bool inspected = false;
    whenAlertOpens([&](QMessageBox& box) {
        inspected = true;
        EXPECT_EQ(box.icon(), QMessageBox::Information);
        EXPECT_EQ(box.text(), QString::fromUtf8("Подключите ORVELA"));
        EXPECT_EQ(box.textFormat(), Qt::PlainText);
        ASSERT_EQ(box.buttons().size(), 3);
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
        // The field sits above the buttons.
        EXPECT_LT(field->mapTo(&box, QPoint(0, 0)).y(),
                  box.defaultButton()->mapTo(&box, QPoint(0, 0)).y());
        field->setText("orvela_typed");
        buttonTitled(box, QString::fromUtf8("Открыть настройки ORVELA"))->click();
    });
    const AlertAnswer answer = runMessageBox(tokenDialog());
    EXPECT_TRUE(inspected);
    EXPECT_EQ(answer.button, 1);
    EXPECT_EQ(answer.fieldText, "orvela_typed");
}

TEST(Alerts, EnterPressesTheFirstButtonAndClosingCountsAsTheLast) {
    Alert prompt;
    prompt.message = "Подключите ORVELA";
    prompt.buttons = {"Войти через браузер", "Вставить токен вручную…", "Позже"};

    struct Case {
        const char* how;
        std::function<void(QMessageBox&)> act;
        int expected;
    };
    auto key = [](QMessageBox& box, Qt::Key k) {
        QKeyEvent press(QEvent::KeyPress, k, Qt::NoModifier);
        QApplication::sendEvent(box.focusWidget() ? box.focusWidget() : &box, &press);
    };
    const std::vector<Case> cases = {
        {"Enter", [&](QMessageBox& box) { key(box, Qt::Key_Return); }, 0},
        {"Escape", [&](QMessageBox& box) { key(box, Qt::Key_Escape); }, 2},
        {"window closed", [](QMessageBox& box) { box.close(); }, 2},
        {"third button",
         [](QMessageBox& box) { buttonTitled(box, QString::fromUtf8("Позже"))->click(); }, 2},
    };
    for (const Case& c : cases) {
        whenAlertOpens([&](QMessageBox& box) {
            EXPECT_EQ(box.icon(), QMessageBox::Warning);
            EXPECT_EQ(box.findChild<QLineEdit*>(kAlertFieldName), nullptr);
            c.act(box);
        });
        EXPECT_EQ(runMessageBox(prompt).button, c.expected) << c.how;
    }

    // Without buttons the alert still has one to press.
    Alert notice;
    notice.message = "Обновление";
    whenAlertOpens([](QMessageBox& box) {
        ASSERT_EQ(box.buttons().size(), 1);
        box.buttons().front()->click();
    });
    EXPECT_EQ(runMessageBox(notice).button, 0);
}

}  // namespace
}  // namespace orvela::qt
