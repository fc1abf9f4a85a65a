// SPDX-License-Identifier: GPL-3.0-or-later
// The progress bar and its caption under the drop zone; present while the
// dropped items are being walked, and while the current or last run has files.
#pragma once

#include <QWidget>

#include <cstdint>
#include <string>

class QLabel;
class QProgressBar;

namespace meridane::ui {

/// "Processed 2/5 • IMG_0002.HEIC", or without the file part when none.
QString progressText(std::int64_t processed, std::int64_t total, const std::string& currentFile);

/// "Collecting files…", while the dropped folders are being searched.
QString collectingText();

class ProgressBlock : public QWidget {
    Q_OBJECT
public:
    explicit ProgressBlock(QWidget* parent = nullptr);

    /// Shows the block while total > 0, hides it otherwise.
    void showProgress(std::int64_t processed, std::int64_t total, const std::string& currentFile);
    /// Shows the block with a busy bar and collectingText(): the number of
    /// files is not known yet.
    void showCollecting();
    /// Whether the bar is the busy one of showCollecting.
    bool isBusy() const;

    QString text() const;
    int value() const;
    int maximum() const;

private:
    QProgressBar* bar_;
    QLabel* label_;
};

}  // namespace meridane::ui
