// The exercise tips offered during breaks: one in each break's notification, a few in the menu.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace orvela {

// Short eye exercises; a break's notification carries one of them.
extern const std::array<std::string_view, 4> eyeTips;
// Exercises for the rest of the body, listed in the menu during a break.
extern const std::array<std::string_view, 4> bodyTips;

// The tip slot of a phase index: consecutive breaks of an alternating plan (indices 1, 3, 5, 7,
// 9, ...) take slots 0, 1, 2, 3, 0, ... so that the advice changes from break to break.
std::size_t tipSlot(std::int64_t phaseIndex);

}  // namespace orvela
