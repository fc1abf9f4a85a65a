// The results part of the window: the "Results" heading and the list while
// there are visible results, and the "Copy All Results" button below. It
// reads the batch run and the clipboard's text comes from the core's report.
#pragma once

#include <QTreeView>
#include <QWidget>

#include <filesystem>
#include <functional>

class QLabel;
class QPushButton;

namespace meridane {
class BatchRun;
struct ProcessingResultDetail;
}

namespace meridane::ui {

class ResultRowDelegate;
class ResultsModel;

/// A flat list with rows of their own heights, laid out lazily: only rows
/// that are shown are measured, so tens of thousands of rows stay cheap.
class ResultsListView : public QTreeView {
    Q_OBJECT
public:
    explicit ResultsListView(QWidget* parent = nullptr);
    QSize sizeHint() const override;

protected:
    void mouseMoveEvent(QMouseEvent* event) override;
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
