// How long and how large each answer of the service may be: one place for every bound, so that
// the numbers and their reasons stay side by side. The adapter abandons a transfer that passes
// either bound and the caller sees it as no answer (status 0).
#pragma once

#include <cstdint>

namespace orvela {

struct TransferBounds {
    double deadlineSeconds;      // the whole transfer, however steadily data arrives
    std::uint64_t maxBodyBytes;  // the answer's body
};

inline constexpr std::uint64_t kKiB = 1024;
inline constexpr std::uint64_t kMiB = 1024 * kKiB;

// Every API answer is a few kilobytes at most and arrives within a second or two even on a poor
// mobile link. 30 s is three inactivity timeouts: long enough for any honest answer, short
// enough that a trickling service holds at most two timer polls (one every 15 s), one agenda
// fetch (every 60 s) and whatever the user sent in the last half-minute.
inline constexpr double kApiDeadlineSeconds = 30;

// A Reply is one timer: a task title and a plan of phases of ~30 bytes each. A real one is under
// 2 KiB; 1 MiB still holds a plan of thirty thousand phases.
inline constexpr TransferBounds kTimerBounds{kApiDeadlineSeconds, 1 * kMiB};
// The agenda lists today and one more day; an entry (title, place, icon, times) is ~300 bytes,
// so 1 MiB holds more than three thousand entries, far beyond any calendar of two days.
inline constexpr TransferBounds kAgendaBounds{kApiDeadlineSeconds, 1 * kMiB};
// The device login's answers are two codes, a token and a few numbers: under 1 KiB.
inline constexpr TransferBounds kDeviceLoginBounds{kApiDeadlineSeconds, 64 * kKiB};
// The release manifest is five short fields plus release notes written by people.
inline constexpr TransferBounds kManifestBounds{kApiDeadlineSeconds, 256 * kKiB};
// The update archive is the zipped bundle, which carries its own Qt and ICU: about 25 MiB.
// 64 MiB leaves room to grow; the installer holds it in memory once for hashing, so the cap
// also bounds that. 15 minutes fit the whole cap at 600 kbit/s and today's archive at a third
// of that speed.
inline constexpr TransferBounds kArchiveBounds{15 * 60, 64 * kMiB};

}  // namespace orvela
