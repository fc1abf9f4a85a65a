// SPDX-License-Identifier: GPL-3.0-or-later
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
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPropertyAnimation>
#include <QPushButton>
#include <QScrollBar>
#include <QToolButton>
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

ResultsListView::ResultsListView(QWidget* parent)
    : QTreeView(parent),
      scrollAnimation_(new QPropertyAnimation(verticalScrollBar(), "value", this)),
      buttons_(new QWidget(viewport())),
      revealButton_(new QToolButton(buttons_)),
      copyButton_(new QToolButton(buttons_)) {
    setObjectName(QStringLiteral("resultsList"));
    setAccessibleName(QStringLiteral("Results"));
    setHeaderHidden(true);
    setRootIsDecorated(false);
    setItemsExpandable(false);
    setUniformRowHeights(false);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setFocusPolicy(Qt::StrongFocus);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    // Per row, so only the rows in view are ever measured.
    setVerticalScrollMode(QAbstractItemView::ScrollPerItem);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setMouseTracking(true);
    header()->setStretchLastSection(true);
    setMinimumHeight(minimumListHeight);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    scrollAnimation_->setEasingCurve(QEasingCurve::OutCubic);

    // Borderless until hovered or focused, like the labels painted on the
    // other rows; the link colour keeps the two alike.
    const std::pair<QToolButton*, QString> buttons[] = {{revealButton_, ResultRowDelegate::revealLabel()},
                                                        {copyButton_, ResultRowDelegate::copyLabel()}};
    for (const auto& [button, label] : buttons) {
        button->setText(label);
        button->setAccessibleName(label);
        button->setAutoRaise(true);
        button->setFocusPolicy(Qt::TabFocus);
        button->setFont(bodyFont());
        QPalette palette = button->palette();
        palette.setColor(QPalette::ButtonText, palette.color(QPalette::Link));
        button->setPalette(palette);
    }
    revealButton_->setObjectName(QStringLiteral("revealButton"));
    copyButton_->setObjectName(QStringLiteral("copyButton"));
    connect(revealButton_, &QToolButton::clicked, this, [this] {
        if (buttonRow_.isValid())
            Q_EMIT revealRequested(buttonRow_);
    });
    connect(copyButton_, &QToolButton::clicked, this, [this] {
        if (buttonRow_.isValid())
            Q_EMIT copyRequested(buttonRow_);
    });
    buttons_->hide();
}

QSize ResultsListView::sizeHint() const { return {QTreeView::sizeHint().width(), idealListHeight}; }

ResultRowDelegate* ResultsListView::rowDelegate() const { return qobject_cast<ResultRowDelegate*>(itemDelegate()); }

