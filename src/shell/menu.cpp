#include "shell/app.hpp"

namespace orvela {

// The menu's items join with the account, menu and update work; until then it opens empty.
void App::menuNeedsUpdate(std::vector<MenuItem>& items) { items.clear(); }

void App::menuItemChosen(const MenuItem& item) {
    switch (item.action) {
        case MenuAction::Pause: pause(); break;
        case MenuAction::Resume: resume(); break;
        case MenuAction::Skip: skip(); break;
        case MenuAction::Stop: stop(); break;
        case MenuAction::Extend: extend(); break;
        case MenuAction::Refresh: refresh(); break;
        case MenuAction::Quit: quit(); break;
        default: break;
    }
}

}  // namespace orvela
