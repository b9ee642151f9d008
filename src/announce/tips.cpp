#include "announce/tips.hpp"

namespace orvela {

const std::array<std::string_view, 4> eyeTips = {
    "👀 Правило 20-20-20: 20 секунд смотрите вдаль",
    "🔄 Глаза: 10 кругов в каждую сторону, зажмурьтесь на 5 с",
    "🤲 Пальминг: тёплые ладони на закрытые глаза, 30 с",
    "☝️ Близко — далеко: палец у носа → точка за окном, "
    "10 "
    "раз",
};

const std::array<std::string_view, 4> bodyTips = {
    "🙆 Встаньте и потянитесь, 5 глубоких вдохов",
    "🦒 Шея: наклоны и повороты по 5 в каждую сторону",
    "💪 Плечи: 10 кругов назад, сведите лопатки",
    "💧 Стакан воды и пара минут пешком",
};

std::size_t tipSlot(std::int64_t phaseIndex) {
    // A position never has a negative index; should one appear, it still picks a real tip.
    if (phaseIndex < 0) return 0;
    return static_cast<std::size_t>((phaseIndex / 2) % 4);
}

}  // namespace orvela
