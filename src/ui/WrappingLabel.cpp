// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/WrappingLabel.h"

#include <QResizeEvent>

namespace meridane::ui {

WrappingLabel::WrappingLabel(QWidget* parent) : QLabel(parent) {
    setTextFormat(Qt::PlainText);
    setWordWrap(true);
    // Its width never holds the window wide; the height follows the width.
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
}

int WrappingLabel::wrappedHeight() const { return heightForWidth(width()); }

QSize WrappingLabel::sizeHint() const { return {QLabel::sizeHint().width(), wrappedHeight()}; }

QSize WrappingLabel::minimumSizeHint() const { return {0, wrappedHeight()}; }

void WrappingLabel::resizeEvent(QResizeEvent* event) {
    QLabel::resizeEvent(event);
    // A new width may need another number of lines: the layout asks again.
    if (event->oldSize().width() != width() && heightForWidth(event->oldSize().width()) != wrappedHeight())
        updateGeometry();
}

}  // namespace meridane::ui
