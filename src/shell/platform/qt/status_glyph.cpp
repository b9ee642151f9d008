#include "status_glyph.hpp"

#include <QColor>
#include <QPainter>
#include <QPainterPath>
#include <QPen>
#include <string_view>

namespace orvela::qt {

namespace {

bool startsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

const QColor kRed(0xE5, 0x39, 0x35);
const QColor kGreen(0x43, 0xA0, 0x47);
const QColor kGrey(0x9E, 0x9E, 0x9E);
const QColor kAmber(0xF9, 0xA8, 0x25);
const QColor kBlue(0x1E, 0x88, 0xE5);

QColor tintColour(TitleColour tint) {
    return tint == TitleColour::Green ? kGreen : kRed;
}

}  // namespace

GlyphState glyphStateFor(const std::vector<TitlePart>& parts) {
    if (parts.empty()) return {};
    const std::string_view first = parts.front().text;
    // The timer's time part carries the phase colour; a paused glyph keeps it.
    auto phaseTint = [&] {
        for (const TitlePart& part : parts) {
            if (part.colour == TitleColour::Red || part.colour == TitleColour::Green)
                return part.colour;
        }
        return TitleColour::Red;
    };
    if (startsWith(first, "🔑")) return {GlyphKind::Login, TitleColour::None};
    if (startsWith(first, "✅")) return {GlyphKind::Finished, TitleColour::None};
    if (startsWith(first, "⏸")) return {GlyphKind::Paused, phaseTint()};
    if (startsWith(first, "☕")) return {GlyphKind::Rest, TitleColour::Green};
    if (startsWith(first, "🍅")) {
        if (first.find('?') != std::string_view::npos) return {GlyphKind::Problem, {}};
        if (parts.size() > 1) return {GlyphKind::Work, TitleColour::Red};
        return {GlyphKind::Idle, TitleColour::None};
    }
    // Anything else is an agenda line: the current event (red dot) or the next one.
    return {GlyphKind::Event, TitleColour::None};
}

QImage paintGlyph(const GlyphState& state, int size) {
    if (size <= 0) return {};
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);

    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    // Drawn on a 22-unit grid so that every size gets the same shapes.
    const qreal unit = size / 22.0;
    p.scale(unit, unit);
    auto pen = [](const QColor& colour, qreal width) {
        QPen result(colour, width);
        result.setCapStyle(Qt::RoundCap);
        result.setJoinStyle(Qt::RoundJoin);
        return result;
    };
    const QRectF disc(3, 3, 16, 16);

    switch (state.kind) {
        case GlyphKind::Work:
            p.setPen(Qt::NoPen);
            p.setBrush(kRed);
            p.drawEllipse(disc);
            p.setBrush(kGreen);
            p.drawEllipse(QRectF(9, 1.5, 4, 3.5));
            break;
        case GlyphKind::Rest:
            // A ring: the same tomato, emptied for the break.
            p.setPen(pen(kGreen, 3));
            p.setBrush(Qt::NoBrush);
            p.drawEllipse(disc.adjusted(1.5, 1.5, -1.5, -1.5));
            break;
        case GlyphKind::Paused: {
            const QColor colour = tintColour(state.tint);
            p.setPen(Qt::NoPen);
            p.setBrush(colour);
            p.drawRoundedRect(QRectF(5, 4, 4.5, 14), 1.2, 1.2);
            p.drawRoundedRect(QRectF(12.5, 4, 4.5, 14), 1.2, 1.2);
            break;
        }
        case GlyphKind::Finished: {
            p.setPen(Qt::NoPen);
            p.setBrush(kGreen);
            p.drawRoundedRect(QRectF(2, 2, 18, 18), 4, 4);
            p.setPen(pen(Qt::white, 2.6));
            QPainterPath tick;
            tick.moveTo(6, 11.5);
            tick.lineTo(9.5, 15);
            tick.lineTo(16, 7.5);
            p.setBrush(Qt::NoBrush);
            p.drawPath(tick);
            break;
        }
        case GlyphKind::Login:
            // A key: a ring for the bow, a shaft and one bit.
            p.setPen(pen(kAmber, 2.6));
            p.setBrush(Qt::NoBrush);
            p.drawEllipse(QRectF(2.5, 6.5, 8, 8));
            p.drawLine(QPointF(10.5, 10.5), QPointF(19.5, 10.5));
            p.drawLine(QPointF(16.5, 10.5), QPointF(16.5, 14.5));
            break;
        case GlyphKind::Problem: {
            p.setPen(Qt::NoPen);
            p.setBrush(kGrey);
            p.drawEllipse(QRectF(1.5, 1.5, 19, 19));
            // A question mark drawn as strokes: no font is needed, offscreen included.
            p.setPen(pen(Qt::white, 2.4));
            p.setBrush(Qt::NoBrush);
            QPainterPath hook;
            hook.arcMoveTo(QRectF(7.5, 5, 7, 6.5), 160);
            hook.arcTo(QRectF(7.5, 5, 7, 6.5), 160, -250);
            hook.lineTo(11, 13);
            p.drawPath(hook);
            p.setPen(Qt::NoPen);
            p.setBrush(Qt::white);
            p.drawEllipse(QPointF(11, 16.3), 1.4, 1.4);
            break;
        }
        case GlyphKind::Event:
            // A calendar sheet.
            p.setPen(pen(kBlue, 2));
            p.setBrush(Qt::NoBrush);
            p.drawRoundedRect(QRectF(3, 4.5, 16, 14.5), 2, 2);
            p.setPen(Qt::NoPen);
            p.setBrush(kBlue);
            p.drawRect(QRectF(3, 4.5, 16, 4.5));
            p.drawRect(QRectF(6, 2, 2, 4));
            p.drawRect(QRectF(14, 2, 2, 4));
            break;
        case GlyphKind::Idle:
            p.setPen(pen(kGrey, 2));
            p.setBrush(Qt::NoBrush);
            p.drawEllipse(disc.adjusted(1, 1, -1, -1));
            p.setPen(Qt::NoPen);
            p.setBrush(kGrey);
            p.drawEllipse(QRectF(9, 1.5, 4, 3.5));
            break;
    }
    p.end();
    return image;
}

}  // namespace orvela::qt
