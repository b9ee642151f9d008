#include "alerts.hpp"

#include <QAbstractButton>
#include <QApplication>
#include <QClipboard>
#include <QDialogButtonBox>
#include <QElapsedTimer>
#include <QGridLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <set>
#include <vector>

#include "activation_token.hpp"

namespace orvela::qt {

namespace {

// The most clipboard text looked at for the field: far beyond any token, even padded.
constexpr qsizetype kClipboardLimit = 64 * 1024;

bool pressesAButton(const QKeyEvent& key) {
    const int code = key.key();
    return code == Qt::Key_Return || code == Qt::Key_Enter || code == Qt::Key_Space;
}

// What a fresh unrequested alert holds back: the keys that press a button, and typing that would
// land in its field.
bool guarded(const QKeyEvent& key) {
    if (pressesAButton(key)) return true;
    const QString text = key.text();
    return !(key.modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier)) &&
           !text.isEmpty() && text.front().isPrint();
}

// Watches the box's events from the application (keys go to whichever of its widgets has the
// focus, then to their parents): holds back the keys that press a button or type while the
// alert is fresh, and tells when the box gets the keyboard. Fresh means shown, or last typed into,
// less than kAlertKeyGuardMs ago: a desktop that gives a new window the keyboard (GNOME on Wayland
// does, token or not) sends it the rest of what the user was typing elsewhere, Return included.
class AlertWatch : public QObject {
public:
    AlertWatch(QMessageBox& box, bool guardKeys, std::function<void()> activated)
        : box_(box), guardKeys_(guardKeys), activated_(std::move(activated)) {
        quiet_.start();
        qApp->installEventFilter(this);
    }
    ~AlertWatch() override { qApp->removeEventFilter(this); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::WindowActivate && watched == &box_) {
            activated_();
            return false;
        }
        if (!guardKeys_) return false;
        const QEvent::Type type = event->type();
        if (type != QEvent::KeyPress && type != QEvent::KeyRelease &&
            type != QEvent::ShortcutOverride)
            return false;
        auto* widget = qobject_cast<QWidget*>(watched);
        if (!widget || (widget != &box_ && !box_.isAncestorOf(widget))) return false;
        const auto* key = static_cast<QKeyEvent*>(event);
        if (type == QEvent::KeyRelease) {
            // A release goes the way its press went; typing is measured from releases, which
            // pass each widget on the way up at the same moment.
            const bool held = heldBack_.erase(key->key()) > 0;
            if (!settled_ && !key->isAutoRepeat()) quiet_.restart();
            return held;
        }
        // The first key after a quiet second is the user's own: from then on the keyboard works.
        if (!key->isAutoRepeat() && quiet_.elapsed() >= kAlertKeyGuardMs) settled_ = true;
        const bool hold =
            (key->isAutoRepeat() && pressesAButton(*key)) || (!settled_ && guarded(*key));
        if (hold && type == QEvent::KeyPress) heldBack_.insert(key->key());
        return hold;
    }

private:
    QMessageBox& box_;
    const bool guardKeys_;
    std::function<void()> activated_;
    QElapsedTimer quiet_;
    bool settled_ = false;
    std::set<int> heldBack_;
};

// Puts the field between the texts and the buttons. QMessageBox rebuilds its grid whenever a
// text or the icon changes, so this runs last, once everything else is set.
void placeField(QMessageBox& box, QLineEdit* field) {
    auto* grid = qobject_cast<QGridLayout*>(box.layout());
    auto* buttons = box.findChild<QDialogButtonBox*>();
    const int index = grid && buttons ? grid->indexOf(buttons) : -1;
    if (index < 0) {
        // An unexpected layout: keep the field usable rather than lose it.
        if (box.layout()) box.layout()->addWidget(field);
        return;
    }
    int row = 0, column = 0, rowSpan = 0, columnSpan = 0;
    grid->getItemPosition(index, &row, &column, &rowSpan, &columnSpan);
    grid->removeWidget(buttons);
    // The texts' column: the last one, after the icon and its spacer.
    grid->addWidget(field, row, grid->columnCount() - 1, 1, 1, Qt::AlignLeft);
    grid->addWidget(buttons, row + 1, column, rowSpan, columnSpan);
}

}  // namespace

