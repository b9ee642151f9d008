// The activation token a panel hands over with a click (StatusNotifierItem's
// ProvideXdgActivationToken): the desktop's leave for whatever that click starts to come to the
// front. GNOME's AppIndicator extension and Plasma send one just before the click itself, for
// the item and for each chosen menu entry.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace orvela::qt {

// Keeps the last token for the action the same click starts: used once, and forgotten a few
// seconds after it came, so that a later action nobody clicked for never gets it.
class ActivationTokens {
public:
    // Longer than any desktop's token (GNOME's startup ids and KWin's are well under 200 bytes).
    static constexpr std::size_t kMaxBytes = 1024;
    // The click's own action takes it on the next turn of the loop, milliseconds later; an
    // unused token keeps the desktop's busy cursor turning until it is ended (GNOME gives up
    // after 15 s), so it does not wait long.
    static constexpr double kLifetimeSeconds = 0.5;

    // `monotonicSeconds` reads a clock that never jumps; `dropped` is told of each token that
    // went unused (replaced, or past its lifetime), so that its startup can be ended.
    explicit ActivationTokens(std::function<double()> monotonicSeconds,
                              std::function<void(const std::string&)> dropped = {});

    // Replaces the kept token. Text that is no token (empty, too long, not UTF-8, with white
    // space or control characters: it goes into child processes' environments) is ignored, and
    // the token of an earlier click is dropped all the same: it belongs to another action.
    void provide(std::string_view token);
    // The kept token, once; nothing once taken or past its lifetime.
    std::optional<std::string> take();
    // Drops the kept token if its lifetime is over (the owner asks when it may be).
    void expire();

    static bool acceptable(std::string_view token);

private:
    void drop();

    std::function<double()> clock_;
    std::function<void(const std::string&)> dropped_;
    std::optional<std::string> token_;
    double providedAt_ = 0;
};

// Ends the startup a token stands for where the desktop shows one (X11's startup notification,
// GNOME's gtk_shell1 on Wayland: the busy cursor stops); nothing elsewhere. For a token nothing
// will use, or one that activated a window that shows no startup id.
void completeStartup(const std::string& token);

// For the life of the object: XDG_ACTIVATION_TOKEN (Wayland's xdg-activation, read by Qt's
// Wayland platform when a window asks to be activated, and by programs started now) and, on
// X11, DESKTOP_STARTUP_ID set to `token`; afterwards both are as they were. Nothing without a
// token. Only for what starts or activates synchronously inside that life.
class ActivationEnvironment {
public:
    explicit ActivationEnvironment(const std::optional<std::string>& token);
    ~ActivationEnvironment();
    ActivationEnvironment(const ActivationEnvironment&) = delete;
    ActivationEnvironment& operator=(const ActivationEnvironment&) = delete;

private:
    struct Saved {
        const char* name;
        std::optional<std::string> value;
    };
    Saved saved_[2] = {{"XDG_ACTIVATION_TOKEN", {}}, {"DESKTOP_STARTUP_ID", {}}};
    int count_ = 0;  // how many of saved_ were set
};

}  // namespace orvela::qt
