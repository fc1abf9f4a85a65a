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
class QLineEdit;
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
/// takes keyboard focus: the arrow keys move between rows (Shift and Ctrl
/// extend the selection, Ctrl+A selects all), Enter reveals the current
/// row's file, Ctrl+C copies the selected rows' lines, and the context menu
/// offers reveal and copy. The row under the pointer, or else the current
/// row, has real buttons that take focus and screen readers announce; they
/// live beside the list (setButtonHost) so the accessibility tree has them.
/// While the user has not moved, the newest row is the current one.
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
    /// The widget the real buttons are children of; the list's parent.
    void setButtonHost(QWidget* host);
    /// The selected rows in order, or the current row when none is selected.
    QModelIndexList rowsToCopy() const;
    /// Whether the newest row becomes the current one as rows arrive (until
    /// the user moves; a new run starts following again).
    bool isFollowingNewest() const { return following_; }
    void followNewest();

Q_SIGNALS:
    void revealRequested(const QModelIndex& index);
    void copyRequested(const QModelIndex& index);
    void copyRowsRequested(const QModelIndexList& rows);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    void updateGeometries() override;
    void currentChanged(const QModelIndex& current, const QModelIndex& previous) override;
    void mousePressEvent(QMouseEvent* event) override;
    void selectionChanged(const QItemSelection& selected, const QItemSelection& deselected) override;

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
    bool following_ = true;
    bool movingProgrammatically_ = false;
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
    /// The lines of the rows, in order, joined with newlines.
    void copyRows(const QModelIndexList& rows);

    /// What the rows come from, whatever the Dry Run switch says now.
    enum class Origin { none, dryRun, writeRun, undo };
    Origin origin() const { return origin_; }
    static QString originText(Origin origin);

    ResultsModel* model() const { return model_; }
    QLabel* originLabel() const { return originLabel_; }
    QLabel* summaryLabel() const { return summary_; }
    QPushButton* writeChangesButton() const { return writeChangesButton_; }
    QToolButton* filterButton(int filter) const { return filterButtons_[filter]; }
    QLineEdit* searchField() const { return search_; }
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
    void showCounts();

    BatchRun& run_;
    ResultsModel* model_;
    ResultRowDelegate* delegate_;
    QLabel* heading_;
    QLabel* originLabel_;
    QPushButton* writeChangesButton_;
    QWidget* filterRow_;
    QToolButton* filterButtons_[3];
    QLineEdit* search_;
    ResultsListView* list_;
    QLabel* summary_;
    QPushButton* copyAllButton_;
    Origin origin_ = Origin::none;
    Revealer revealer_;
};

}  // namespace meridane::ui
