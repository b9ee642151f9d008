// Any body the service could send in place of a ReleaseInfo: decoding must not crash or leak.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "model/records.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    (void)orvela::decodeReleaseInfo({reinterpret_cast<const char*>(data), size});
    return 0;
}
