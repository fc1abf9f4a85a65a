// The progress bar and its caption under the drop zone; present while the
// current or last run has files.
#pragma once

#include <QWidget>

#include <cstdint>
#include <string>

class QLabel;
class QProgressBar;

namespace meridane::ui {

/// "Processed 2/5 • IMG_0002.HEIC", or without the file part when none.
QString progressText(std::int64_t processed, std::int64_t total, const std::string& currentFile);

class ProgressBlock : public QWidget {
    Q_OBJECT
public:
    explicit ProgressBlock(QWidget* parent = nullptr);

    /// Shows the block while total > 0, hides it otherwise.
    void showProgress(std::int64_t processed, std::int64_t total, const std::string& currentFile);

    QString text() const;
    int value() const;
    int maximum() const;

private:
    QProgressBar* bar_;
    QLabel* label_;
};

}  // namespace meridane::ui
