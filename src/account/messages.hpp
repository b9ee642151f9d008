// Texts that both ways of connecting an account show when they fail.
#pragma once

namespace orvela {

inline constexpr const char* kConnectNoConnection =
    "Нет связи с ORVELA — проверьте интернет и попробуйте ещё раз";
inline constexpr const char* kConnectSaveFailed = "Не удалось сохранить токен: ";

}  // namespace orvela
