// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/DropZone.h"

#include "ui/PathText.h"
#include "ui/UiStyle.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QPainter>
#include <QUrl>

namespace meridane::ui {

namespace {

constexpr int titleSubtitleSpacing = 6;

// Screen readers announce the zone as a button, which is how people find it.
QAccessibleInterface* dropZoneAccessible(const QString& className, QObject* object) {
    if (className == QLatin1String("meridane::ui::DropZone") && object && object->isWidgetType())
        return new QAccessibleWidget(static_cast<QWidget*>(object), QAccessible::Button);
    return nullptr;
}

}  // namespace

DropZone::DropZone(QWidget* parent) : QWidget(parent) {
    static const bool factoryInstalled = [] {
        QAccessible::installFactory(dropZoneAccessible);
        return true;
    }();
    (void)factoryInstalled;

    setObjectName(QStringLiteral("dropZone"));
    setAcceptDrops(true);
    setFixedHeight(zoneHeight);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setToolTip(QStringLiteral("Drop HEIC/HEIF/DNG files or folders. Only existing .xmp sidecars will be updated."));
    setAccessibleName(title());
    setAccessibleDescription(subtitle());
}

void DropZone::setDropHandler(DropHandler handler) { dropHandler_ = std::move(handler); }

void DropZone::setAcceptQuery(AcceptQuery query) { acceptQuery_ = std::move(query); }

QString DropZone::title() const { return QStringLiteral("Drop files/folders"); }

QString DropZone::subtitle() const {
    return QStringLiteral("HEIC/HEIF/DNG supported. Only XMP sidecars will be updated.");
}

std::vector<std::filesystem::path> DropZone::localPaths(const QMimeData& mimeData) {
    std::vector<std::filesystem::path> paths;
    for (const QUrl& url : mimeData.urls()) {
        if (auto path = pathFromUrl(url))
            paths.push_back(std::move(*path));
    }
    return paths;
}

bool DropZone::acceptsNow() const { return !acceptQuery_ || acceptQuery_(); }

void DropZone::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QColor secondary = secondaryTextColor(palette());

    // Pen dashes are measured in pen widths: 3 × 2 px gives 6 on, 6 off.
    QPen pen(secondary, 2.0);
    pen.setDashPattern({3.0, 3.0});
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(QRectF(rect()).adjusted(1, 1, -1, -1), 8, 8);

    const QFont titleFont = bodyFont();
    const QFont subtitleFont = captionFont();
    const QFontMetrics titleMetrics(titleFont);
    const QFontMetrics subtitleMetrics(subtitleFont);
    const int blockHeight = titleMetrics.height() + titleSubtitleSpacing + subtitleMetrics.height();
    const int top = (height() - blockHeight) / 2;

    painter.setPen(secondary);
    painter.setFont(titleFont);
    painter.drawText(QRect(0, top, width(), titleMetrics.height()), Qt::AlignHCenter | Qt::AlignVCenter, title());
    painter.setFont(subtitleFont);
    painter.drawText(QRect(0, top + titleMetrics.height() + titleSubtitleSpacing, width(), subtitleMetrics.height()),
                     Qt::AlignHCenter | Qt::AlignVCenter, subtitle());
}

void DropZone::dragEnterEvent(QDragEnterEvent* event) {
    if (event->mimeData()->hasUrls() && acceptsNow())
        event->acceptProposedAction();
    else
        event->ignore();
}

void DropZone::dragMoveEvent(QDragMoveEvent* event) {
    if (event->mimeData()->hasUrls() && acceptsNow())
        event->acceptProposedAction();
    else
        event->ignore();
}

void DropZone::dropEvent(QDropEvent* event) {
    if (!event->mimeData()->hasUrls() || !dropHandler_) {
        event->ignore();
        return;
    }
    if (dropHandler_(localPaths(*event->mimeData())))
        event->acceptProposedAction();
    else
        event->ignore();
}

}  // namespace meridane::ui
