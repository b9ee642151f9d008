// The application object: owner of every piece of mutable state, the status item's menu
// delegate, and the place every subsystem's behaviour hangs from.
//
// The class is declared once, here; its member functions are defined in the file of the
// subsystem that owns them (client/timer_sync.cpp defines fetch, apply and act, and so on).
// Everything runs on the main loop; there are no locks.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "model/position.hpp"
#include "model/records.hpp"
#include "shell/control.hpp"
#include "shell/platform/platform.hpp"

namespace orvela {

// An absolute point in time: seconds since the Unix epoch on the wall clock.
using Date = double;
// The start of year 1: earlier than any real event, so the first tick starts every period.
inline constexpr Date kDistantPast = -62135596800.0;
// A reading of the platform's monotonic clock, in seconds from an arbitrary start. The tick's
// periods are measured on it: the wall clock may be set back an hour (by hand, by NTP, by a
// resumed virtual machine) or forward, and a period on it would then stop polling for that
// hour or run out early. kDistantPast stands for "not yet started" here too: it lies long
// before any reading, so the first tick starts the period at once.
using Monotonic = double;

// The base URL compiled in (CMake's ORVELA_DEFAULT_BASE_URL); "OrvelaURL" replaces it.
extern const char* const kDefaultBaseUrl;

// Status title colours and parts, as render() builds them.
using TitleParts = std::vector<TitlePart>;

// A failed installation step (update/installer.hpp).
struct UpdateError;

struct EventLine {
    TitleParts parts;
    std::string tip;
};

class App final : public MenuDelegate {
public:
    explicit App(Platform& platform);
    ~App() override;
    App(const App&) = delete;
    App& operator=(const App&) = delete;

    // The process-wide instance, set by the entry point before the event loop runs. Timer,
    // wake and delayed callbacks reach the app only through it and do nothing when it is null.
    static App* shared;

    // ------------------------------------------------------------ lifecycle (shell/app.cpp)
    void applicationDidFinishLaunching();
    void tick();
    void refresh();
    void quit();

    // ------------------------------------------------------------ request layer
    // (client/request.cpp)
    using ReplyHandler = std::function<void(int status, std::optional<Reply> reply)>;
    using BodyHandler = std::function<void(int status, std::optional<std::string> body)>;
    void request(const std::string& path, const std::string& method,
                 const std::optional<std::string>& with, ReplyHandler done);
    void postJSON(const std::string& path, const std::map<std::string, std::string>& body,
                  BodyHandler done);

    // ------------------------------------------------------------ timer sync
    // (client/timer_sync.cpp)
    // `applied`, when given, runs once the answer (or the missing token) has been applied.
    void fetch(std::function<void()> applied = {});
    void apply(int code, const std::optional<Reply>& reply);
    void act(const std::string& action);
    void pause();
    void resume();
    void skip();
    void stop();
    void extend();

    // ------------------------------------------------------------ agenda (client/agenda_feed.cpp)
    void fetchAgenda();

    // ------------------------------------------------------------ token store
    // (account/token_store.cpp)
    std::optional<std::string> readToken() const;
    // Returns the platform's description of the failure, or nothing on success.
    std::optional<std::string> saveToken(const std::string& newToken) const;
    // Saves a token that a login just obtained and starts using it: fields reset, title redrawn
    // afresh, timer and agenda fetched. Returns the save's failure, with nothing changed.
    std::optional<std::string> useNewToken(const std::string& newToken);

    // ------------------------------------------------------------ device login
    // (account/device_login.cpp)
    void startDeviceLogin();
    void pollLogin(const PendingLogin& login);
    void openLoginPage();
    void cancelLogin();
    void loginFailed(const std::string& message);
    void connected(const std::string& newToken);

    // ------------------------------------------------------------ token dialog
    // (account/token_dialog.cpp)
    // The prompt; `requested` false when it opens by itself (a launch without a token).
    void connect(bool requested);
    void connect();
    void askToken(const std::optional<std::string>& error);
    // `requested` false: the dialog opens by itself (after a wait); `besideBrowser`: it comes
    // back while the user is in the page the app just opened, and leaves the keyboard there.
    void askToken(const std::optional<std::string>& error, bool requested, bool besideBrowser);
    void askToken();
    void openToken();
    void verifyAndSave(const std::string& candidate);
    void disconnect();

    // ------------------------------------------------------------ status title
    // (shell/status_title.cpp)
    void render();
    std::optional<EventLine> eventLine() const;
    std::string shorten(const std::string& s) const;

    // ------------------------------------------------------------ announcements
    // (announce/announcer.cpp)
    void announceIfChanged(const PomodoroState& state, const Position& pos);
    void notify(const std::string& title, const std::string& body);
    void notice(const std::string& title, const std::string& text);

    // ------------------------------------------------------------ menu (shell/menu.cpp)
    void menuNeedsUpdate(std::vector<MenuItem>& items) override;
    void menuItemChosen(const MenuItem& item) override;
    std::vector<MenuItem> settingsMenu();
    void toggleLogin();

    // ------------------------------------------------------------ agenda section and links
    // (shell/agenda_menu.cpp) The menu's item maker: appends an item and returns it for the caller
    // to finish at once (the reference is only good until the next item is added).
    using AddItem = std::function<MenuItem&(const std::string& title, MenuAction action,
                                            const std::string& key)>;
    void addAgenda(std::vector<MenuItem>& menu, const AddItem& add) const;
    void openDay(const MenuItem& sender);
    void openPlanner();
    void openAppsSettings();

