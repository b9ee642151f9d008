// Device-code logins of the local stand-in service: a client asks for a pair of codes, the
// user confirms or refuses the user code on the confirmation page, and the client's polls learn
// the outcome and, once approved, a freshly issued access token.
#pragma once

#include <functional>
#include <map>
#include <optional>
#include <random>
#include <string>

namespace orvela::dev {

inline constexpr int kLoginLifetimeSeconds = 600;
inline constexpr int kLoginPollInterval = 2;

enum class LoginStatus { pending, approved, denied, expired };
const char* statusName(LoginStatus status);

// A new access token: "orvela_" and 40 random hexadecimal digits, as the real service's look.
std::string newAccessToken();

struct LoginCodes {
    std::string deviceCode;  // secret, known only to the client that started the login
    std::string userCode;    // shown to the user, "ABCD-1234"
};

struct LoginView {
    std::string userCode;
    std::string client;
    std::string deviceName;
    LoginStatus status = LoginStatus::pending;
    std::string token;  // set once approved
};

class DeviceLogins {
public:
    using TokenIssuer = std::function<std::string()>;

    // `autoApproveAfter`: seconds after its start at which a still pending login approves
    // itself (demos and tests); none means only the page decides.
    DeviceLogins(TokenIssuer issueToken, std::optional<double> autoApproveAfter);

    LoginCodes start(std::string client, std::string deviceName, double now);
    std::optional<LoginView> byDeviceCode(const std::string& deviceCode, double now);
    // User codes are matched ignoring case and surrounding blanks: people type them.
    std::optional<LoginView> byUserCode(const std::string& userCode, double now);

    enum class Decision { decided, unknown, notPending };
    // Approves or refuses a pending login. A login already decided or expired stays as it was.
    Decision decide(const std::string& userCode, bool approve, double now);

private:
    struct Login {
        std::string deviceCode;
        std::string client;
        std::string deviceName;
        double startedAt = 0;
        LoginStatus status = LoginStatus::pending;
        std::string token;
    };

    // Brings a login's status up to `now`: auto-approval and expiry happen lazily here.
    void settle(Login& login, double now);
    LoginView view(const std::string& userCode, Login& login, double now);
    void forgetStale(double now);
    std::string freshUserCode();
    std::string randomHex(std::size_t bytes);

    TokenIssuer issueToken_;
    std::optional<double> autoApproveAfter_;
    std::map<std::string, Login> byUser_;       // user code -> login
    std::map<std::string, std::string> users_;  // device code -> user code
    std::random_device entropy_;
};

}  // namespace orvela::dev
