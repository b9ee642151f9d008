// The real Qt backend behind a seam a test overrides piece by piece (the person at the desk, the
// process around the app). QtPlatform is final, so tests wrap it rather than derive from it.
#pragma once

#include <algorithm>

#include "qt_platform.hpp"

namespace orvela::test {

// clang-format off
#define ORVELA_FORWARD(Ret, name, Params, Args) Ret name Params override { return real_.name Args; }
// clang-format on

class ForwardingPlatform : public Platform {
public:
    using Environment = std::map<std::string, std::string>;  // one macro argument
    ORVELA_FORWARD(double, wallClockMs, (), ())
    ORVELA_FORWARD(double, monotonicSeconds, (), ())
    ORVELA_FORWARD(void, startRepeatingTimer, (double s, std::function<void()> f),
                   (s, std::move(f)))
    ORVELA_FORWARD(void, runAfter, (double s, std::function<void()> f), (s, std::move(f)))
    ORVELA_FORWARD(void, send, (const HttpRequest& r, std::function<void(HttpResponse)> f),
                   (r, std::move(f)))
    ORVELA_FORWARD(void, download, (const HttpRequest& r, std::function<void(DownloadResult)> f),
                   (r, std::move(f)))
    ORVELA_FORWARD(StatusItem*, createStatusItem, (), ())
    ORVELA_FORWARD(void, activateApp, (), ())
    ORVELA_FORWARD(AlertAnswer, runAlert, (const Alert& a), (a))
    ORVELA_FORWARD(std::optional<std::string>, clipboardText, (), ())
    ORVELA_FORWARD(void, requestNotificationAuthorisation, (), ())
    ORVELA_FORWARD(void, postNotification, (const Notification& n), (n))
    ORVELA_FORWARD(void, playSound, (const std::string& n), (n))
    ORVELA_FORWARD(void, openUrl, (const std::string& u), (u))
    ORVELA_FORWARD(void, setWakeHandler, (std::function<void()> f), (std::move(f)))
    ORVELA_FORWARD(std::optional<std::string>, computerName, (), ())
    ORVELA_FORWARD(LoginItemStatus, loginItemStatus, (), ())
    ORVELA_FORWARD(std::optional<std::string>, registerLoginItem, (), ())
    ORVELA_FORWARD(std::optional<std::string>, unregisterLoginItem, (), ())
    ORVELA_FORWARD(std::optional<std::string>, userDefault, (const std::string& k), (k))
    ORVELA_FORWARD(std::optional<std::string>, bundleInfo, (const std::string& k), (k))
    ORVELA_FORWARD(std::optional<std::string>, bundlePath, (), ())
    ORVELA_FORWARD(std::int64_t, processId, (), ())
    ORVELA_FORWARD(std::string, temporaryDirectory, (), ())
    ORVELA_FORWARD(std::string, homeDirectory, (), ())
    ORVELA_FORWARD(Environment, processEnvironment, (), ())
    ORVELA_FORWARD(ProcessResult, runAndWait,
                   (const std::string& p, const std::vector<std::string>& a), (p, a))
    ORVELA_FORWARD(std::optional<std::string>, launchDetached,
                   (const std::string& p, const std::vector<std::string>& a,
                    const std::map<std::string, std::string>& e),
                   (p, a, e))
    ORVELA_FORWARD(void, systemLog, (const std::string& l), (l))
    ORVELA_FORWARD(void, terminate, (), ())

protected:
    qt::QtPlatform real_;
};

#undef ORVELA_FORWARD

// The person at the desk, scripted: each alert is kept and answered with its first button named
// in `press`, else with the last (dismissing), so a surprise alert never hangs the run.
class ScriptedDesk : public ForwardingPlatform {
public:
    std::vector<std::string> press;
    std::vector<Alert> alerts;
    AlertAnswer runAlert(const Alert& alert) override {
        alerts.push_back(alert);
        const auto& b = alert.buttons;
        const auto it = std::find_first_of(b.begin(), b.end(), press.begin(), press.end());
        return {int(it == b.end() ? b.size() - 1 : it - b.begin()), {}};
    }
    void activateApp() override {}
};

}  // namespace orvela::test
