// A platform with virtual time, for running the whole core in tests. Time moves only in
// advance(), which runs what falls due in order of due time (ties in order of scheduling).
// A scripted answer (respondTo) arrives on the next turn of the loop; a request without one stays
// pending until the test answers it, so answers can overlap and arrive in any order.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "shell/platform/platform.hpp"

namespace orvela::test {

class FakeStatusItem final : public StatusItem {
public:
    bool hasButton() const override { return button; }
    void setTitle(const std::vector<TitlePart>& parts) override { titles.push_back(parts); }
    void setTooltip(const std::string& tooltip) override { tooltips.push_back(tooltip); }
    void setCountdown(const std::optional<Countdown>& c) override { countdowns.push_back(c); }
    void setMenuDelegate(MenuDelegate* d) override { delegate = d; }
    void setMiddleClickHandler(std::function<void()> h) override { middleClick = std::move(h); }

    std::string tooltip() const { return tooltips.empty() ? std::string() : tooltips.back(); }

    bool button = true;
    std::vector<std::vector<TitlePart>> titles;        // every redraw, in order
    std::vector<std::string> tooltips;                 // every tooltip set, in order
    std::vector<std::optional<Countdown>> countdowns;  // every countdown set, in order
    MenuDelegate* delegate = nullptr;
    std::function<void()> middleClick;  // the host's middle click, as the app set it
};

struct SentRequest {
    HttpRequest request;
    std::function<void(HttpResponse)> done;
    bool answered = false;

    std::optional<std::string> header(const std::string& name) const;
};

class FakePlatform final : public Platform {
public:
    // ---------------------------------------------------------------- driving the loop
    // Moves virtual time forward, running everything that falls due on the way.
    void advance(double seconds);
    // Runs what is due now (answers scripted for requests just sent, zero delays).
    void runPending() { advance(0); }
    // Steps the wall clock, either way, without running timers or moving the monotonic clock (a
    // sleeping machine, a clock set by hand or by NTP).
    void jumpWallClock(double seconds) { wallMs_ += seconds * 1000.0; }
    void wake() {
        if (wakeHandler_) wakeHandler_();
    }

    // ---------------------------------------------------------------- HTTP scripting
    // Answers every later request whose method matches and whose URL ends with `urlSuffix`,
    // on the next turn of the loop. The newest matching script wins; `times` < 0: forever.
    void respondTo(const std::string& method, const std::string& urlSuffix, HttpResponse response,
                   int times = -1) {
        scripts_.push_back({method, urlSuffix, std::move(response), times});
    }
    void clearScripts() { scripts_.clear(); }
    // Answers a recorded request now (used for held-back requests).
    void answer(std::size_t index, HttpResponse response);
    std::vector<std::size_t> pendingRequests() const;
    static HttpResponse ok(std::string body, int status = 200) {
        return {true, status, std::move(body), {}};
    }
    static HttpResponse noAnswer() { return {false, 0, {}, "Connection refused"}; }

    // Answers for the next alerts, in order; without one, an alert is closed (last button).
    std::deque<AlertAnswer> alertAnswers;
    std::vector<Alert> alerts;
    // Runs while an alert is open, before it is answered: the main loop turning inside it.
    std::function<void(const Alert&)> whileAlertOpen;
    int activations = 0;  // activateApp() calls

    std::vector<MenuItem> openMenu();  // asks the delegate to build the model, as a host does
    void choose(const MenuItem& item);

    // ---------------------------------------------------------------- recordings and settings
    FakeStatusItem* statusItem() { return statusItem_.get(); }
    std::vector<SentRequest> requests;
    std::vector<Notification> notifications;
    std::vector<std::string> sounds;
    std::vector<std::string> openedUrls;
    std::vector<std::string> logLines;
    int terminations = 0;
    struct Launch {
        std::string path;
        std::vector<std::string> arguments;
        std::map<std::string, std::string> environment;
    };
    std::vector<Launch> detachedLaunches;
    std::vector<Launch> processRuns;
    std::function<ProcessResult(const std::string&, const std::vector<std::string>&)> runHandler;
    std::optional<std::string> launchError;

