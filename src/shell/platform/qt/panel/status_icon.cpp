#include "status_icon.hpp"

#include <QColor>
#include <QFont>
#include <QPainter>
#include <QPainterPath>
#include <QPen>
#include <algorithm>
#include <cmath>
#include <string_view>
#include <utility>
#include <vector>

namespace orvela::qt {

namespace {

bool startsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

const QColor kRed(0xE5, 0x39, 0x35);
const QColor kGreen(0x43, 0xA0, 0x47);
const QColor kGrey(0x9E, 0x9E, 0x9E);
const QColor kAmber(0xFF, 0xC1, 0x07);
const QColor kBlue(0x1E, 0x88, 0xE5);
// The disc behind the digits: dark enough for white digits, and a shape of its own on a light
// panel; on a dark panel the coloured ring draws its edge.
const QColor kDisc(0x26, 0x32, 0x38);
// The ring is the icon's edge on any panel, black or white, so every colour it is drawn in has
// a relative luminance between 0.1 and 0.3: a contrast of at least 3:1 with both (WCAG 2.1's
// non-text contrast). Its track is a slate grey, lighter than the red of work and darker than
// the green of a break, so that the elapsed part stands out by hue and by lightness; in the
// last minute the minute counts in a dark amber (plain amber vanishes on a white panel).
const QColor kTrackLight(0x78, 0x90, 0x9C);
const QColor kTrackDark(0x54, 0x6E, 0x7A);
const QColor kDarkAmber(0xC7, 0x7C, 0x00);
const QColor kInk(0x12, 0x12, 0x12);  // outlines around the digits and the pause mark

// The longest countdown told apart: 99 hours; anything longer reads as that.
constexpr double kLongestSeconds = 99 * 3600.0;

// The elapsed part of a phase as ring steps; 0 for lengths that make no sense.
int ringSteps(double elapsedFraction) {
    if (!(elapsedFraction > 0)) return 0;  // NaN included
    return int(std::lround(std::min(elapsedFraction, 1.0) * kRingSteps));
}

}  // namespace

IconKind titleKind(const std::vector<TitlePart>& parts) {
    if (parts.empty()) return IconKind::Idle;
    const std::string_view first = parts.front().text;
    if (startsWith(first, "🔑")) return IconKind::Login;
    if (startsWith(first, "✅")) return IconKind::Finished;
    if (startsWith(first, "🍅")) {
        return first.find('?') != std::string_view::npos ? IconKind::Problem : IconKind::Idle;
    }
    // A countdown title shows what setCountdown gave; without one it is drawn as idle.
    if (startsWith(first, "⏸") || startsWith(first, "☕")) return IconKind::Idle;
    // Anything else is an agenda line: the current event (red dot) or the next one.
    return IconKind::Event;
}

IconFace iconFace(IconKind titleKind, const std::optional<Countdown>& countdown) {
    IconFace face;
    if (!countdown) {
        face.kind = titleKind;
        return face;
    }
    face.kind = IconKind::Countdown;
    face.rest = countdown->rest;
    face.paused = countdown->paused;
    // Whole seconds rounded up, as the title's "MM:SS" counts them.
    const double left = countdown->leftSeconds > 0
                            ? std::ceil(std::min(countdown->leftSeconds, kLongestSeconds))
                            : 0.0;
    const auto seconds = static_cast<long long>(left);
    const double phase = countdown->phaseSeconds;
    if (seconds < 60) {
        // "00:59" is no longer minutes: the seconds, and the ring fills with the minute.
        face.seconds = true;
        face.text = std::to_string(seconds);
        face.ring = ringSteps((60.0 - double(seconds)) / 60.0);
        return face;
    }
    const long long minutes = (seconds + 59) / 60;
    face.text = minutes <= 99 ? std::to_string(minutes) : std::to_string((minutes + 59) / 60) + "ч";
    // The ring is drawn from the minutes shown, so that it moves when the digits do and not in
    // between. An infinite phase with infinite time left has nothing elapsed.
    const double shownLeft =
        countdown->leftSeconds > kLongestSeconds ? countdown->leftSeconds : double(minutes) * 60.0;
    face.ring = ringSteps(1.0 - shownLeft / phase);
    return face;
}

QString faceInWords(const IconFace& face) {
    switch (face.kind) {
        case IconKind::Countdown:
            break;
        case IconKind::Finished:
            return QStringLiteral("Время задачи вышло");
        case IconKind::Login:
            return QStringLiteral("Ждёт подтверждения входа на сайте ORVELA");
        case IconKind::Problem:
            return QStringLiteral("Нет подключения к ORVELA");
        case IconKind::Event:
            return QStringLiteral("Событие календаря");
        case IconKind::Idle:
            return QStringLiteral("Таймер не запущен");
    }
    QString words = face.rest ? QStringLiteral("Отдых") : QStringLiteral("Работа");
    if (face.paused) words += QStringLiteral(" на паузе");
    words += QStringLiteral(", осталось ");
    const QString text = QString::fromStdString(face.text);
    if (face.seconds) return words + QStringLiteral("меньше минуты");
    // "2ч": the hours, rounded up as the icon shows them.
    if (text.endsWith(QStringLiteral("ч"))) return words + text.chopped(1) + QStringLiteral(" ч");
    return words + text + QStringLiteral(" мин");
}

namespace {

// The countdown's text as an outline fitted into `box`: as tall as the box, squeezed
// sideways (down to 70 %) before it is made smaller when it is too wide. DejaVu Sans Bold comes
// with fonts-dejavu-core; without it fontconfig's sans serif stands in, and without any font
// the ring alone still tells the progress.
QPainterPath digitsPath(const QString& text, const QRectF& box) {
    // Outlining the glyphs (FreeType loading and hinting them) took a third of a repaint, and
    // every size is fitted from the same 100 px outline: it is made once per text. Hinting would
    // only snap that outline to a 100 px grid before it is scaled anyway.
    static QString outlined;
    static QPainterPath outline;
    if (outline.isEmpty() || text != outlined) {
        QFont font(QStringLiteral("DejaVu Sans"));
        font.setStyleHint(QFont::SansSerif);
        font.setWeight(QFont::Bold);
        font.setPixelSize(100);
        font.setHintingPreference(QFont::PreferNoHinting);
        outline = QPainterPath();
        outline.addText(0, 0, font, text);
        outlined = text;
    }
    const QPainterPath& path = outline;
    const QRectF bounds = path.boundingRect();
    if (bounds.isEmpty()) return {};
    double sy = box.height() / bounds.height();
    double sx = sy;
    if (bounds.width() * sx > box.width()) sx = std::max(box.width() / bounds.width(), 0.7 * sy);
    if (bounds.width() * sx > box.width()) {
        const double shrink = box.width() / (bounds.width() * sx);
        sx *= shrink;
        sy *= shrink;
    }
    QTransform fit;
    fit.translate(box.center().x(), box.center().y());
    fit.scale(sx, sy);
    fit.translate(-bounds.center().x(), -bounds.center().y());
    return fit.map(path);
}

// `shape` in white inside an ink outline `halo` px wide. The outline is the shape's coverage
// grown by a disc of that radius, pixel by pixel: stroking the glyphs' curves with a round pen
// instead made thousands of tiny segments to fill, half of all a repaint cost.
void paintOutlined(QPainter& p, const QPainterPath& shape, qreal halo) {
    const QRect inner = shape.boundingRect().toAlignedRect();
    if (inner.isEmpty()) return;
    const int reach = int(std::ceil(halo));
    // The outline's pixels, and around them a margin the disc reads but never writes.
    const QRect area = inner.adjusted(-reach, -reach, reach, reach);
    const QRect padded = area.adjusted(-reach, -reach, reach, reach);
    QImage coverage(padded.size(), QImage::Format_Alpha8);
    coverage.fill(0);
    {
        QPainter cover(&coverage);
        cover.setRenderHint(QPainter::Antialiasing);
        cover.translate(-padded.topLeft());
        cover.fillPath(shape, Qt::black);
    }
    // The disc: each neighbour's offset and how much of it lies within `halo` (1/256ths).
    const qsizetype stride = coverage.bytesPerLine();
    std::vector<std::pair<qsizetype, int>> disc;
    for (int dy = -reach; dy <= reach; ++dy)
        for (int dx = -reach; dx <= reach; ++dx) {
            const double inside = std::clamp(halo + 1 - std::hypot(dx, dy), 0.0, 1.0);
            if (inside > 0) disc.emplace_back(dy * stride + dx, int(std::lround(inside * 256)));
        }
    // Each pixel is the white shape over its ink outline, premultiplied.
    QImage outlined(area.size(), QImage::Format_ARGB32_Premultiplied);
    const QRgb ink = kInk.rgb();
    for (int y = 0; y < area.height(); ++y) {
        const uchar* from = coverage.constScanLine(y + reach) + reach;
        auto* out = reinterpret_cast<QRgb*>(outlined.scanLine(y));
        for (int x = 0; x < area.width(); ++x) {
            const int white = from[x];
            int grown = white * 256;
            if (white < 255)
                for (const auto& [offset, weight] : disc)
                    grown = std::max(grown, from[x + offset] * weight);
            // The ink shows where the outline reaches and the shape does not cover.
            const int under = (grown >> 8) * (255 - white) / 255;
            out[x] = qRgba(white + qRed(ink) * under / 255, white + qGreen(ink) * under / 255,
                           white + qBlue(ink) * under / 255, white + under);
        }
    }
    p.drawImage(area.topLeft(), outlined);
}

void paintCountdown(QPainter& p, const IconFace& face, qreal size) {
    const QColor phase = face.rest ? kGreen : kRed;
    const qreal ring = std::max<qreal>(1.5, size * 0.14);
    const QRectF whole(0.5, 0.5, size - 1, size - 1);

    // In the last minute the disc takes the phase colour and the ring counts the minute in
    // amber: a glance tells seconds from minutes. The ring is filled, not stroked (the track's
    // disc, the elapsed part as a pie over it, the inner disc on top): stroking cost more.
    const QColor track = face.seconds || face.rest ? kTrackDark : kTrackLight;
    const QColor done = face.seconds ? kDarkAmber : phase;
    p.setPen(Qt::NoPen);
    p.setBrush(track);
    p.drawEllipse(whole);
    if (face.ring > 0) {
        // Clockwise from twelve o'clock; Qt counts sixteenths of a degree, anticlockwise.
        p.setBrush(done);
        p.drawPie(whole, 90 * 16, -face.ring * 360 * 16 / kRingSteps);
    }
    p.setBrush(face.seconds ? phase : kDisc);
    p.drawEllipse(whole.adjusted(ring, ring, -ring, -ring));

    // Paused: the digits move up and left to make room for a pause mark below right. The
    // seconds are a little smaller, so that the ring counting the minute shows around them.
    const QRectF box = face.paused    ? QRectF(size * 0.08, size * 0.12, size * 0.64, size * 0.56)
                       : face.seconds ? QRectF(size * 0.16, size * 0.24, size * 0.68, size * 0.52)
                                      : QRectF(size * 0.07, size * 0.19, size * 0.86, size * 0.62);
    const QPainterPath digits = digitsPath(QString::fromStdString(face.text), box);
    // The outline keeps the digits apart from the ring they overlap, on any panel.
    paintOutlined(p, digits, std::max<qreal>(1.6, size * 0.09) / 2);

    if (face.paused) {
        const qreal r = size * 0.23;
        const QPointF c(size - r - 0.5, size - r - 0.5);
        p.setPen(QPen(kInk, std::max<qreal>(1.0, size * 0.05)));
        p.setBrush(kAmber);
        p.drawEllipse(c, r, r);
        p.setPen(Qt::NoPen);
        p.setBrush(kInk);
        const qreal w = r * 0.36, h = r * 1.1;
        p.drawRect(QRectF(c.x() - w * 1.35, c.y() - h / 2, w, h));
        p.drawRect(QRectF(c.x() + w * 0.35, c.y() - h / 2, w, h));
    }
}

// The glyphs of the states without a countdown, on a 22-unit grid.
void paintGlyph(QPainter& p, IconKind kind, qreal size) {
    p.scale(size / 22.0, size / 22.0);
    auto pen = [](const QColor& colour, qreal width) {
        QPen result(colour, width);
        result.setCapStyle(Qt::RoundCap);
        result.setJoinStyle(Qt::RoundJoin);
        return result;
    };
    const QRectF disc(3, 3, 16, 16);
    switch (kind) {
        case IconKind::Finished: {
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
        case IconKind::Login:
            // A key: a ring for the bow, a shaft and one bit.
            p.setPen(pen(kAmber, 2.6));
            p.setBrush(Qt::NoBrush);
            p.drawEllipse(QRectF(2.5, 6.5, 8, 8));
            p.drawLine(QPointF(10.5, 10.5), QPointF(19.5, 10.5));
            p.drawLine(QPointF(16.5, 10.5), QPointF(16.5, 14.5));
            break;
        case IconKind::Problem: {
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
        case IconKind::Event:
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
        case IconKind::Idle:
        case IconKind::Countdown:
            // A grey tomato outline: nothing runs.
            p.setPen(pen(kGrey, 2));
            p.setBrush(Qt::NoBrush);
            p.drawEllipse(disc.adjusted(1, 1, -1, -1));
            p.setPen(Qt::NoPen);
            p.setBrush(kGrey);
            p.drawEllipse(QRectF(9, 1.5, 4, 3.5));
            break;
    }
}

}  // namespace

QImage paintIcon(const IconFace& face, int size) {
    if (size <= 0) return {};
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    if (face.kind == IconKind::Countdown)
        paintCountdown(p, face, size);
    else
        paintGlyph(p, face.kind, size);
    p.end();
    return image;
}

}  // namespace orvela::qt
