#include "dev-service/device_login.hpp"

#include <cstdio>

namespace orvela::dev {

namespace {

// Logins are kept this long past their expiry so that late polls still hear "expired".
constexpr double kForgetAfterMs = 3600 * 1000.0;

std::string normalUserCode(const std::string& typed) {
    const auto first = typed.find_first_not_of(" \t");
    const auto last = typed.find_last_not_of(" \t");
    if (first == std::string::npos) return {};
    std::string code = typed.substr(first, last - first + 1);
    for (char& c : code) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return code;
}

}  // namespace

const char* statusName(LoginStatus status) {
    switch (status) {
        case LoginStatus::pending:
            return "pending";
        case LoginStatus::approved:
            return "approved";
        case LoginStatus::denied:
            return "denied";
        case LoginStatus::expired:
            return "expired";
    }
    return "pending";
}

std::string newAccessToken() {
    std::random_device entropy;
    std::uniform_int_distribution<int> nibble(0, 15);
    std::string token = "orvela_";
    for (int i = 0; i < 40; ++i) token += "0123456789abcdef"[nibble(entropy)];
    return token;
}

DeviceLogins::DeviceLogins(TokenIssuer issueToken, std::optional<double> autoApproveAfter)
    : issueToken_(std::move(issueToken)), autoApproveAfter_(autoApproveAfter) {}

LoginCodes DeviceLogins::start(std::string client, std::string deviceName, double now) {
    forgetStale(now);
    LoginCodes codes;
    do {
        codes.deviceCode = randomHex(20);
    } while (users_.count(codes.deviceCode) != 0);
    codes.userCode = freshUserCode();
    byUser_[codes.userCode] =
        Login{codes.deviceCode, std::move(client), std::move(deviceName), now, {}, {}};
    users_[codes.deviceCode] = codes.userCode;
    return codes;
}

std::optional<LoginView> DeviceLogins::byDeviceCode(const std::string& deviceCode, double now) {
    const auto user = users_.find(deviceCode);
    if (user == users_.end()) return std::nullopt;
    return byUserCode(user->second, now);
}

std::optional<LoginView> DeviceLogins::byUserCode(const std::string& userCode, double now) {
    const auto found = byUser_.find(normalUserCode(userCode));
    if (found == byUser_.end()) return std::nullopt;
    return view(found->first, found->second, now);
}

DeviceLogins::Decision DeviceLogins::decide(const std::string& userCode, bool approve, double now) {
    const auto found = byUser_.find(normalUserCode(userCode));
    if (found == byUser_.end()) return Decision::unknown;
    Login& login = found->second;
    settle(login, now);
    if (login.status != LoginStatus::pending) return Decision::notPending;
    if (approve) {
        login.status = LoginStatus::approved;
        login.token = issueToken_();
    } else {
        login.status = LoginStatus::denied;
    }
    return Decision::decided;
}

void DeviceLogins::settle(Login& login, double now) {
    if (login.status != LoginStatus::pending) return;
    const double expiresAt = login.startedAt + kLoginLifetimeSeconds * 1000;
    if (autoApproveAfter_) {
        const double approvesAt = login.startedAt + *autoApproveAfter_ * 1000;
        if (now >= approvesAt && approvesAt <= expiresAt) {
            login.status = LoginStatus::approved;
            login.token = issueToken_();
            return;
        }
    }
    if (now > expiresAt) login.status = LoginStatus::expired;
}

LoginView DeviceLogins::view(const std::string& userCode, Login& login, double now) {
    settle(login, now);
    return LoginView{userCode, login.client, login.deviceName, login.status, login.token};
}

void DeviceLogins::forgetStale(double now) {
    for (auto it = byUser_.begin(); it != byUser_.end();) {
        const double expiresAt = it->second.startedAt + kLoginLifetimeSeconds * 1000;
        if (now - expiresAt > kForgetAfterMs) {
            users_.erase(it->second.deviceCode);
            it = byUser_.erase(it);
        } else {
            ++it;
        }
    }
}

std::string DeviceLogins::freshUserCode() {
    // No I or O: the user copies this code by eye and must not confuse it with 1 and 0.
    static constexpr char kLetters[] = "ABCDEFGHJKLMNPQRSTUVWXYZ";
    std::uniform_int_distribution<int> letter(0, sizeof kLetters - 2);
    std::uniform_int_distribution<int> digit(0, 9);
    std::string code;
    do {
        code.clear();
        for (int i = 0; i < 4; ++i) code += kLetters[letter(entropy_)];
        code += '-';
        for (int i = 0; i < 4; ++i) code += static_cast<char>('0' + digit(entropy_));
    } while (byUser_.count(code) != 0);
    return code;
}

std::string DeviceLogins::randomHex(std::size_t bytes) {
    std::uniform_int_distribution<int> byte(0, 255);
    std::string out;
    char buf[3];
    for (std::size_t i = 0; i < bytes; ++i) {
        std::snprintf(buf, sizeof buf, "%02x", static_cast<unsigned>(byte(entropy_)));
        out += buf;
    }
    return out;
}

}  // namespace orvela::dev
