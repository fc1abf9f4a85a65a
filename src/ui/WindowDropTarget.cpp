// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/WindowDropTarget.h"

#include "ui/DropZone.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QPainter>
#include <QWidget>

namespace meridane::ui {

namespace {

// The highlighted edge of the whole target; the pointer passes through it.
class DropFrame : public QWidget {
public:
    explicit DropFrame(QWidget* parent) : QWidget(parent) {
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setAttribute(Qt::WA_NoSystemBackground);
        hide();
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(QPen(palette().color(QPalette::Highlight), 3));
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(QRectF(rect()).adjusted(1.5, 1.5, -1.5, -1.5), 6, 6);
    }
};

}  // namespace

WindowDropTarget::WindowDropTarget(QWidget& target, DropZone& zone)
    : QObject(&target), target_(target), zone_(zone), frame_(new DropFrame(&target)) {
    frame_->setObjectName(QStringLiteral("dropFrame"));
    target_.setAcceptDrops(true);
    target_.installEventFilter(this);
}

bool WindowDropTarget::isHighlighted() const { return frame_->isVisible(); }

void WindowDropTarget::setHighlighted(bool highlighted) {
    zone_.setHighlighted(highlighted);
    if (highlighted) {
        frame_->setGeometry(target_.rect());
        frame_->raise();
        frame_->show();
    } else {
        frame_->hide();
    }
}

bool WindowDropTarget::eventFilter(QObject* watched, QEvent* event) {
    if (watched != &target_)
        return false;
    switch (event->type()) {
    case QEvent::DragEnter:
    case QEvent::DragMove: {
        auto* drag = static_cast<QDragMoveEvent*>(event);
        const bool takes = drag->mimeData()->hasUrls() && zone_.acceptsNow();
        if (takes)
            drag->acceptProposedAction();
        else
            drag->ignore();
        setHighlighted(takes);
        return true;
    }
    case QEvent::DragLeave:
        setHighlighted(false);
        return true;
    case QEvent::Drop: {
        auto* drop = static_cast<QDropEvent*>(event);
        setHighlighted(false);
        if (drop->mimeData()->hasUrls() && zone_.deliver(DropZone::localPaths(*drop->mimeData())))
            drop->acceptProposedAction();
        else
            drop->ignore();
        return true;
    }
    default:
        return false;
    }
}

}  // namespace meridane::ui
