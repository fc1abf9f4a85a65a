// SPDX-License-Identifier: GPL-3.0-or-later
// The dashed, rounded area that files and folders are dropped on. It only
// collects the dropped local paths, in drop order, and hands them on; whether
// a drop is taken is up to the handler.
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

protected:
    void paintEvent(QPaintEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    bool acceptsNow() const;

    DropHandler dropHandler_;
    AcceptQuery acceptQuery_;
};

}  // namespace meridane::ui
