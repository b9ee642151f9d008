// The connection problems the status title and the menu show instead of the timer.
#pragma once

namespace orvela {

inline constexpr const char* kProblemNoToken = "Нет токена ORVELA";
inline constexpr const char* kProblemTokenRefused = "Токен отклонён — создайте новый";
inline constexpr const char* kProblemNoConnection = "Нет связи с ORVELA";

}  // namespace orvela
