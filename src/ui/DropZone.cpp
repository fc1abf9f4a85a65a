// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/DropZone.h"

#include "ui/PathText.h"
#include "ui/UiStyle.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QKeyEvent>
#include <QMimeData>
#include <QPainter>
#include <QUrl>

#include <algorithm>

namespace meridane::ui {

namespace {

constexpr int titleSubtitleSpacing = 6;

// Screen readers announce the zone as a button that can be pressed, which
// opens the chooser as a click does.
class DropZoneAccessible : public QAccessibleWidget {
public:
    explicit DropZoneAccessible(DropZone* zone) : QAccessibleWidget(zone, QAccessible::Button) {}
    QStringList actionNames() const override {
        return QStringList{pressAction()} + QAccessibleWidget::actionNames();
    }
    void doAction(const QString& actionName) override {
        if (actionName == pressAction())
            Q_EMIT static_cast<DropZone*>(widget())->activated();
        else
            QAccessibleWidget::doAction(actionName);
    }
};

QAccessibleInterface* dropZoneAccessible(const QString& className, QObject* object) {
    if (className == QLatin1String("meridane::ui::DropZone") && object && object->isWidgetType())
        return new DropZoneAccessible(static_cast<DropZone*>(object));
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
    // The window takes drops as a whole; this zone only shows where.
    setAcceptDrops(false);
    setFixedHeight(zoneHeight);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setFocusPolicy(Qt::StrongFocus);
    setCursor(Qt::PointingHandCursor);
    setToolTip(QStringLiteral("Click or drop HEIC/HEIF/DNG files or folders. Only existing .xmp sidecars will be "
                              "updated."));
    setAccessibleName(title());
    setAccessibleDescription(subtitle());
}

void DropZone::setDropHandler(DropHandler handler) { dropHandler_ = std::move(handler); }

void DropZone::setAcceptQuery(AcceptQuery query) { acceptQuery_ = std::move(query); }

QString DropZone::title() const { return QStringLiteral("Drop files/folders"); }

QString DropZone::subtitle() const {
    return QStringLiteral("HEIC/HEIF/DNG supported. Only XMP sidecars will be updated.");
}

QString DropZone::openHint() { return QStringLiteral("Open\u2026 (Ctrl+O)"); }

bool DropZone::deliver(const std::vector<std::filesystem::path>& paths) { return dropHandler_ && dropHandler_(paths); }

void DropZone::setCompact(bool compact) {
    if (compact == compact_)
        return;
    compact_ = compact;
    setFixedHeight(compact ? compactHeight : zoneHeight);
    update();
}

void DropZone::setHighlighted(bool highlighted) {
    if (highlighted == highlighted_)
        return;
    highlighted_ = highlighted;
    update();
}

void DropZone::mouseReleaseEvent(QMouseEvent* event) {
    QWidget::mouseReleaseEvent(event);
    if (rect().contains(event->position().toPoint()) && event->button() == Qt::LeftButton)
        Q_EMIT activated();
}

void DropZone::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Space:
        event->accept();
        Q_EMIT activated();
        return;
    default:
        QWidget::keyPressEvent(event);
    }
}

void DropZone::focusInEvent(QFocusEvent* event) {
    QWidget::focusInEvent(event);
    update();
}

void DropZone::focusOutEvent(QFocusEvent* event) {
    QWidget::focusOutEvent(event);
    update();
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
    const QColor highlight = palette().color(QPalette::Highlight);

    if (highlighted_) {
        QColor fill = highlight;
        fill.setAlphaF(0.15f);
        painter.setBrush(fill);
    } else {
        painter.setBrush(Qt::NoBrush);
    }
    // Pen dashes are measured in pen widths: 3 × 2 px gives 6 on, 6 off. A
    // focused or drag-highlighted zone is drawn solid in the highlight colour.
    const bool marked = highlighted_ || hasFocus();
    QPen pen(marked ? highlight : secondary, 2.0);
    if (!marked)
        pen.setDashPattern({3.0, 3.0});
    painter.setPen(pen);
    painter.drawRoundedRect(QRectF(rect()).adjusted(1, 1, -1, -1), 8, 8);

    const QFont titleFont = bodyFont();
    const QFont subtitleFont = captionFont();
    const QFontMetrics titleMetrics(titleFont);
    const QFontMetrics subtitleMetrics(subtitleFont);
    const QColor link = palette().color(QPalette::Link);
    if (compact_) {
        // One line: the title, then the way to the chooser.
        const QString hint = QStringLiteral("  \u2022  ") + openHint();
        const int titleWidth = titleMetrics.horizontalAdvance(title());
        const int hintWidth = titleMetrics.horizontalAdvance(hint);
        const int left = std::max(8, (width() - titleWidth - hintWidth) / 2);
        painter.setFont(titleFont);
        painter.setPen(secondary);
        painter.drawText(QRect(left, 0, titleWidth, height()), Qt::AlignLeft | Qt::AlignVCenter, title());
        painter.setPen(link);
        const int room = std::max(0, width() - left - titleWidth - 8);
        painter.drawText(QRect(left + titleWidth, 0, room, height()), Qt::AlignLeft | Qt::AlignVCenter,
                         room >= hintWidth ? hint : titleMetrics.elidedText(hint, Qt::ElideRight, room));
        return;
    }
    const int blockHeight =
        titleMetrics.height() + 2 * (titleSubtitleSpacing + subtitleMetrics.height());
    const int top = (height() - blockHeight) / 2;

    painter.setPen(secondary);
    painter.setFont(titleFont);
    painter.drawText(QRect(0, top, width(), titleMetrics.height()), Qt::AlignHCenter | Qt::AlignVCenter, title());
    painter.setFont(subtitleFont);
    int lineTop = top + titleMetrics.height() + titleSubtitleSpacing;
    painter.drawText(QRect(0, lineTop, width(), subtitleMetrics.height()), Qt::AlignHCenter | Qt::AlignVCenter,
                     subtitle());
    lineTop += subtitleMetrics.height() + titleSubtitleSpacing;
    painter.setPen(link);
    painter.drawText(QRect(0, lineTop, width(), subtitleMetrics.height()), Qt::AlignHCenter | Qt::AlignVCenter,
                     openHint());
}

}  // namespace meridane::ui
