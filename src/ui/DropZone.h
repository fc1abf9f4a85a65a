// SPDX-License-Identifier: GPL-3.0-or-later
// The dashed, rounded area that files and folders are dropped on. It only
// collects the dropped local paths, in drop order, and hands them on; whether
// a drop is taken is up to the handler. It is also a button: a click, Enter
// or Space asks for the chooser (activated). With results shown it shrinks
// to a slim bar; drops land anywhere in the window (WindowDropTarget).
#pragma once

#include <QWidget>

#include <filesystem>
#include <functional>
#include <vector>

class QMimeData;

namespace meridane::ui {

class DropZone : public QWidget {
    Q_OBJECT
public:
    static constexpr int zoneHeight = 120;
    static constexpr int compactHeight = 36;

    /// Returns whether the drop is accepted.
    using DropHandler = std::function<bool(const std::vector<std::filesystem::path>&)>;
    /// Whether a drop would be accepted now (drives the drag cursor).
    using AcceptQuery = std::function<bool()>;

    explicit DropZone(QWidget* parent = nullptr);

    void setDropHandler(DropHandler handler);
    void setAcceptQuery(AcceptQuery query);

    /// The local files and folders of a drop, in drop order, with the exact
    /// bytes of their names; other URLs are passed over without a message.
    static std::vector<std::filesystem::path> localPaths(const QMimeData& mimeData);

    QString title() const;
    QString subtitle() const;
    static QString openHint();

    /// Hands dropped paths to the handler; whether it took them.
    bool deliver(const std::vector<std::filesystem::path>& paths);
    bool acceptsNow() const;

    /// The slim bar of a window that shows results.
    void setCompact(bool compact);
    bool isCompact() const { return compact_; }
    /// Drawn in the highlight colour while a drag is over the window.
    void setHighlighted(bool highlighted);
    bool isHighlighted() const { return highlighted_; }

Q_SIGNALS:
    /// Clicked, or Enter/Space while focused, or pressed by assistive technology.
    void activated();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    DropHandler dropHandler_;
    AcceptQuery acceptQuery_;
    bool compact_ = false;
    bool highlighted_ = false;
};

}  // namespace meridane::ui
