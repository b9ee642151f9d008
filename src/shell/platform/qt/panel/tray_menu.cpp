#include "tray_menu.hpp"

#include <QAction>
#include <QMenu>
#include <QString>
#include <QTextDocument>

namespace orvela::qt {

namespace {

// '&' marks a mnemonic in Qt; titles (agenda events, tasks) are shown as they are.
QString menuText(const std::string& title) {
    return QString::fromStdString(title).replace(QLatin1Char('&'), QStringLiteral("&&"));
}

}  // namespace

QString plainToolTip(const QString& text) {
    return Qt::mightBeRichText(text) ? Qt::convertFromPlainText(text, Qt::WhiteSpacePre) : text;
}

void fillMenu(QMenu* menu, const std::vector<MenuItem>& items,
              const std::function<void(const MenuItem&)>& chosen) {
    // clear() leaves submenus made by an earlier fill alive as children; they go too.
    const auto old = menu->findChildren<QMenu*>(Qt::FindDirectChildrenOnly);
    menu->clear();
    for (QMenu* sub : old) sub->deleteLater();
    menu->setToolTipsVisible(true);

    for (const MenuItem& item : items) {
        switch (item.kind) {
            case MenuItem::Kind::Separator:
                menu->addSeparator();
                continue;
            case MenuItem::Kind::SectionHeader:
                // A section's text is drawn as it is, without mnemonics (Fusion, the style the
                // bundle carries): "&&" there would show both ampersands.
                menu->addSection(QString::fromStdString(item.title));
                continue;
            case MenuItem::Kind::Item:
                break;
        }
        QAction* action = nullptr;
        if (item.submenu) {
            auto* sub = new QMenu(menuText(item.title), menu);
            fillMenu(sub, *item.submenu, chosen);
            action = menu->addMenu(sub);
        } else {
            action = menu->addAction(menuText(item.title));
            QObject::connect(action, &QAction::triggered, menu, [chosen, item] {
                if (chosen) chosen(item);
            });
        }
        action->setEnabled(item.enabled);
        if (!item.tooltip.empty())
            action->setToolTip(plainToolTip(QString::fromStdString(item.tooltip)));
        // No key beside the item: Qt delivers none to an open context menu (a shortcut of an
        // action in a QMenu counts only through a menu bar holding that menu), so Ctrl+Q
        // would be shown there and do nothing, as it does in Plasma's copy of our menu.
        if (item.action == MenuAction::ToggleLogin || item.checked) {
            action->setCheckable(true);
            action->setChecked(item.checked);
        }
    }
}

}  // namespace orvela::qt
