#include "shell/app.hpp"

#include <charconv>
#include <filesystem>

#include "model/clock.hpp"

namespace orvela {

const char* const kDefaultBaseUrl = ORVELA_DEFAULT_BASE_URL;

App* App::shared = nullptr;

std::int64_t parseBuildNumber(const std::optional<std::string>& raw) {
    if (!raw || raw->empty()) return 0;
    std::string_view digits = *raw;
    // A leading plus is a sign, as the platform's integer reading accepts it; a blank is not.
    if (digits.front() == '+') {
        digits.remove_prefix(1);
        if (digits.empty() || digits.front() == '-') return 0;
    }
    std::int64_t value = 0;
    const char* first = digits.data();
    const char* last = digits.data() + digits.size();
    auto [end, error] = std::from_chars(first, last, value);
    if (error != std::errc() || end != last) return 0;
    return value;
}

namespace {
std::string expandTokenPath(Platform& platform) {
    return (std::filesystem::path(platform.homeDirectory()) / ".config" / "orvela" / "token")
        .string();
}
}  // namespace

App::App(Platform& platform)
    : platform_(platform),
      base(platform.userDefault("OrvelaURL").value_or(kDefaultBaseUrl)),
      tokenPath(expandTokenPath(platform)),
      appVersion(platform.bundleInfo("CFBundleShortVersionString").value_or("?")),
      appBuild(parseBuildNumber(platform.bundleInfo("CFBundleVersion"))) {
    // Every Date and every nowMs() of the core reads the platform's clock.
    setClockSource([&platform] { return platform.wallClockMs(); });
}

App::~App() {
    setClockSource({});
    if (shared == this) shared = nullptr;
}

void App::applicationDidFinishLaunching() {
    item = platform_.createStatusItem();
    item->setMenuDelegate(this);
    item->setMiddleClickHandler([] {
        if (App::shared) App::shared->middleClicked();
    });
    platform_.requestNotificationAuthorisation();
    platform_.startRepeatingTimer(1.0, [] {
        if (App::shared) App::shared->tick();
    });
    platform_.setWakeHandler([] {
        if (!App::shared) return;
        App::shared->fetch();
        App::shared->fetchAgenda();
    });
    fetch();
    fetchAgenda();
    tick();
    // The tick above has already started a check (lastUpdateCheck began in the distant past),
    // so this one is the second; both apply the same manifest, and a release already on
    // offer is not announced twice.
    checkUpdates(false);
    // Without a token, offer to connect once the status item has had a moment to appear.
    if (!readToken()) {
        platform_.runAfter(0.5, [] {
            if (App::shared) App::shared->connect(false);
        });
    }
}

void App::tick() {
    // Periods on the monotonic clock (see Monotonic); what is shown stays on the wall clock.
    if (platform_.monotonicSeconds() - lastFetch >= pollEvery) fetch();
    if (platform_.monotonicSeconds() - lastAgendaFetch >= agendaEvery) fetchAgenda();
    if (platform_.monotonicSeconds() - lastUpdateCheck >= updateEvery) checkUpdates(false);
    render();
}

void App::refresh() {
    fetch();
    fetchAgenda();
}

void App::quit() {
    platform_.terminate();
}

}  // namespace orvela