    // ------------------------------------------------------------ updates
    // (update/update_check.cpp, update/installer.cpp)
    void checkUpdates(bool manual);
    void checkUpdatesNow();
    void installUpdate();

    Platform& platform() { return platform_; }

private:
    Platform& platform_;

    // Installation steps (update/installer.cpp); each yields the first failure, if any.
    std::optional<UpdateError> checkBeforeDownload(const std::string& archiveUrl,
                                                   const ReleaseInfo& release);
    std::optional<UpdateError> installDownloaded(const ReleaseInfo& release,
                                                 const DownloadResult& downloaded);
    void installFailed(const UpdateError& error);
    std::optional<UpdateError> run(const std::string& path,
                                   const std::vector<std::string>& arguments);
    std::optional<UpdateError> handOver(const std::string& fresh, const std::string& work);

public:
    // The 26 fields, in declaration order. Dates are seconds since the Unix epoch; the starts
    // the tick's periods count from (10, 18, 21) and the last command (22) are monotonic
    // readings.
    const std::string base;                    //  1 service base URL
    const std::string tokenPath;               //  2 "~/.config/orvela/token", expanded
    const double pollEvery = 15;               //  3 seconds between timer fetches
    const double agendaEvery = 60;             //  4 seconds between agenda fetches
    const double updateEvery = 21600;          //  5 seconds between update checks
    const std::string appVersion;              //  6 "CFBundleShortVersionString" or "?"
    const std::int64_t appBuild;               //  7 "CFBundleVersion" as an integer, else 0
    std::optional<ReleaseInfo> update;         //  8 newer release on offer
    bool updating = false;                     //  9 an installation is running
    Monotonic lastUpdateCheck = kDistantPast;  // 10 when the last update check began
    const double nextWithin = 86400000;        // 11 ms the title looks ahead for events
    const std::int64_t titleLength = 22;       // 12 longest title shown uncut
    StatusItem* item = nullptr;                // 13 created at launch, owned by the platform
    std::optional<PomodoroState> state;        // 14 latest timer state; absent: no timer
    std::optional<std::string> token;          // 15 access token as last read or obtained
    std::optional<std::string> problem;        // 16 shown instead of the timer
    bool loadedOnce = false;                   // 17 a timer answer has been applied
    Monotonic lastFetch = kDistantPast;        // 18 when the last timer fetch began
    std::vector<AgendaItem> agenda;            // 19
    std::optional<std::string> agendaToday;    // 20
    Monotonic lastAgendaFetch = kDistantPast;  // 21 when the last agenda fetch began
    Monotonic lastAction = kDistantPast;       // 22 last timer command sent from this client
    std::optional<std::int64_t> lastIndex;     // 23 phase index at the last announcement check
    std::optional<double> lastTaskStart;       // 24 startedAt at the last announcement check
    std::string shownTitle;                    // 25 plain text of the title as last drawn
    std::optional<PendingLogin> pendingLogin;  // 26 device login in progress

    // ------------------------------------------------------------ outside control
    // (shell/control.cpp) Kept apart from the 26 fields: what the desktop's control interface
    // and the command line read and run, with the menu's rules.
    TimerOffer timerOffer() const;
    // Runs the command exactly as its menu item does; nothing when it ran, else why it could not.
    // One action at a time: while any action's request (the menu's too) waits for its answer,
    // an action from outside is refused as busy and nothing is sent; Refresh joins the fetches
    // already running instead of starting more.
    std::optional<ControlRefusal> control(TimerCommand command);
    // A middle click on the status item: Toggle, through the same gate; a refusal does nothing.
    void middleClicked();
    // Requests waiting for their answers. An action counts until its answer is applied (for a
    // conflict, until the reload it causes is applied).
    int actionsInFlight = 0;
    int timerFetchesInFlight = 0;
    int agendaFetchesInFlight = 0;
    StatusReport shownStatus;             // what the last render showed
    std::function<void()> statusChanged;  // told after each render that changed shownStatus

    // ------------------------------------------------------------ one alert at a time
    // (shell/one_alert.cpp) Alerts are modal and the loop keeps turning while one is open, so
    // the menu (drawn by the panel) and every timer and answer can reach the App meanwhile.
    // At most one alert is open: a command that would open one brings the open one to the
    // front instead (menuItemChosen), and an alert that comes by itself waits until it closed.
    AlertAnswer runAlert(const Alert& alert);
    // True while an alert is open: `show` then runs again, through App::shared, once it has
    // closed (it is asked every kAlertRetrySeconds), and the caller shows nothing now.
    bool waitForOpenAlert(std::function<void(App&)> show);
    // Whether choosing `action` opens an alert at once.
    static bool opensAlert(MenuAction action);
    static constexpr double kAlertRetrySeconds = 0.5;
    bool alertOpen = false;
};

// The lower-case Russian label of a "yyyy-MM-dd" date ("сб, 5 дек."), or the text unchanged.
std::string dayLabel(const std::string& date);

// "12" and "+12" read as 12; anything else that is not a whole decimal integer reads as 0.
std::int64_t parseBuildNumber(const std::optional<std::string>& raw);

}  // namespace orvela