QMenu* ResultsListView::rowMenu(const QModelIndex& index) {
    auto* menu = new QMenu(this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    const QPersistentModelIndex row(index);
    connect(menu->addAction(ResultRowDelegate::revealLabel()), &QAction::triggered, this, [this, row] {
        if (row.isValid())
            Q_EMIT revealRequested(row);
    });
    connect(menu->addAction(ResultRowDelegate::copyLabel()), &QAction::triggered, this, [this, row] {
        if (row.isValid())
            Q_EMIT copyRequested(row);
    });
    return menu;
}

void ResultsListView::keyPressEvent(QKeyEvent* event) {
    const QModelIndex current = currentIndex();
    if (current.isValid() && event->matches(QKeySequence::Copy)) {
        Q_EMIT copyRequested(current);
        event->accept();
        return;
    }
    if (current.isValid() && (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter)) {
        Q_EMIT revealRequested(current);
        event->accept();
        return;
    }
    QTreeView::keyPressEvent(event);
}

void ResultsListView::contextMenuEvent(QContextMenuEvent* event) {
    const bool byMouse = event->reason() == QContextMenuEvent::Mouse;
    const QModelIndex index = byMouse ? indexAt(event->pos()) : currentIndex();
    if (!index.isValid())
        return;
    setCurrentIndex(index);
    const QPoint at = byMouse ? event->globalPos() : viewport()->mapToGlobal(visualRect(index).center());
    rowMenu(index)->popup(at);
}

void ResultsListView::mouseMoveEvent(QMouseEvent* event) {
    QTreeView::mouseMoveEvent(event);
    const QModelIndex index = indexAt(event->position().toPoint());
    if (index != hovered_) {
        hovered_ = index;
        placeButtons();
    }
}

void ResultsListView::leaveEvent(QEvent* event) {
    QTreeView::leaveEvent(event);
    hovered_ = QModelIndex();
    placeButtons();
}

// Rows wrap their text to the list's width: a new width needs new heights.
void ResultsListView::resizeEvent(QResizeEvent* event) {
    QTreeView::resizeEvent(event);
    if (viewport()->width() != laidOutWidth_) {
        laidOutWidth_ = viewport()->width();
        scheduleDelayedItemsLayout();
    }
    placeButtons();
}

void ResultsListView::scrollContentsBy(int dx, int dy) {
    QTreeView::scrollContentsBy(dx, dy);
    if (hovered_.isValid())
        hovered_ = indexAt(viewport()->mapFromGlobal(QCursor::pos()));
    placeButtons();
}

void ResultsListView::updateGeometries() {
    QTreeView::updateGeometries();
    placeButtons();
}

void ResultsListView::currentChanged(const QModelIndex& current, const QModelIndex& previous) {
    QTreeView::currentChanged(current, previous);
    placeButtons();
}

void ResultsListView::placeButtons() {
    ResultRowDelegate* rows = rowDelegate();
    // While one of the buttons has the focus it stays with its row.
    const bool focused = revealButton_->hasFocus() || copyButton_->hasFocus();
    const QModelIndex row = focused && buttonRow_.isValid() ? QModelIndex(buttonRow_)
                            : hovered_.isValid()            ? QModelIndex(hovered_)
                                                            : currentIndex();
    const QRect rowRect = row.isValid() ? visualRect(row) : QRect();
    if (!rows || rowRect.isEmpty()) {
        buttons_->hide();
        buttonRow_ = QModelIndex();
        if (rows)
            rows->setRowWithButtons(-1);
        return;
    }
    const QRect reveal = rows->buttonRect(rowRect, ResultRowDelegate::Button::reveal);
    const QRect copy = rows->buttonRect(rowRect, ResultRowDelegate::Button::copy);
    const QRect both = reveal.united(copy);
    buttons_->setGeometry(both);
    revealButton_->setGeometry(reveal.translated(-both.topLeft()));
    copyButton_->setGeometry(copy.translated(-both.topLeft()));
    if (buttonRow_ != row) {
        buttonRow_ = row;
        const QString name = row.data(ResultsModel::FileNameRole).toString();
        revealButton_->setAccessibleDescription(name);
        copyButton_->setAccessibleDescription(name);
        rows->setRowWithButtons(row.row());
        viewport()->update();
    }
    buttons_->show();
}

void ResultsListView::scrollToNewest() {
    executeDelayedItemsLayout();
    QScrollBar* bar = verticalScrollBar();
    const int target = bar->maximum();
    scrollAnimation_->stop();
    // Asked without the widget: styles answer 0 for tree views, whose
    // expanding they do not animate, and that is not what this is.
    const int duration = style()->styleHint(QStyle::SH_Widget_Animation_Duration);
    if (duration <= 0 || !isVisible() || bar->value() == target) {
        bar->setValue(target);
        return;
    }
    scrollAnimation_->setDuration(duration);
    scrollAnimation_->setStartValue(bar->value());
    scrollAnimation_->setEndValue(target);
    scrollAnimation_->start();
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
    connect(reveal, &FileManagerReveal::revealFailed, this, &ResultsSection::revealFailed);

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
    const auto copyRow = [this](const QModelIndex& index) { copyResult(model_->detail(index.row())); };
    const auto revealRow = [this](const QModelIndex& index) { revealResult(model_->detail(index.row())); };
    connect(delegate_, &ResultRowDelegate::copyClicked, this, copyRow);
    connect(delegate_, &ResultRowDelegate::revealClicked, this, revealRow);
    connect(list_, &ResultsListView::copyRequested, this, copyRow);
    connect(list_, &ResultsListView::revealRequested, this, revealRow);
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
    Q_EMIT copied();
}

void ResultsSection::copyAllResults() {
    putOnClipboard(allResultsReport(run_.visibleResults(), run_.options(), std::chrono::system_clock::now(),
                                    run_.undoneRunId()));
    Q_EMIT copied();
}

void ResultsSection::onVisibleCountChanged(int count) {
    const bool any = count > 0;
    heading_->setVisible(any);
    list_->setVisible(any);
    copyAllButton_->setEnabled(any);
    if (any)
        list_->scrollToNewest();
}

}  // namespace meridane::ui
