#include "model/clock.hpp"

#include <chrono>

namespace orvela {

namespace {
std::function<double()>& source() {
    static std::function<double()> installed;
    return installed;
}

double systemWallClockMs() {
    using namespace std::chrono;
    return duration<double, std::milli>(system_clock::now().time_since_epoch()).count();
}
}  // namespace

double nowMs() {
    const auto& installed = source();
    return installed ? installed() : systemWallClockMs();
}

double nowSeconds() {
    return nowMs() / 1000.0;
}

void setClockSource(std::function<double()> wallClockMs) {
    source() = std::move(wallClockMs);
}

}  // namespace orvela
