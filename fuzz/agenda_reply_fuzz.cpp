// Any body the agenda endpoint could send: decoding must not crash, and every decoded time must
// format without undefined behaviour.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "model/records.hpp"
#include "model/time_text.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto agenda = orvela::decodeAgendaReply({reinterpret_cast<const char*>(data), size});
    if (!agenda || !agenda->items) return 0;
    for (const auto& item : *agenda->items) {
        (void)orvela::clockTime(item.start);
        if (item.end) (void)orvela::span(*item.end - item.start);
    }
    return 0;
}
