#include "support/fake_platform.hpp"

#include <algorithm>
#include <stdexcept>

namespace orvela::test {

std::optional<std::string> SentRequest::header(const std::string& name) const {
    for (const auto& [key, value] : request.headers)
        if (key == name) return value;
    return std::nullopt;
}

void FakePlatform::schedule(double delayS, std::function<void()> callback, double repeatS) {
    scheduled_.push_back(
        {monotonicS_ + std::max(0.0, delayS), nextSeq_++, std::move(callback), repeatS});
}

void FakePlatform::advance(double seconds) {
    const double endS = monotonicS_ + std::max(0.0, seconds);
    for (;;) {
        auto next = std::min_element(scheduled_.begin(), scheduled_.end(),
                                     [](const Scheduled& a, const Scheduled& b) {
                                         return a.dueS != b.dueS ? a.dueS < b.dueS : a.seq < b.seq;
                                     });
        if (next == scheduled_.end() || next->dueS > endS) break;
        Scheduled due = std::move(*next);
        scheduled_.erase(next);
        // Both clocks move together while the machine is awake.
        wallMs_ += (due.dueS - monotonicS_) * 1000.0;
        monotonicS_ = due.dueS;
        if (due.repeatS > 0)
            scheduled_.push_back({due.dueS + due.repeatS, nextSeq_++, due.callback, due.repeatS});
        due.callback();
    }
    wallMs_ += (endS - monotonicS_) * 1000.0;
    monotonicS_ = endS;
}

void FakePlatform::startRepeatingTimer(double intervalSeconds, std::function<void()> callback) {
    if (!(intervalSeconds > 0))
        throw std::invalid_argument("repeating timer needs a positive interval");
    schedule(intervalSeconds, std::move(callback), intervalSeconds);
}

void FakePlatform::send(const HttpRequest& request, std::function<void(HttpResponse)> done) {
    requests.push_back({request, std::move(done), false});
    const std::size_t index = requests.size() - 1;
    for (auto it = scripts_.rbegin(); it != scripts_.rend(); ++it) {
        if (it->method != request.method || !request.url.ends_with(it->urlSuffix) || it->times == 0)
            continue;
        if (it->times > 0) --it->times;
        HttpResponse response = it->response;
        runAfter(0, [this, index, response] { answer(index, response); });
        return;
    }
}

void FakePlatform::answer(std::size_t index, HttpResponse response) {
    SentRequest& sent = requests.at(index);
    if (sent.answered) throw std::logic_error("request answered twice");
    sent.answered = true;
    auto done = sent.done;  // the callback may send more requests and grow the vector
    done(std::move(response));
}

std::vector<std::size_t> FakePlatform::pendingRequests() const {
    std::vector<std::size_t> pending;
    for (std::size_t i = 0; i < requests.size(); ++i)
        if (!requests[i].answered) pending.push_back(i);
    return pending;
}

void FakePlatform::download(const HttpRequest& request, std::function<void(DownloadResult)> done) {
    if (downloadHandler) {
        DownloadResult result = downloadHandler(request);
        runAfter(0, [done, result] { done(result); });
        return;
    }
    downloads.push_back({request, std::move(done)});
}

StatusItem* FakePlatform::createStatusItem() {
    if (!statusItem_) statusItem_ = std::make_unique<FakeStatusItem>();
    return statusItem_.get();
}

AlertAnswer FakePlatform::runAlert(const Alert& alert) {
    alerts.push_back(alert);
    if (whileAlertOpen) whileAlertOpen(alert);
    if (alertAnswers.empty())
        return AlertAnswer{static_cast<int>(alert.buttons.empty() ? 0 : alert.buttons.size() - 1),
                           alert.field ? alert.field->text : std::string()};
    const AlertAnswer answer = alertAnswers.front();
    alertAnswers.pop_front();
    return answer;
}

std::vector<MenuItem> FakePlatform::openMenu() {
    std::vector<MenuItem> items;
    if (statusItem_ && statusItem_->delegate) statusItem_->delegate->menuNeedsUpdate(items);
    return items;
}

void FakePlatform::choose(const MenuItem& item) {
    if (statusItem_ && statusItem_->delegate) statusItem_->delegate->menuItemChosen(item);
}

std::optional<std::string> FakePlatform::registerLoginItem() {
    if (!loginItemError) loginStatus = LoginItemStatus::Enabled;
    return loginItemError;
}

std::optional<std::string> FakePlatform::unregisterLoginItem() {
    if (!loginItemError) loginStatus = LoginItemStatus::NotRegistered;
    return loginItemError;
}

std::optional<std::string> FakePlatform::userDefault(const std::string& key) {
    return userDefaults.contains(key) ? std::optional(userDefaults.at(key)) : std::nullopt;
}

std::optional<std::string> FakePlatform::bundleInfo(const std::string& key) {
    return bundle.contains(key) ? std::optional(bundle.at(key)) : std::nullopt;
}

ProcessResult FakePlatform::runAndWait(const std::string& path,
                                       const std::vector<std::string>& arguments) {
    processRuns.push_back({path, arguments, {}});
    return runHandler ? runHandler(path, arguments) : ProcessResult{0, {}};
}

std::optional<std::string> FakePlatform::launchDetached(
    const std::string& path, const std::vector<std::string>& arguments,
    const std::map<std::string, std::string>& environment) {
    if (launchError) return launchError;
    detachedLaunches.push_back({path, arguments, environment});
    return std::nullopt;
}

}  // namespace orvela::test
