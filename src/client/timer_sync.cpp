// Keeping the local copy of the service's timer in step, and sending the user's commands.
//
// What the user sees about the connection is the pair (problem, loadedOnce): before the first
// usable answer every failure shows "no connection"; after it a lost connection is silent and
// the last known timer keeps counting down locally. Answers are applied in the order they
// arrive, whatever the order the requests went out in: the last answer decides.
//
// The continuations capture `this`; the App lives for the whole process and so outlives every
// request it starts.
#include "client/problems.hpp"
#include "shell/app.hpp"

namespace orvela {

namespace {

constexpr int kUnauthorized = 401;
constexpr int kConflict = 409;
}  // namespace

void App::fetch(std::function<void()> applied) {
    lastFetch = platform_.monotonicSeconds();
    // The file is authoritative: a token written or removed by anyone is noticed here.
    token = readToken();
    if (!token) {
        problem = kProblemNoToken;
        render();
        if (applied) applied();
        return;
    }
    ++timerFetchesInFlight;
    request("/api/ext/pomodoro", "GET", std::nullopt,
            [this, applied = std::move(applied)](int code, std::optional<Reply> reply) {
                --timerFetchesInFlight;
                apply(code, reply);
                if (applied) applied();
            });
}

void App::apply(int code, const std::optional<Reply>& reply) {
    if (code == 200 && reply) {
        // A decodable 200 is the truth about the timer, whatever its success flag says.
        problem.reset();
        loadedOnce = true;
        state = reply->state;
    } else if (code == kUnauthorized) {
        problem = kProblemTokenRefused;
    } else if (!loadedOnce) {
        problem = kProblemNoConnection;
    }
    render();
}

void App::act(const std::string& action) {
    // On the monotonic clock, as the announcer's quiet window after it is measured.
    lastAction = platform_.monotonicSeconds();
    // Counted until the answer is applied: commands from outside wait for it (shell/control.cpp).
    ++actionsInFlight;
    const auto settled = [this] { --actionsInFlight; };
    request("/api/ext/pomodoro/" + action, "POST", std::nullopt,
            [this, settled](int code, std::optional<Reply> reply) {
                // A conflict means our picture of the timer is stale: reload it instead, and
                // count the command as answered once the reload is applied.
                if (code == kConflict) return fetch(settled);
                apply(code, reply);
                settled();
            });
}

void App::pause() {
    act("pause");
}
void App::resume() {
    act("resume");
}
void App::skip() {
    act("skip");
}
void App::stop() {
    act("stop");
}
void App::extend() {
    act("extend");
}

}  // namespace orvela
