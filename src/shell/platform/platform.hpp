// Every operation the core asks of the operating system, in the core's own terms.
//
// The core (model, client, account, shell, announce, update) reaches the desktop only through
// this interface. The Qt adapter implements it for real; tests use a fake with virtual time.
// Everything runs on one thread: every callback handed to the platform is invoked later on the
// main loop, never from inside the call that registered it and never from another thread.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace orvela {

// ---------------------------------------------------------------- status item

enum class TitleColour { None, Red, Green, Secondary };

struct TitlePart {
    std::string text;
    TitleColour colour = TitleColour::None;
    bool operator==(const TitlePart&) const = default;
};

// ---------------------------------------------------------------- menu model

// What a menu item does when chosen. The core routes it back to the App method of that name.
enum class MenuAction {
    None,
    Connect,
    AskToken,
    Disconnect,
    OpenLoginPage,
    CancelLogin,
    Pause,
    Resume,
    Skip,
    Stop,
    Extend,
    Refresh,
    Quit,
    CheckUpdatesNow,
    InstallUpdate,
    OpenPlanner,
    OpenAppsSettings,
    OpenDay,
    ToggleLogin,
};

struct MenuItem {
    enum class Kind { Item, Separator, SectionHeader };
    Kind kind = Kind::Item;
    std::string title;
    MenuAction action = MenuAction::None;
    std::string key;  // one lower-case letter; the adapter adds the platform's usual modifier
    bool enabled = true;
    bool checked = false;
    std::string tooltip;
    std::optional<std::string> represented;  // the represented object, when it is a text
    std::optional<std::vector<MenuItem>> submenu;

    bool operator==(const MenuItem&) const = default;
};

// The menu's owner: asked to fill the model each time the menu opens, told which item was chosen.
class MenuDelegate {
public:
    virtual ~MenuDelegate() = default;
    // Called just before the menu is shown; `items` arrives empty and is filled from scratch.
    virtual void menuNeedsUpdate(std::vector<MenuItem>& items) = 0;
    // Called on the main loop after the user chose an item of the last model built.
    virtual void menuItemChosen(const MenuItem& item) = 0;
};

// The time left of a running or paused phase, for an adapter that draws it into its icon (a
// square tray icon cannot hold the title). Plain numbers as the core has them: they may be
// huge or not finite, and the adapter bounds them before drawing.
struct Countdown {
    double leftSeconds = 0;   // as in the title's countdown, before rounding
    double phaseSeconds = 0;  // the whole phase's length
    bool rest = false;        // a break ("rest"), else work
    bool paused = false;
    bool operator==(const Countdown&) const = default;
};

// The single status item in the desktop's status bar (menu bar, system tray).
class StatusItem {
public:
    virtual ~StatusItem() = default;
    // False when the item cannot show a title at all; the title code then does nothing.
    virtual bool hasButton() const = 0;
    // Replaces the whole title. The core calls it only when the plain text changed.
    virtual void setTitle(const std::vector<TitlePart>& parts) = 0;
    // Set on every render, whether or not the title changed.
    virtual void setTooltip(const std::string& tooltip) = 0;
    // Called on every render, after the title and the tooltip: the timer's countdown while a
    // phase runs or is paused, nothing otherwise (finished, agenda, login, problem, idle). The
    // adapter redraws only what changed; one without an icon of its own may ignore it.
    virtual void setCountdown(const std::optional<Countdown>& countdown) = 0;
    // The delegate outlives the item (both belong to the App for the life of the process).
    virtual void setMenuDelegate(MenuDelegate* delegate) = 0;
    // A middle click on the item (where the host delivers one), reported on the main loop
    // after the click; the handler replaces any earlier one.
    virtual void setMiddleClickHandler(std::function<void()> handler) = 0;
};

// ---------------------------------------------------------------- HTTP

enum class CachePolicy { UseProtocolDefault, IgnoreLocalData };

