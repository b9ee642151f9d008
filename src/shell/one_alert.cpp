// One alert at a time (see App::runAlert).
#include "shell/app.hpp"

namespace orvela {

AlertAnswer App::runAlert(const Alert& alert) {
    // Restored rather than cleared, should an alert ever open inside another after all.
    const bool outer = alertOpen;
    alertOpen = true;
    const AlertAnswer answer = platform_.runAlert(alert);
    alertOpen = outer;
    return answer;
}

bool App::waitForOpenAlert(std::function<void(App&)> show) {
    if (!alertOpen) return false;
    platform_.runAfter(kAlertRetrySeconds, [show = std::move(show)] {
        if (App::shared) show(*App::shared);
    });
    return true;
}

bool App::opensAlert(MenuAction action) {
    switch (action) {
        case MenuAction::Connect:
        case MenuAction::AskToken:
        case MenuAction::Disconnect:
        case MenuAction::InstallUpdate:
            return true;
        default:
            return false;
    }
}

}  // namespace orvela
