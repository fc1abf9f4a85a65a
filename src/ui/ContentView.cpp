// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/ContentView.h"

#include "engine/BatchRun.h"
#include "ui/DropZone.h"
#include "ui/MessageBar.h"
#include "ui/ProgressBlock.h"
#include "ui/ResultsModel.h"
#include "ui/ResultsSection.h"
#include "ui/UiStyle.h"
#include "ui/WindowMessages.h"
#include "ui/WindowDropTarget.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMimeData>
#include <QTimer>
#include <QVBoxLayout>

namespace meridane::ui {

ContentView::ContentView(BatchRun& run, QWidget* parent)
    : QWidget(parent),
      run_(run),
      title_(new QLabel(QStringLiteral("Meridane"), this)),
      badge_(new QLabel(badgeText(), this)),
      dryRunSwitch_(new QCheckBox(QStringLiteral("Dry Run"), this)),
      silentSwitch_(new QCheckBox(QStringLiteral("Silently Ignore Skipped"), this)),
      dropZone_(new DropZone(this)),
      progress_(new ProgressBlock(this)),
      results_(new ResultsSection(run, this)),
      messageBar_(new MessageBar(this)),
      messages_(new WindowMessages(run, *messageBar_, this)) {
    setObjectName(QStringLiteral("contentView"));
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(16, 16, 16, 16);
    column->setSpacing(12);

    auto* header = new QHBoxLayout;
    header->setSpacing(8);
    title_->setObjectName(QStringLiteral("title"));
    title_->setFont(title2Font());
    header->addWidget(title_);
    badge_->setObjectName(QStringLiteral("dryRunBadge"));
    badge_->setFont(captionFont());
    badge_->setStyleSheet(QStringLiteral("QLabel { color: %1; border: 1px solid %1; border-radius: 4px;"
                                         " padding: 2px 6px; }")
                              .arg(badgeColor(palette()).name()));
    header->addWidget(badge_, 0, Qt::AlignVCenter);
    header->addStretch(1);
    column->addLayout(header);

    auto* switches = new QHBoxLayout;
    switches->setSpacing(16);
    dryRunSwitch_->setObjectName(QStringLiteral("dryRunSwitch"));
    dryRunSwitch_->setToolTip(QStringLiteral("Simulates the update without actually modifying any XMP files."));
    silentSwitch_->setObjectName(QStringLiteral("silentSwitch"));
    silentSwitch_->setToolTip(QStringLiteral("Hide skipped files from the results list."));
    switches->addWidget(dryRunSwitch_);
    switches->addWidget(silentSwitch_);
    switches->addStretch(1);
    column->addLayout(switches);

    dropZone_->setDropHandler([this](const std::vector<std::filesystem::path>& paths) { return handleDrop(paths); });
    dropZone_->setAcceptQuery([this] { return !run_.isProcessing(); });
    column->addWidget(messageBar_);
    new WindowDropTarget(*this, *dropZone_);
    column->addWidget(dropZone_);
    column->addWidget(progress_);
    column->addWidget(results_, 1);

    showOptions();
    connect(dryRunSwitch_, &QCheckBox::toggled, this, &ContentView::applySwitches);
    connect(silentSwitch_, &QCheckBox::toggled, this, &ContentView::applySwitches);
    connect(results_, &ResultsSection::revealFailed, messages_, &WindowMessages::revealFailed);
    connect(results_, &ResultsSection::copied, messages_, &WindowMessages::copied);
    connect(&run_, &BatchRun::optionsChanged, this, &ContentView::showOptions);
    connect(&run_, &BatchRun::runReset, this, &ContentView::refreshProgress);
    connect(&run_, &BatchRun::collectingStarted, this, &ContentView::refreshProgress);
    connect(&run_, &BatchRun::collectingFinished, this, &ContentView::refreshProgress);
    connect(&run_, &BatchRun::runStarted, this, &ContentView::refreshProgress);
    connect(&run_, &BatchRun::runFinished, this, &ContentView::refreshProgress);
    connect(&run_, &BatchRun::resultRecorded, this, &ContentView::scheduleProgressRefresh);
    refreshProgress();
}

QString ContentView::badgeText() { return QStringLiteral("Dry Run - No Changes Made"); }

bool ContentView::handleDrop(const std::vector<std::filesystem::path>& paths) {
    return messages_->startRun(paths);
}

bool ContentView::handleDrop(const QMimeData& mimeData) { return handleDrop(DropZone::localPaths(mimeData)); }

void ContentView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    run_.syncProcessingOptions();
}

void ContentView::applySwitches() {
    ProcessingOptionValues options = run_.options();
    options.dryRun = dryRunSwitch_->isChecked();
    options.silentlyIgnoreSkipped = silentSwitch_->isChecked();
    if (options != run_.options())
        run_.setOptions(options);
}

void ContentView::showOptions() {
    const ProcessingOptionValues& options = run_.options();
    const QSignalBlocker blockDryRun(dryRunSwitch_);
    const QSignalBlocker blockSilent(silentSwitch_);
    dryRunSwitch_->setChecked(options.dryRun);
    silentSwitch_->setChecked(options.silentlyIgnoreSkipped);
    badge_->setVisible(options.dryRun);
}

void ContentView::refreshProgress() {
    progressRefreshPending_ = false;
    dropZone_->setCompact(run_.isCollecting() || run_.totalCount() > 0);
    if (run_.isCollecting())
        progress_->showCollecting();
    else
        progress_->showProgress(run_.processedCount(), run_.totalCount(), run_.currentFile());
}

// Results can arrive far faster than anyone reads a counter; update the
// text at the pace the list takes in new rows.
void ContentView::scheduleProgressRefresh() {
    if (progressRefreshPending_)
        return;
    progressRefreshPending_ = true;
    QTimer::singleShot(ResultsModel::batchIntervalMs, this, [this] {
        if (progressRefreshPending_)
            refreshProgress();
    });
}

}  // namespace meridane::ui
