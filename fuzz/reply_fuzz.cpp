// Any body the timer endpoints could send: decoding must not crash, and a decoded state must
// place any moment in its plan and format what is left without undefined behaviour.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "model/position.hpp"
#include "model/records.hpp"
#include "model/time_text.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto reply = orvela::decodeReply({reinterpret_cast<const char*>(data), size});
    if (!reply || !reply->state) return 0;
    const auto& state = *reply->state;
    for (double now : {state.startedAt, state.startedAt + 1e6, 0.0, 1e300}) {
        const auto pos = orvela::position(state, now);
        (void)orvela::mmss(pos.left);
        if (pos.phase) (void)orvela::wholeMinutes(pos.phase->min);
    }
    return 0;
}
