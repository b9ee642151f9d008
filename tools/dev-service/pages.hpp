// The placeholder web pages of the local stand-in service. Every page says plainly that it is
// the development stand-in, not the ORVELA site. All text handed in is escaped here.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "dev-service/device_login.hpp"

namespace orvela::dev {

std::string escapeHtml(std::string_view text);

std::string indexPage();
std::string plannerPage(const std::optional<std::string>& date);
std::string settingsPage();

// The confirmation page for one user code; `login` absent when the code is unknown, `code`
// empty when the address carried none (the page then asks for it).
std::string devicePage(const std::string& code, const std::optional<LoginView>& login);
// What the user sees after pressing a button on the confirmation page.
std::string decisionPage(const std::string& code, DeviceLogins::Decision decision, bool approved,
                         const std::optional<LoginView>& login);

}  // namespace orvela::dev
