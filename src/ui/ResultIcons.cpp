// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/ResultIcons.h"

#include <QPainter>
#include <QPixmapCache>
#include <QSvgRenderer>
#include <QtMath>

namespace meridane::ui {

using Case = ProcessingResult::Case;

QString resultIcon(Case resultCase) {
    return QStringLiteral(":/meridane/icons/%1.svg")
        .arg(QString::fromUtf8(ProcessingResult::caseName(resultCase)));
}

QColor resultColor(Case resultCase) {
    switch (resultCase) {
    case Case::updated:
    case Case::alreadyCorrect:
    case Case::restored:
        return QColor(0x34, 0xC7, 0x59);  // green
    case Case::withinTolerance:
        return QColor(0x00, 0x7A, 0xFF);  // blue
    case Case::fileNotFound:
    case Case::skippedMissing:
        return QColor(0xFF, 0xCC, 0x00);  // yellow
    case Case::unsupportedFile:
    case Case::skippedNonApple:
        return QColor(0x8E, 0x8E, 0x93);  // grey
    case Case::skippedDifferentGPS:
    case Case::notRestored:
        return QColor(0xFF, 0x95, 0x00);  // orange
    case Case::failed:
        return QColor(0xFF, 0x3B, 0x30);  // red
    }
    return {};
}

QPixmap resultIconPixmap(Case resultCase, int logicalSize, qreal devicePixelRatio) {
    const QString key = QStringLiteral("meridane/result/%1/%2/%3")
                            .arg(static_cast<int>(resultCase))
                            .arg(logicalSize)
                            .arg(devicePixelRatio);
    QPixmap cached;
    if (QPixmapCache::find(key, &cached))
        return cached;

    const int pixels = qCeil(logicalSize * devicePixelRatio);
    QPixmap pixmap(pixels, pixels);
    pixmap.fill(Qt::transparent);
    QSvgRenderer renderer(resultIcon(resultCase));
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    renderer.render(&painter, QRectF(0, 0, pixels, pixels));
    painter.end();
    pixmap.setDevicePixelRatio(devicePixelRatio);
    QPixmapCache::insert(key, pixmap);
    return pixmap;
}

}  // namespace meridane::ui
