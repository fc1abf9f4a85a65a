// SPDX-License-Identifier: GPL-3.0-or-later
// Makes a whole widget (the window's content) take drops of files and
// folders, wherever they land, and hands them to the drop zone's handler.
// While an acceptable drag is over the widget, its edge and the drop zone are
// drawn in the highlight colour.
#pragma once

#include <QObject>

class QWidget;

namespace meridane::ui {

class DropZone;

class WindowDropTarget : public QObject {
    Q_OBJECT
public:
    /// Installs itself on `target`, which it also parents to.
    WindowDropTarget(QWidget& target, DropZone& zone);

    bool isHighlighted() const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void setHighlighted(bool highlighted);

    QWidget& target_;
    DropZone& zone_;
    QWidget* frame_;
};

}  // namespace meridane::ui
