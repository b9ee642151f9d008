// The square icon of the status item: a small state glyph in the phase colour.
//
// Tray hosts squeeze every pixmap into a square of about 22 px, so the title text cannot live in
// the icon; the icon only tells the state at a glance for hosts that show no text label.
#pragma once

#include <QImage>
#include <vector>

#include "shell/platform/platform.hpp"

namespace orvela::qt {

enum class GlyphKind { Idle, Work, Rest, Paused, Finished, Login, Problem, Event };

struct GlyphState {
    GlyphKind kind = GlyphKind::Idle;
    // Only a paused timer keeps the colour of its phase (red work, green rest).
    TitleColour tint = TitleColour::None;
    bool operator==(const GlyphState&) const = default;
};

// Reads the state back from the title the core built: its leading icon and its colours.
GlyphState glyphStateFor(const std::vector<TitlePart>& parts);

// A square image of `size` pixels, transparent around the glyph. Paints into a QImage only, so
// it works without a display (offscreen, tests).
QImage paintGlyph(const GlyphState& state, int size);

}  // namespace orvela::qt
