// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/ResultsSection.h"

#include "engine/BatchRun.h"
#include "engine/Report.h"
#include "ui/FileManagerReveal.h"
#include "ui/ResultRowDelegate.h"
#include "ui/ResultsModel.h"
#include "ui/RunTexts.h"
#include "ui/UiStyle.h"
#include "ui/WrappingLabel.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QButtonGroup>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QPropertyAnimation>
#include <QPushButton>
#include <QScrollBar>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <chrono>

namespace meridane::ui {

namespace {

// Small enough for a laptop at 200 %; the list takes whatever room is left.
constexpr int minimumListHeight = 96;
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
    setSelectionMode(QAbstractItemView::ExtendedSelection);
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
        Q_EMIT copyRowsRequested(rowsToCopy());
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

QModelIndexList ResultsListView::rowsToCopy() const {
    QModelIndexList rows = selectionModel() ? selectionModel()->selectedRows() : QModelIndexList();
    if (rows.isEmpty() && currentIndex().isValid())
        rows.append(currentIndex());
    std::sort(rows.begin(), rows.end(), [](const QModelIndex& a, const QModelIndex& b) { return a.row() < b.row(); });
    return rows;
}

void ResultsListView::setButtonHost(QWidget* host) {
    buttons_->setParent(host);
    placeButtons();
}

void ResultsListView::followNewest() {
    following_ = true;
    if (!model() || model()->rowCount() == 0)
        return;
    const QModelIndex newest = model()->index(model()->rowCount() - 1, 0);
    if (currentIndex() != newest) {
        movingProgrammatically_ = true;
        selectionModel()->setCurrentIndex(newest, QItemSelectionModel::NoUpdate);
        movingProgrammatically_ = false;
    }
    scrollToNewest();
}

void ResultsListView::mousePressEvent(QMouseEvent* event) {
    QTreeView::mousePressEvent(event);
    if (indexAt(event->position().toPoint()).isValid())
        following_ = false;
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
    // Moving onto the row's own buttons does not leave the row.
    if (buttons_->isVisible() && buttons_->rect().contains(buttons_->mapFromGlobal(QCursor::pos())))
        return;
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

void ResultsListView::selectionChanged(const QItemSelection& selected, const QItemSelection& deselected) {
    QTreeView::selectionChanged(selected, deselected);
    placeButtons();
}

void ResultsListView::currentChanged(const QModelIndex& current, const QModelIndex& previous) {
    QTreeView::currentChanged(current, previous);
    if (!movingProgrammatically_ && current.isValid() && previous.isValid())
        following_ = false;
    placeButtons();
}

void ResultsListView::placeButtons() {
    ResultRowDelegate* rows = rowDelegate();
    // While one of the buttons has the focus it stays with its row.
    const bool focused = revealButton_->hasFocus() || copyButton_->hasFocus();
    const QModelIndex row = focused && buttonRow_.isValid() ? QModelIndex(buttonRow_)
                            : hovered_.isValid()            ? QModelIndex(hovered_)
                                                            : currentIndex();
    // visualRect of a row far out of view would measure every row between
    // it and the view: rows outside the view are not asked.
    const QModelIndex first = indexAt(QPoint(0, 0));
    const QModelIndex last = indexAt(QPoint(0, viewport()->height() - 1));
    const bool inView = row.isValid() && first.isValid() && row.row() >= first.row() &&
                        (!last.isValid() || row.row() <= last.row());
    const QRect rowRect = inView ? visualRect(row) : QRect();
    const QRect reveal = rows ? rows->buttonRect(rowRect, ResultRowDelegate::Button::reveal) : QRect();
    const QRect copy = rows ? rows->buttonRect(rowRect, ResultRowDelegate::Button::copy) : QRect();
    const QRect both = reveal.united(copy);
    // Buttons of a row scrolled partly out of view would hang over what is
    // around the list.
    if (!rows || rowRect.isEmpty() || !viewport()->rect().contains(both) || !isVisible()) {
        buttons_->hide();
        buttonRow_ = QModelIndex();
        if (rows)
            rows->setRowWithButtons(-1);
        return;
    }
    QWidget* host = buttons_->parentWidget();
    buttons_->setGeometry(QRect(viewport()->mapTo(host, both.topLeft()), both.size()));
    buttons_->raise();
    const bool selected = selectionModel() && selectionModel()->isSelected(row);
    for (QToolButton* button : {revealButton_, copyButton_}) {
        QPalette colours = button->palette();
        colours.setColor(QPalette::ButtonText, palette().color(selected ? QPalette::HighlightedText : QPalette::Link));
        button->setPalette(colours);
    }
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
      originLabel_(new QLabel(this)),
      writeChangesButton_(new QPushButton(this)),
      filterRow_(new QWidget(this)),
      filterButtons_{new QToolButton(filterRow_), new QToolButton(filterRow_), new QToolButton(filterRow_)},
      search_(new QLineEdit(filterRow_)),
      list_(new ResultsListView(this)),
      summary_(new WrappingLabel(this)),
      copyAllButton_(new QPushButton(QStringLiteral("Copy All Results"), this)) {
    setObjectName(QStringLiteral("resultsSection"));
    auto* reveal = new FileManagerReveal(this);
    revealer_ = [reveal](const std::filesystem::path& file) { reveal->reveal(file); };
    connect(reveal, &FileManagerReveal::revealFailed, this, &ResultsSection::revealFailed);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(8);

    // "Results", what they come from, and the way on from a dry run.
    auto* headingRow = new QHBoxLayout;
    heading_->setObjectName(QStringLiteral("resultsHeading"));
    heading_->setFont(headlineFont());
    headingRow->addWidget(heading_);
    originLabel_->setObjectName(QStringLiteral("resultsOrigin"));
    originLabel_->setFont(captionFont());
    originLabel_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    headingRow->addWidget(originLabel_, 1);
    writeChangesButton_->setObjectName(QStringLiteral("writeChanges"));
    writeChangesButton_->hide();
    headingRow->addWidget(writeChangesButton_);
    layout->addLayout(headingRow);

    auto* filters = new QHBoxLayout(filterRow_);
    filters->setContentsMargins(0, 0, 0, 0);
    filters->setSpacing(4);
    auto* group = new QButtonGroup(this);
    const char* names[] = {"All", "Changes", "Problems"};
    for (int i = 0; i < 3; ++i) {
        QToolButton* button = filterButtons_[i];
        button->setText(QString::fromLatin1(names[i]));
        button->setAccessibleName(button->text());
        button->setObjectName(QStringLiteral("filter") + button->text());
        button->setCheckable(true);
        button->setToolTip(i == 1 ? QStringLiteral("Updated or would update")
                           : i == 2 ? QStringLiteral("Failed, GPS differs, not found or unsupported")
                                    : QStringLiteral("Every row"));
        group->addButton(button, i);
        filters->addWidget(button);
    }
    filterButtons_[0]->setChecked(true);
    filters->addSpacing(8);
    search_->setObjectName(QStringLiteral("searchField"));
    search_->setPlaceholderText(QStringLiteral("Search names"));
    search_->setAccessibleName(QStringLiteral("Search names"));
    search_->setClearButtonEnabled(true);
    for (QToolButton* clear : search_->findChildren<QToolButton*>())
        clear->setAccessibleName(QStringLiteral("Clear search"));
    search_->setAcceptDrops(false);  // dropped files start a run, wherever they land
    filters->addWidget(search_, 1);
    layout->addWidget(filterRow_);

    list_->setModel(model_);
    list_->setItemDelegate(delegate_);
    list_->setButtonHost(this);
    layout->addWidget(list_, 1);
    setTabOrder(list_, list_->revealButton());
    setTabOrder(list_->revealButton(), list_->copyButton());

    summary_->setObjectName(QStringLiteral("resultsSummary"));
    summary_->setFont(captionFont());
    // It wraps rather than being cut at the window's edge: its last counts
    // are the failures.
    layout->addWidget(summary_);

    auto* buttonRow = new QHBoxLayout;
    copyAllButton_->setObjectName(QStringLiteral("copyAllResults"));
    buttonRow->addWidget(copyAllButton_);
    buttonRow->addStretch(1);
    layout->addLayout(buttonRow);
    // Without a list the button stays right under what is above it.
    layout->addStretch(0);

    connect(group, &QButtonGroup::idClicked, this,
            [this](int id) { model_->setFilter(static_cast<ResultsModel::Filter>(id)); });
    connect(search_, &QLineEdit::textChanged, model_, &ResultsModel::setSearchText);
    connect(copyAllButton_, &QPushButton::clicked, this, &ResultsSection::copyAllResults);
    const auto copyRow = [this](const QModelIndex& index) { copyResult(model_->detail(index.row())); };
    const auto revealRow = [this](const QModelIndex& index) { revealResult(model_->detail(index.row())); };
    connect(delegate_, &ResultRowDelegate::copyClicked, this, copyRow);
    connect(delegate_, &ResultRowDelegate::revealClicked, this, revealRow);
    connect(list_, &ResultsListView::copyRequested, this, copyRow);
    connect(list_, &ResultsListView::copyRowsRequested, this, &ResultsSection::copyRows);
    connect(list_, &ResultsListView::revealRequested, this, revealRow);
    connect(model_, &ResultsModel::visibleCountChanged, this, &ResultsSection::onVisibleCountChanged);
    connect(model_, &QAbstractItemModel::modelReset, this, [this] { onVisibleCountChanged(model_->rowCount()); });
    connect(model_, &ResultsModel::countsChanged, this, &ResultsSection::showCounts);
    // The origin is fixed when the run starts: the switch describes the next run.
    connect(&run_, &BatchRun::collectingStarted, this, [this] {
        origin_ = !run_.undoneRunId().empty() ? Origin::undo
                  : run_.options().dryRun    ? Origin::dryRun
                                             : Origin::writeRun;
        originLabel_->setText(originText(origin_));
        list_->followNewest();
    });
    // The Dry Run switch stays usable during a run and takes effect for the
    // files after it: once one is written, the run is not "nothing written".
    connect(&run_, &BatchRun::resultRecorded, this, [this](const ProcessingResultDetail& detail) {
        if (origin_ != Origin::dryRun)
            return;
        if (const auto* updated = detail.result.get<ProcessingResult::Updated>(); updated && !updated->dryRun) {
            origin_ = Origin::writeRun;
            originLabel_->setText(originText(origin_));
        }
    });
    onVisibleCountChanged(model_->rowCount());
}

QString ResultsSection::originText(Origin origin) {
    switch (origin) {
    case Origin::dryRun:
        return QStringLiteral("Dry run \u2014 nothing was written");
    case Origin::writeRun:
        return QStringLiteral("Write run");
    case Origin::undo:
        return QStringLiteral("Undo of a write run");
    case Origin::none:
        break;
    }
    return {};
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

void ResultsSection::copyRows(const QModelIndexList& rows) {
    std::string text;
    for (const QModelIndex& row : rows) {
        if (!text.empty())
            text += '\n';
        text += resultLine(model_->detail(row.row()));
    }
    if (!text.empty())
        putOnClipboard(text);
}

// The report holds what the list shows, filter and search included.
void ResultsSection::copyAllResults() {
    putOnClipboard(allResultsReport(model_->shownDetails(), run_.options(), std::chrono::system_clock::now(),
                                    run_.undoneRunId()));
    Q_EMIT copied();
}

void ResultsSection::showCounts() {
    summary_->setText(summaryLineText(model_->counts()));
    summary_->setToolTip(summary_->text());
    summary_->setVisible(model_->counts().total > 0);
    onVisibleCountChanged(model_->rowCount());
}

void ResultsSection::onVisibleCountChanged(int count) {
    const bool any = count > 0;
    // A filter that matches nothing keeps itself and the list in view.
    const bool shown = any || (model_->isNarrowed() && model_->counts().total > 0);
    heading_->setVisible(shown);
    originLabel_->setVisible(shown);
    filterRow_->setVisible(shown);
    list_->setVisible(shown);
    copyAllButton_->setEnabled(any);
    if (any && list_->isFollowingNewest())
        list_->followNewest();
}

}  // namespace meridane::ui
