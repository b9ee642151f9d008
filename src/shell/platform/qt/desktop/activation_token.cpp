#include "activation_token.hpp"

#include <xcb/xcb.h>

#include <QGuiApplication>
#include <QString>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <utility>

#include "wayland_startup.hpp"

namespace orvela::qt {

ActivationTokens::ActivationTokens(std::function<double()> monotonicSeconds,
                                   std::function<void(const std::string&)> dropped)
    : clock_(std::move(monotonicSeconds)), dropped_(std::move(dropped)) {}

void ActivationTokens::drop() {
    std::optional<std::string> token = std::exchange(token_, std::nullopt);
    if (token && dropped_) dropped_(*token);
}

void ActivationTokens::expire() {
    // Written so that a clock reading that is not a number counts as expired.
    if (token_ && !(clock_() - providedAt_ <= kLifetimeSeconds)) drop();
}

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
    drop();
    if (!acceptable(token)) return;
    token_ = std::string(token);
    providedAt_ = clock_();
}

std::optional<std::string> ActivationTokens::take() {
    expire();
    return std::exchange(token_, std::nullopt);
}

void completeStartup(const std::string& token) {
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    xcb_connection_t* connection = x11 ? x11->connection() : nullptr;
    if (!connection) {
        // GNOME on Wayland shows the same busy cursor, and has its own request to end it.
        if (qGuiApp && QGuiApplication::platformName().startsWith(QLatin1String("wayland")))
            endWaylandStartup(token);
        return;
    }
    if (xcb_connection_has_error(connection)) return;
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection)).data;
    if (!screen) return;
    xcb_atom_t atoms[2] = {XCB_ATOM_NONE, XCB_ATOM_NONE};
    const char* names[2] = {"_NET_STARTUP_INFO_BEGIN", "_NET_STARTUP_INFO"};
    for (int i = 0; i < 2; ++i) {
        std::unique_ptr<xcb_intern_atom_reply_t, decltype(&free)> reply(
            xcb_intern_atom_reply(
                connection,
                xcb_intern_atom(connection, 0, uint16_t(std::strlen(names[i])), names[i]), nullptr),
            &free);
        if (!reply) return;
        atoms[i] = reply->atom;
    }
    // The message, quoted, ends with its NUL; it goes to the root window in 20-byte pieces from
    // a window of our own that names the sender (the startup-notification protocol).
    std::string message = "remove: ID=\"";
    for (const char c : token) {
        if (c == '"' || c == '\\') message += '\\';
        message += c;
    }
    message += '"';
    message += '\0';
    const xcb_window_t sender = xcb_generate_id(connection);
    xcb_create_window(connection, XCB_COPY_FROM_PARENT, sender, screen->root, -100, -100, 1, 1, 0,
                      XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, 0, nullptr);
    for (std::size_t at = 0; at < message.size(); at += 20) {
        xcb_client_message_event_t event{};
        event.response_type = XCB_CLIENT_MESSAGE;
        event.format = 8;
        event.window = sender;
        event.type = at == 0 ? atoms[0] : atoms[1];
        std::memcpy(event.data.data8, message.data() + at,
                    std::min<std::size_t>(20, message.size() - at));
        xcb_send_event(connection, 0, screen->root, XCB_EVENT_MASK_PROPERTY_CHANGE,
                       reinterpret_cast<const char*>(&event));
    }
    xcb_destroy_window(connection, sender);
    xcb_flush(connection);
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