// Every transfer is bounded in time and size, so that a service that trickles, never ends its
// answer or floods it can neither hold connections for ever nor fill the memory (or the disk).
// The core chooses the bounds per endpoint; the adapter enforces them. A transfer that passes
// either bound is abandoned at once, its connection closed, and reported like a timeout:
// transportOk false (for a download, an error and no file).
struct HttpRequest {
    std::string method = "GET";
    std::string url;
    std::vector<std::pair<std::string, std::string>> headers;  // exactly these, in order
    std::optional<std::string> body;
    double timeoutSeconds = 10.0;  // the longest the transfer may wait without receiving data
    CachePolicy cache = CachePolicy::UseProtocolDefault;
    // The longest the whole transfer may take, from sending to the last byte, however steadily
    // data arrives. Not a positive finite number: the adapter uses 30 s.
    double deadlineSeconds = 30.0;
    // The most body bytes the answer may have; one more and the transfer is abandoned.
    std::uint64_t maxBodyBytes = 1 << 20;
};

struct HttpResponse {
    bool transportOk = false;  // false: nothing usable came back (refused, timed out, TLS, ...)
    int status = 0;            // the HTTP status; 0 when there was no HTTP answer
    std::string body;          // the bytes exactly as received
    std::string error;         // the platform's description when transportOk is false
};

struct DownloadResult {
    std::optional<std::string> path;  // the downloaded file, present on success
    std::string error;                // the platform's description otherwise
};

// ---------------------------------------------------------------- alerts

enum class AlertStyle { Warning, Informational };

struct SecureField {
    std::string placeholder;
    std::string text;  // pre-filled text
    // What the field takes from the clipboard's plain text while it is still empty, or nothing.
    // The adapter asks again once the alert has the keyboard and whenever the clipboard changes:
    // a desktop may hand the clipboard only to a window that has the keyboard (Wayland), so the
    // text read before the alert opened can be empty. Absent: the clipboard is not read.
    std::function<std::optional<std::string>(const std::string& clipboard)> fromClipboard = {};
};

struct Alert {
    std::string message;
    std::string informative;
    AlertStyle style = AlertStyle::Warning;
    std::vector<std::string> buttons;  // in order of addition; the first is the default
    std::optional<SecureField> field;  // a masked single-line field of 320 x 24 with focus
    // The user did not just ask for this alert: it opened by itself (at a launch, after a wait
    // for the network or the browser). The keys that press a button (Return, Enter, Space) do
    // nothing for about its first second on screen, so typing meant for another window presses
    // none; a pointer click acts at once. Such an alert does not use the activation of the
    // click before it either.
    bool unrequested = false;
    // Appears without taking the keyboard from the window the user is in, where the desktop
    // allows it (the page the app has just opened for the user).
    bool withoutFocus = false;
};

struct AlertAnswer {
    int button = 0;         // position of the pressed button; closing counts as the last one
    std::string fieldText;  // what the field held when the alert closed
};

// ---------------------------------------------------------------- notifications

struct Notification {
    std::string identifier;  // a later notification with the same identifier replaces this one
    std::string title;
    std::string body;
    std::optional<std::string> sound;  // a sound name, or none for a silent notification
    bool operator==(const Notification&) const = default;
};

// ---------------------------------------------------------------- login item

enum class LoginItemStatus { Enabled, NotRegistered, RequiresApproval, NotFound };

// ---------------------------------------------------------------- processes

// A program that has not run to its end has no exit status: its work may be half done, and a
// status read from it (Qt's exitCode() reads 0) would pass that off as success.
struct ProcessResult {
    std::optional<int> exitStatus;  // present only when the program ran to its end
    std::string launchError;        // the platform's description when it could not be started
    // The app began to quit while waiting: the program was stopped before its end and the wait
    // given up. The caller abandons whatever the program was part of.
    bool stoppedByQuit = false;
};

// ---------------------------------------------------------------- the interface

class Platform {
public:
    virtual ~Platform() = default;

    // Clock. Wall-clock milliseconds since the Unix epoch with the fraction kept, and a
    // monotonic reading in seconds that never jumps (for measuring, not for display).
    virtual double wallClockMs() = 0;
    virtual double monotonicSeconds() = 0;

