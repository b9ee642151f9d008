// The desktop backend: every platform operation the core asks for, on Qt 6 and freedesktop
// services. One thread: every callback runs from the Qt main loop.
#pragma once

#include <QObject>
#include <QTimer>
#include <memory>
#include <vector>

#include "shell/platform/platform.hpp"

namespace orvela::qt {

class HttpClient;
class DesktopNotifications;
class EventSounds;
class WakeWatcher;
class QtStatusItem;
class PanelPresence;
class GnomeExtensions;
class NoPlaceNotice;
class ActivationTokens;

class QtPlatform final : public Platform {
public:
    QtPlatform();
    ~QtPlatform() override;
    QtPlatform(const QtPlatform&) = delete;
    QtPlatform& operator=(const QtPlatform&) = delete;

    double wallClockMs() override;
    double monotonicSeconds() override;

    void startRepeatingTimer(double intervalSeconds, std::function<void()> callback) override;
    void runAfter(double delaySeconds, std::function<void()> callback) override;

    void send(const HttpRequest& request, std::function<void(HttpResponse)> done) override;
    void download(const HttpRequest& request, std::function<void(DownloadResult)> done) override;

    StatusItem* createStatusItem() override;

    void activateApp() override;
    AlertAnswer runAlert(const Alert& alert) override;
    std::optional<std::string> clipboardText() override;

    void requestNotificationAuthorisation() override;
    void postNotification(const Notification& notification) override;
    void playSound(const std::string& name) override;

    void openUrl(const std::string& url) override;
    void setWakeHandler(std::function<void()> handler) override;
    std::optional<std::string> computerName() override;

    LoginItemStatus loginItemStatus() override;
    std::optional<std::string> registerLoginItem() override;
    std::optional<std::string> unregisterLoginItem() override;

    std::optional<std::string> userDefault(const std::string& key) override;
    std::optional<std::string> bundleInfo(const std::string& key) override;
    std::optional<std::string> bundlePath() override;
    std::int64_t processId() override;
    std::string temporaryDirectory() override;
    std::string homeDirectory() override;
    std::map<std::string, std::string> processEnvironment() override;

    ProcessResult runAndWait(const std::string& path,
                             const std::vector<std::string>& arguments) override;
    std::optional<std::string> launchDetached(
        const std::string& path, const std::vector<std::string>& arguments,
        const std::map<std::string, std::string>& environment) override;

    void systemLog(const std::string& line) override;
    void terminate() override;

    // The notice shown while the desktop has no place for the status item; a second launch
    // handed over to this process repeats it (NoPlaceNotice::secondLaunch).
    NoPlaceNotice* noPlaceNotice() const { return noPlace_.get(); }
    PanelPresence* panelPresence() const { return presence_.get(); }

private:
    // Owns the timers and the delayed calls: they die with the platform, not after it.
    QObject context_;
    std::vector<std::unique_ptr<QTimer>> repeating_;
    std::unique_ptr<HttpClient> http_;
    std::unique_ptr<DesktopNotifications> notifications_;
    std::unique_ptr<EventSounds> sounds_;
    std::unique_ptr<WakeWatcher> wake_;
    std::unique_ptr<QtStatusItem> statusItem_;
    std::unique_ptr<PanelPresence> presence_;
    std::unique_ptr<GnomeExtensions> gnome_;
    std::unique_ptr<NoPlaceNotice> noPlace_;
    // The panel's activation token for the action its click starts (openUrl, runAlert).
    std::unique_ptr<ActivationTokens> tokens_;
};

}  // namespace orvela::qt
