// The square icon of the status item. While a phase runs or is paused it carries the countdown,
// because many hosts show no text label (Xfce's default panel, KDE Plasma, XEmbed trays): the
// minutes left in big digits (the seconds in the last minute) over a ring of the part of the
// phase that has gone. A finished timer, an agenda line, the login code, a problem and the idle
// state each keep a glyph of their own.
#pragma once

#include <QImage>
#include <QString>
#include <optional>
#include <string>
#include <vector>

#include "shell/platform/platform.hpp"

namespace orvela::qt {

// The images handed to hosts; each picks the size nearest to its own.
inline constexpr int kIconSizes[] = {16, 22, 24, 32, 48};

// A full turn of the progress ring, in the steps it is drawn in.
inline constexpr int kRingSteps = 120;

enum class IconKind { Idle, Countdown, Finished, Login, Problem, Event };

// Everything the icon shows and nothing else: equal faces paint equal images, so the face is
// what decides whether a render repaints. A countdown face changes once a minute (the digits,
// and the ring drawn from them), and every second only in the last minute.
struct IconFace {
    IconKind kind = IconKind::Idle;
    std::string text;      // the countdown: "25", "42", "2ч"
    bool seconds = false;  // the last minute: `text` counts seconds, the ring the minute
    bool rest = false;
    bool paused = false;
    int ring = 0;  // elapsed part of the ring, 0..kRingSteps
    bool operator==(const IconFace&) const = default;
};

// The state the title shows, read back from its leading icon: what the icon draws when there
// is no countdown.
IconKind titleKind(const std::vector<TitlePart>& parts);

// The face for the title's state and the countdown the core gave (which wins when present).
// Any numbers are bounded here: not finite, negative or huge values never reach an integer.
IconFace iconFace(IconKind titleKind, const std::optional<Countdown>& countdown);

// What the face shows, in words: the phase and the time left ("Работа, осталось 23 мин"), or the
// state. As coarse as the icon (the minute it shows, "меньше минуты" in the last one), so that
// it changes with the icon and never more often.
QString faceInWords(const IconFace& face);

// A square image of `size` pixels, transparent around the icon. Paints into a QImage only, so
// it works without a display (offscreen, tests).
QImage paintIcon(const IconFace& face, int size);

}  // namespace orvela::qt
