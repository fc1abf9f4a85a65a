// SPDX-License-Identifier: GPL-3.0-or-later
// The results part of the window: the "Results" heading and the list while
// there are visible results, and the "Copy All Results" button below. It
// reads the batch run and the clipboard's text comes from the core's report.
#pragma once

#include <QPersistentModelIndex>
#include <QTreeView>
#include <QWidget>

#include <filesystem>
#include <functional>

class QLabel;
class QMenu;
class QPropertyAnimation;
class QPushButton;
class QToolButton;

namespace meridane {
class BatchRun;
struct ProcessingResultDetail;
}

namespace meridane::ui {

class ResultRowDelegate;
class ResultsModel;

/// A flat list with rows of their own heights, laid out lazily: only rows
/// that are shown are measured, so tens of thousands of rows stay cheap. It
/// takes keyboard focus: the arrow keys move between rows, Enter reveals the
/// current row's file, Ctrl+C copies its line, and the context menu offers
/// both. The row under the pointer, or else the current row, has real
/// buttons that take focus and screen readers announce.
class ResultsListView : public QTreeView {
    Q_OBJECT
public:
    explicit ResultsListView(QWidget* parent = nullptr);
    QSize sizeHint() const override;

    /// Scrolls so that the last row is at the bottom, with the style's
    /// animation when it has one.
    void scrollToNewest();
    QPropertyAnimation* scrollAnimation() const { return scrollAnimation_; }
    QToolButton* revealButton() const { return revealButton_; }
    QToolButton* copyButton() const { return copyButton_; }
    /// The row the real buttons are over, or an invalid index.
    QModelIndex rowWithButtons() const { return buttonRow_; }
    /// The row's context menu: reveal and copy.
    QMenu* rowMenu(const QModelIndex& index);

Q_SIGNALS:
    void revealRequested(const QModelIndex& index);
    void copyRequested(const QModelIndex& index);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    void updateGeometries() override;
    void currentChanged(const QModelIndex& current, const QModelIndex& previous) override;

private:
    ResultRowDelegate* rowDelegate() const;
    void placeButtons();

    QPropertyAnimation* scrollAnimation_;
    QWidget* buttons_;
    QToolButton* revealButton_;
    QToolButton* copyButton_;
    QPersistentModelIndex hovered_;
    QPersistentModelIndex buttonRow_;
    int laidOutWidth_ = -1;
};

class ResultsSection : public QWidget {
    Q_OBJECT
public:
    using Revealer = std::function<void(const std::filesystem::path&)>;

    explicit ResultsSection(BatchRun& run, QWidget* parent = nullptr);

    /// Replaces how a file is shown in the file manager (tests).
    void setRevealer(Revealer revealer);

    void revealResult(const ProcessingResultDetail& detail);
    void copyResult(const ProcessingResultDetail& detail);
    void copyAllResults();

    ResultsModel* model() const { return model_; }
    ResultsListView* list() const { return list_; }
    ResultRowDelegate* delegate() const { return delegate_; }
    QLabel* heading() const { return heading_; }
    QPushButton* copyAllButton() const { return copyAllButton_; }

Q_SIGNALS:
    /// The file could not be shown; the message says which and why.
    void revealFailed(const QString& message);
    /// A row or the report went to the clipboard.
    void copied();

private:
    void onVisibleCountChanged(int count);

    BatchRun& run_;
    ResultsModel* model_;
    ResultRowDelegate* delegate_;
    QLabel* heading_;
    ResultsListView* list_;
    QPushButton* copyAllButton_;
    Revealer revealer_;
};

}  // namespace meridane::ui
