// The core's menu model rendered into a QMenu, for the XEmbed tray where no StatusNotifierItem
// host runs.
#pragma once

#include <functional>
#include <vector>

#include "shell/platform/platform.hpp"

class QMenu;

namespace orvela::qt {

// Empties `menu` (submenus from an earlier fill included) and fills it from `items`. Triggering
// an action calls `chosen` with a copy of its item, so a later refill cannot pull it away.
void fillMenu(QMenu* menu, const std::vector<MenuItem>& items,
              const std::function<void(const MenuItem&)>& chosen);

}  // namespace orvela::qt