    // Main loop. The repeating timer keeps firing while a menu is open and is never stopped.
    virtual void startRepeatingTimer(double intervalSeconds, std::function<void()> callback) = 0;
    // Runs `callback` once, `delaySeconds` from now, on the main loop.
    virtual void runAfter(double delaySeconds, std::function<void()> callback) = 0;

    // HTTP. One client, the platform's default redirects, no cookies of our own. `done` is
    // called exactly once, later, on the main loop; any number of requests may be in flight.
    virtual void send(const HttpRequest& request, std::function<void(HttpResponse)> done) = 0;
    // Downloads the body to a file of the platform's choosing; the status is not examined.
    virtual void download(const HttpRequest& request, std::function<void(DownloadResult)> done) = 0;

    // Status item. Created once, at launch, and owned by the platform for the process's life.
    virtual StatusItem* createStatusItem() = 0;

    // Alerts. Brings the app to the front, ignoring other applications: the open alert, if any.
    virtual void activateApp() = 0;
    // Runs a modal alert; the main loop keeps turning (timers, network, the menu) until it is
    // answered. A requested alert uses the activation the desktop handed over with the click
    // that opened it (see openUrl).
    virtual AlertAnswer runAlert(const Alert& alert) = 0;

    // Clipboard: its plain text, if it holds any.
    virtual std::optional<std::string> clipboardText() = 0;

    // Notifications. Without a notification service these do nothing, silently.
    virtual void requestNotificationAuthorisation() = 0;
    virtual void postNotification(const Notification& notification) = 0;
    // Plays a named event sound; an unknown name plays nothing.
    virtual void playSound(const std::string& name) = 0;

    // Workspace. An invalid URL is never handed to the desktop and never crashes. When the
    // desktop handed over an activation token with the click that led here (and no alert used
    // it), the opened program gets it, so the browser may come to the front.
    virtual void openUrl(const std::string& url) = 0;
    // Called on the main loop after the computer woke from sleep.
    virtual void setWakeHandler(std::function<void()> handler) = 0;
    // The computer's user-visible name, when it has one.
    virtual std::optional<std::string> computerName() = 0;

    // Launch at login. Register and unregister return the platform's error text on failure.
    virtual LoginItemStatus loginItemStatus() = 0;
    virtual std::optional<std::string> registerLoginItem() = 0;
    virtual std::optional<std::string> unregisterLoginItem() = 0;

    // App information.
    virtual std::optional<std::string> userDefault(const std::string& key) = 0;
    // "CFBundleShortVersionString" (version) and "CFBundleVersion" (build), raw; and
    // "OrvelaReleasePublicKey", the base64 of the raw 32-byte Ed25519 key that signs this
    // build's successors, absent when the build carries none (all compiled in).
    virtual std::optional<std::string> bundleInfo(const std::string& key) = 0;
    // The installed "ORVELA Timer.app" folder this process runs from, if any.
    virtual std::optional<std::string> bundlePath() = 0;
    virtual std::int64_t processId() = 0;
    // The user's private temporary directory (never a world-writable one).
    virtual std::string temporaryDirectory() = 0;
    virtual std::string homeDirectory() = 0;
    // This process's environment as it is now, every variable with its value. The hand-over
    // passes it on, so the relaunched app starts with the user's own set-up (configuration
    // folders, certificate authorities, time zone, language, search path, session).
    virtual std::map<std::string, std::string> processEnvironment() = 0;

    // Processes. runAndWait keeps the main loop turning while it waits; when the app begins
    // to quit meanwhile, it stops the program and returns at once (stoppedByQuit).
    virtual ProcessResult runAndWait(const std::string& path,
                                     const std::vector<std::string>& arguments) = 0;
    // Starts a program that outlives us, with exactly `environment`; returns an error text.
    virtual std::optional<std::string> launchDetached(
        const std::string& path, const std::vector<std::string>& arguments,
        const std::map<std::string, std::string>& environment) = 0;

    // System log: one line.
    virtual void systemLog(const std::string& line) = 0;

    // Asks the app to quit once control returns to the main loop.
    virtual void terminate() = 0;
};

}  // namespace orvela
