#include "ui/ResultsSection.h"

#include "engine/BatchRun.h"
#include "engine/Report.h"
#include "ui/FileManagerReveal.h"
#include "ui/ResultRowDelegate.h"
#include "ui/ResultsModel.h"
#include "ui/UiStyle.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QVBoxLayout>

#include <chrono>

namespace meridane::ui {

namespace {

constexpr int minimumListHeight = 200;
constexpr int idealListHeight = 260;

void putOnClipboard(const std::string& text) {
    QClipboard* clipboard = QGuiApplication::clipboard();
    clipboard->clear();
    clipboard->setText(QString::fromStdString(text));
}

}  // namespace

ResultsListView::ResultsListView(QWidget* parent) : QTreeView(parent) {
    setObjectName(QStringLiteral("resultsList"));
    setHeaderHidden(true);
    setRootIsDecorated(false);
    setItemsExpandable(false);
    setUniformRowHeights(false);
    setSelectionMode(QAbstractItemView::NoSelection);
    setFocusPolicy(Qt::NoFocus);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setMouseTracking(true);
    header()->setStretchLastSection(true);
    setMinimumHeight(minimumListHeight);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
}

QSize ResultsListView::sizeHint() const { return {QTreeView::sizeHint().width(), idealListHeight}; }

void ResultsListView::mouseMoveEvent(QMouseEvent* event) {
    QTreeView::mouseMoveEvent(event);
    const QPoint point = event->position().toPoint();
    const QModelIndex index = indexAt(point);
    auto* rowDelegate = qobject_cast<ResultRowDelegate*>(itemDelegate());
    const bool overButton = index.isValid() && rowDelegate &&
                            rowDelegate->buttonAt(visualRect(index), point) != ResultRowDelegate::Button::none;
    viewport()->setCursor(overButton ? Qt::PointingHandCursor : Qt::ArrowCursor);
}

ResultsSection::ResultsSection(BatchRun& run, QWidget* parent)
    : QWidget(parent),
      run_(run),
      model_(new ResultsModel(run, this)),
      delegate_(new ResultRowDelegate(this)),
      heading_(new QLabel(QStringLiteral("Results"), this)),
      list_(new ResultsListView(this)),
      copyAllButton_(new QPushButton(QStringLiteral("Copy All Results"), this)) {
    setObjectName(QStringLiteral("resultsSection"));
    auto* reveal = new FileManagerReveal(this);
    revealer_ = [reveal](const std::filesystem::path& file) { reveal->reveal(file); };

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(12);

    heading_->setObjectName(QStringLiteral("resultsHeading"));
    heading_->setFont(headlineFont());
    layout->addWidget(heading_);

    list_->setModel(model_);
    list_->setItemDelegate(delegate_);
    layout->addWidget(list_, 1);

    auto* buttonRow = new QHBoxLayout;
    copyAllButton_->setObjectName(QStringLiteral("copyAllResults"));
    buttonRow->addWidget(copyAllButton_);
    buttonRow->addStretch(1);
    layout->addLayout(buttonRow);
    // Without a list the button stays right under what is above it.
    layout->addStretch(0);

    connect(copyAllButton_, &QPushButton::clicked, this, &ResultsSection::copyAllResults);
    connect(delegate_, &ResultRowDelegate::copyClicked, this,
            [this](const QModelIndex& index) { copyResult(model_->detail(index.row())); });
    connect(delegate_, &ResultRowDelegate::revealClicked, this,
            [this](const QModelIndex& index) { revealResult(model_->detail(index.row())); });
    connect(model_, &ResultsModel::visibleCountChanged, this, &ResultsSection::onVisibleCountChanged);
    connect(model_, &QAbstractItemModel::modelReset, this, [this] { onVisibleCountChanged(model_->rowCount()); });
    onVisibleCountChanged(model_->rowCount());
}

void ResultsSection::setRevealer(Revealer revealer) { revealer_ = std::move(revealer); }

void ResultsSection::revealResult(const ProcessingResultDetail& detail) {
    if (revealer_)
        revealer_(detail.filePath);
}

void ResultsSection::copyResult(const ProcessingResultDetail& detail) {
    putOnClipboard(resultLine(detail));
}

void ResultsSection::copyAllResults() {
    putOnClipboard(allResultsReport(run_.visibleResults(), run_.options(), std::chrono::system_clock::now()));
}

void ResultsSection::onVisibleCountChanged(int count) {
    const bool any = count > 0;
    heading_->setVisible(any);
    list_->setVisible(any);
    copyAllButton_->setEnabled(any);
    if (any)
        list_->scrollToBottom();
}

}  // namespace meridane::ui