AlertAnswer runMessageBox(const Alert& alert, const std::optional<std::string>& activationToken) {
    QMessageBox box;
    box.setWindowTitle(QStringLiteral("ORVELA Timer"));
    box.setIcon(alert.style == AlertStyle::Warning ? QMessageBox::Warning
                                                   : QMessageBox::Information);
    // Texts may carry what the service sent (task titles, errors): never read them as markup.
    box.setTextFormat(Qt::PlainText);
    box.setText(QString::fromStdString(alert.message));
    box.setInformativeText(QString::fromStdString(alert.informative));
    if (auto* informative = box.findChild<QLabel*>(QStringLiteral("qt_msgbox_informativelabel")))
        informative->setTextFormat(Qt::PlainText);

    std::vector<std::string> titles = alert.buttons;
    // An alert without buttons gets the platform's single default one.
    if (titles.empty()) titles.push_back("OK");
    std::vector<QPushButton*> buttons;
    for (std::size_t i = 0; i < titles.size(); ++i) {
        // The first accepts and the last (the one that does nothing) rejects, so Enter and
        // Escape mean what they should; the answer is told by pointer, not by role.
        const auto role = i == 0                   ? QMessageBox::AcceptRole
                          : i + 1 == titles.size() ? QMessageBox::RejectRole
                                                   : QMessageBox::ActionRole;
        buttons.push_back(box.addButton(QString::fromStdString(titles[i]), role));
    }
    box.setDefaultButton(buttons.front());
    box.setEscapeButton(buttons.back());

    QPointer<QLineEdit> field;
    if (alert.field) {
        field = new QLineEdit(&box);
        field->setObjectName(QLatin1String(kAlertFieldName));
        field->setEchoMode(QLineEdit::Password);
        field->setFixedSize(320, 24);
        field->setPlaceholderText(QString::fromStdString(alert.field->placeholder));
        field->setText(QString::fromStdString(alert.field->text));
        placeField(box, field);
        // After setDefaultButton, which takes the focus for the button.
        field->setFocus(Qt::OtherFocusReason);
    }

    // A field still empty takes what the clipboard offers, once the box has the keyboard (a
    // Wayland client is shown the clipboard only then) and whenever the clipboard changes.
    const auto fill = [&field, &alert] {
        if (!field || !field->text().isEmpty() || !alert.field->fromClipboard) return;
        const QString text = QGuiApplication::clipboard()->text();
        if (text.isEmpty() || text.size() > kClipboardLimit) return;
        if (auto taken = alert.field->fromClipboard(text.toStdString()))
            field->setText(QString::fromStdString(*taken));
    };
    if (field) QObject::connect(QGuiApplication::clipboard(), &QClipboard::dataChanged, &box, fill);
    const AlertWatch watch(box, alert.unrequested, fill);

    if (alert.withoutFocus) {
        // Beside the window the user is in, not over it: the desktop may still decide.
        box.setAttribute(Qt::WA_ShowWithoutActivating);
        box.show();
    } else {
        // The app has no window of its own: bring the alert itself to the front, with the
        // click's activation where there is one (Qt's Wayland platform reads it as it asks).
        const ActivationEnvironment activation(activationToken);
        box.show();
        box.raise();
        box.activateWindow();
        // Shown: what the click started is there (X11 shows a busy cursor until told).
        if (activationToken) completeStartup(*activationToken);
    }
    fill();
    box.exec();

    AlertAnswer answer;
    answer.button = static_cast<int>(buttons.size()) - 1;
    QAbstractButton* pressed = box.clickedButton();
    for (std::size_t i = 0; i < buttons.size(); ++i) {
        if (buttons[i] == pressed) answer.button = static_cast<int>(i);
    }
    if (field) answer.fieldText = field->text().toStdString();
    return answer;
}

}  // namespace orvela::qt
