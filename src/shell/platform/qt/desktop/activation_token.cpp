#include "activation_token.hpp"

#include <QGuiApplication>
#include <QString>
#include <cstdlib>
#include <utility>

namespace orvela::qt {

ActivationTokens::ActivationTokens(std::function<double()> monotonicSeconds)
    : clock_(std::move(monotonicSeconds)) {}

bool ActivationTokens::acceptable(std::string_view token) {
    if (token.empty() || token.size() > kMaxBytes) return false;
    const QString text = QString::fromUtf8(token.data(), qsizetype(token.size()));
    // Invalid UTF-8 decodes with replacement characters, so a round trip tells.
    if (text.toUtf8() != QByteArray(token.data(), qsizetype(token.size()))) return false;
    for (const QChar c : text)
        if (c.isSpace() || c.category() == QChar::Other_Control ||
            c.category() == QChar::Other_Format || c == QChar::ReplacementCharacter)
            return false;
    return true;
}

void ActivationTokens::provide(std::string_view token) {
    token_.reset();
    if (!acceptable(token)) return;
    token_ = std::string(token);
    providedAt_ = clock_();
}

std::optional<std::string> ActivationTokens::take() {
    std::optional<std::string> token = std::exchange(token_, std::nullopt);
    // Written so that a clock reading that is not a number counts as expired.
    if (token && !(clock_() - providedAt_ <= kLifetimeSeconds)) return std::nullopt;
    return token;
}

ActivationEnvironment::ActivationEnvironment(const std::optional<std::string>& token) {
    if (!token) return;
    // X11 programs and Qt's X11 platform read the startup id; on Wayland it means nothing.
    count_ = QGuiApplication::platformName() == QLatin1String("xcb") ? 2 : 1;
    for (int i = 0; i < count_; ++i) {
        if (const char* value = std::getenv(saved_[i].name)) saved_[i].value = value;
        ::setenv(saved_[i].name, token->c_str(), 1);
    }
}

ActivationEnvironment::~ActivationEnvironment() {
    for (int i = 0; i < count_; ++i) {
        if (saved_[i].value)
            ::setenv(saved_[i].name, saved_[i].value->c_str(), 1);
        else
            ::unsetenv(saved_[i].name);
    }
}

}  // namespace orvela::qt
