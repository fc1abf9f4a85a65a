// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/ProgressBlock.h"

#include "base/ControlText.h"
#include "ui/RunTexts.h"
#include "ui/UiStyle.h"

#include <QLabel>
#include <QProgressBar>
#include <QVBoxLayout>

#include <algorithm>
#include <limits>

namespace meridane::ui {

QString progressText(std::int64_t processed, std::int64_t total, const std::string& currentFile) {
    QString text = QStringLiteral("Processed %1/%2").arg(countText(processed), countText(total));
    if (!currentFile.empty())
        text += QStringLiteral(" \u2022 ") + QString::fromStdString(text::escapedControls(currentFile));
    return text;
}

QString collectingText() { return QStringLiteral("Collecting files\u2026"); }

ProgressBlock::ProgressBlock(QWidget* parent)
    : QWidget(parent), bar_(new QProgressBar(this)), label_(new QLabel(this)) {
    setObjectName(QStringLiteral("progressBlock"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(8);

    bar_->setObjectName(QStringLiteral("progressBar"));
    bar_->setAccessibleName(QStringLiteral("Progress"));
    bar_->setTextVisible(false);
    bar_->setRange(0, 1);
    bar_->setValue(0);
    layout->addWidget(bar_);

    label_->setObjectName(QStringLiteral("progressText"));
    label_->setFont(captionFont());
    QPalette palette = label_->palette();
    palette.setColor(QPalette::WindowText, secondaryTextColor(palette));
    label_->setPalette(palette);
    label_->setTextFormat(Qt::PlainText);
    // A long file name must not widen the window.
    label_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    layout->addWidget(label_);

    setVisible(false);
}

void ProgressBlock::showProgress(std::int64_t processed, std::int64_t total, const std::string& currentFile) {
    if (total <= 0) {
        setVisible(false);
        return;
    }
    // QProgressBar counts in int; scale larger runs so the bar still fills.
    constexpr std::int64_t limit = std::numeric_limits<int>::max();
    const std::int64_t divisor = total > limit ? total / limit + 1 : 1;
    bar_->setRange(0, static_cast<int>(total / divisor));
    bar_->setValue(static_cast<int>(std::clamp<std::int64_t>(processed, 0, total) / divisor));
    label_->setText(progressText(processed, total, currentFile));
    bar_->setAccessibleDescription(label_->text());
    setVisible(true);
}

void ProgressBlock::showCollecting() {
    bar_->setRange(0, 0);  // a moving bar: how many files there are is not known yet
    label_->setText(collectingText());
    setVisible(true);
}

bool ProgressBlock::isBusy() const { return bar_->minimum() == 0 && bar_->maximum() == 0; }

QString ProgressBlock::text() const { return label_->text(); }
int ProgressBlock::value() const { return bar_->value(); }
int ProgressBlock::maximum() const { return bar_->maximum(); }

}  // namespace meridane::ui
