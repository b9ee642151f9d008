// The core's menu model rendered into a QMenu, for the XEmbed tray where no StatusNotifierItem
// host runs.
#pragma once

#include <functional>
#include <vector>

#include "shell/platform/platform.hpp"

class QMenu;
class QString;

namespace orvela::qt {

// `text` as a tooltip that shows it as it is. Qt renders a tooltip as rich text whenever it looks
// like some (Qt::mightBeRichText): a title "<b>x</b>" would turn bold and "x &amp; y" would read
// "x & y". Such a text is converted to the rich text that shows it literally, line breaks and
// blanks kept; any other stays as it is.
QString plainToolTip(const QString& text);

// Empties `menu` (submenus from an earlier fill included) and fills it from `items`. Triggering
// an action calls `chosen` with a copy of its item, so a later refill cannot pull it away.
void fillMenu(QMenu* menu, const std::vector<MenuItem>& items,
              const std::function<void(const MenuItem&)>& chosen);

}  // namespace orvela::qt
