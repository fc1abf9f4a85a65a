// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/UiStyle.h"

#include <QApplication>

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

}  // namespace meridane::ui
