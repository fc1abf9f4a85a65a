// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/UiStyle.h"

#include <QApplication>

#include <algorithm>
#include <cmath>

namespace meridane::ui {

namespace {

QFont scaled(qreal factor) {
    QFont font = QApplication::font();
    if (font.pointSizeF() > 0)
        font.setPointSizeF(font.pointSizeF() * factor);
    else
        font.setPixelSize(qRound(font.pixelSize() * factor));
    return font;
}

}  // namespace

QFont bodyFont() { return QApplication::font(); }

QFont title2Font() { return scaled(17.0 / 13.0); }

QFont headlineFont() {
    QFont font = bodyFont();
    font.setWeight(QFont::DemiBold);
    return font;
}

QFont captionFont() { return scaled(10.0 / 13.0); }

QColor secondaryTextColor(const QPalette& palette) {
    QColor color = palette.color(QPalette::Active, QPalette::WindowText);
    color.setAlphaF(0.6f);
    return color;
}

QColor badgeOrange() { return QColor(0xFF, 0x95, 0x00); }

namespace {

double channel(double value) {
    return value <= 0.03928 ? value / 12.92 : std::pow((value + 0.055) / 1.055, 2.4);
}

double luminance(const QColor& color) {
    const QColor rgb = color.toRgb();
    return 0.2126 * channel(rgb.redF()) + 0.7152 * channel(rgb.greenF()) + 0.0722 * channel(rgb.blueF());
}

QColor mixed(const QColor& from, const QColor& to, double share) {
    const QColor a = from.toRgb(), b = to.toRgb();
    const auto mix = [share](double x, double y) { return x + (y - x) * share; };
    return QColor::fromRgbF(static_cast<float>(mix(a.redF(), b.redF())), static_cast<float>(mix(a.greenF(), b.greenF())),
                            static_cast<float>(mix(a.blueF(), b.blueF())));
}

}  // namespace

double contrastRatio(const QColor& a, const QColor& b) {
    const double la = luminance(a), lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

QColor readableOn(const QColor& wanted, const QColor& background) {
    // Towards black or white, whichever lies farther from the background,
    // in small steps so the hue stays recognisable.
    const QColor extreme = luminance(background) > 0.18 ? QColor(Qt::black) : QColor(Qt::white);
    for (int step = 0; step <= 20; ++step) {
        const QColor candidate = mixed(wanted, extreme, step / 20.0);
        if (contrastRatio(candidate, background) >= kMinimumTextContrast + 0.05)
            return candidate;
    }
    return extreme;
}

QColor badgeColor(const QPalette& palette) {
    return readableOn(badgeOrange(), palette.color(QPalette::Active, QPalette::Window));
}

QColor detailTextColor(const QPalette& palette) {
    // The secondary look, drawn opaque so its contrast can be known.
    const QColor base = palette.color(QPalette::Active, QPalette::Base);
    return readableOn(mixed(palette.color(QPalette::Active, QPalette::Text), base, 0.45), base);
}

QFont detailFont() {
    QFont font = captionFont();
    if (font.pointSizeF() > 0 && font.pointSizeF() < kMinimumDetailPointSize)
        font.setPointSizeF(kMinimumDetailPointSize);
    return font;
}

}  // namespace meridane::ui