    std::optional<std::string> clipboard;
    std::optional<std::string> hostName = std::string("Test Computer");
    std::map<std::string, std::string> userDefaults;
    std::map<std::string, std::string> bundle{{"CFBundleShortVersionString", "1.0"},
                                              {"CFBundleVersion", "1"}};
    std::optional<std::string> bundleLocation;
    std::int64_t pid = 4242;
    std::string tempDir = "/tmp";
    std::string home = "/home/test";
    std::map<std::string, std::string> environment{{"HOME", "/home/test"}, {"LANG", "ru_RU.UTF-8"}};
    LoginItemStatus loginStatus = LoginItemStatus::NotRegistered;
    std::optional<std::string> loginItemError;

    // ---------------------------------------------------------------- Platform
    double wallClockMs() override { return wallMs_; }
    double monotonicSeconds() override { return monotonicS_; }
    void startRepeatingTimer(double intervalSeconds, std::function<void()> callback) override;
    void runAfter(double delaySeconds, std::function<void()> callback) override {
        schedule(delaySeconds, std::move(callback), 0);
    }
    void send(const HttpRequest& request, std::function<void(HttpResponse)> done) override;
    void download(const HttpRequest& request, std::function<void(DownloadResult)> done) override;
    StatusItem* createStatusItem() override;
    void activateApp() override { ++activations; }
    AlertAnswer runAlert(const Alert& alert) override;
    std::optional<std::string> clipboardText() override { return clipboard; }
    void requestNotificationAuthorisation() override {}
    void postNotification(const Notification& n) override { notifications.push_back(n); }
    void playSound(const std::string& name) override { sounds.push_back(name); }
    void openUrl(const std::string& url) override { openedUrls.push_back(url); }
    void setWakeHandler(std::function<void()> handler) override { wakeHandler_ = handler; }
    std::optional<std::string> computerName() override { return hostName; }
    LoginItemStatus loginItemStatus() override { return loginStatus; }
    std::optional<std::string> registerLoginItem() override;
    std::optional<std::string> unregisterLoginItem() override;
    std::optional<std::string> userDefault(const std::string& key) override;
    std::optional<std::string> bundleInfo(const std::string& key) override;
    std::optional<std::string> bundlePath() override { return bundleLocation; }
    std::int64_t processId() override { return pid; }
    std::string temporaryDirectory() override { return tempDir; }
    std::string homeDirectory() override { return home; }
    std::map<std::string, std::string> processEnvironment() override { return environment; }
    ProcessResult runAndWait(const std::string& path,
                             const std::vector<std::string>& arguments) override;
    std::optional<std::string> launchDetached(
        const std::string& path, const std::vector<std::string>& arguments,
        const std::map<std::string, std::string>& environment) override;
    void systemLog(const std::string& line) override { logLines.push_back(line); }
    void terminate() override { ++terminations; }

    // Downloads are answered like requests: scripted with this, or held in `downloads`.
    std::function<DownloadResult(const HttpRequest&)> downloadHandler;
    struct SentDownload {
        HttpRequest request;
        std::function<void(DownloadResult)> done;
    };
    std::vector<SentDownload> downloads;

private:
    struct Scheduled {
        double dueS;
        std::uint64_t seq;
        std::function<void()> callback;
        double repeatS;  // 0: once
    };
    struct Script {
        std::string method;
        std::string urlSuffix;
        HttpResponse response;
        int times;
    };
    void schedule(double delayS, std::function<void()> callback, double repeatS);

    double wallMs_ = 1796464800000.0;  // 2026-12-05 10:00:00 UTC: an ordinary, fixed start
    double monotonicS_ = 1000.0;
    std::uint64_t nextSeq_ = 0;
    std::vector<Scheduled> scheduled_;
    std::vector<Script> scripts_;
    std::function<void()> wakeHandler_;
    std::unique_ptr<FakeStatusItem> statusItem_;
};

}  // namespace orvela::test
