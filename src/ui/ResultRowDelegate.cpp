// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/ResultRowDelegate.h"

#include "engine/ProcessingResult.h"
#include "ui/ResultIcons.h"
#include "ui/ResultsModel.h"
#include "ui/UiStyle.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QTextLayout>

#include <algorithm>

namespace meridane::ui {

namespace {

constexpr int sideMargin = 8;
constexpr int verticalPadding = 4;  // 2 of the row's own plus 2 of list inset
constexpr int itemSpacing = 10;
constexpr int iconFrameWidth = 18;
constexpr int iconSize = 16;
constexpr int lineSpacing = 2;
constexpr int buttonPadding = 6;
constexpr int minimumTextWidth = 120;

// A row of the list is as wide as the list's viewport; the width in the
// option is not set when the view asks for a height.
int rowWidthFor(const QStyleOptionViewItem& option) {
    if (option.rect.width() > 0)
        return option.rect.width();
    if (const auto* view = qobject_cast<const QAbstractItemView*>(option.widget))
        return view->viewport()->width();
    return 0;
}

// A theme's highlight can be too light for its own highlighted text (white
// on Fusion's blue reads at 3.7:1). The row's text and its buttons' labels
// are read on it, so it is deepened just enough, in every colour group.
QPalette withReadableHighlight(QPalette palette) {
    for (const QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
        palette.setColor(group, QPalette::Highlight,
                         readableOn(palette.color(group, QPalette::Highlight),
                                    palette.color(group, QPalette::HighlightedText)));
    return palette;
}

// The report's own line breaks become forced breaks of the layout.
QString layoutText(QString text) { return text.replace(QLatin1Char('\n'), QChar::LineSeparator); }

}  // namespace

// Font metrics are measured once; every row uses the same fonts.
struct ResultRowDelegate::Metrics {
    QFont nameFont = bodyFont();
    QFont reportFont = detailFont();
    QFont buttonFont = bodyFont();
    int nameHeight = QFontMetrics(nameFont).height();
    int reportLineHeight = QFontMetrics(reportFont).lineSpacing();
    int buttonHeight = QFontMetrics(buttonFont).height() + buttonPadding;
    int revealWidth = QFontMetrics(buttonFont).horizontalAdvance(revealLabel()) + 2 * buttonPadding;
    int copyWidth = QFontMetrics(buttonFont).horizontalAdvance(copyLabel()) + 2 * buttonPadding;
};

ResultRowDelegate::ResultRowDelegate(QObject* parent) : QStyledItemDelegate(parent) {}

// The desktop's file manager stands in for the Finder of the original
// platform, so the button names the role rather than one program.
QString ResultRowDelegate::revealLabel() { return QStringLiteral("Reveal in File Manager"); }

QString ResultRowDelegate::copyLabel() { return QStringLiteral("Copy"); }

const ResultRowDelegate::Metrics& ResultRowDelegate::metrics() const {
    static const Metrics m;
    return m;
}

int ResultRowDelegate::textWidth(int rowWidth) const {
    const Metrics& m = metrics();
    const int buttons = m.revealWidth + itemSpacing + m.copyWidth;
    return std::max(minimumTextWidth, rowWidth - 2 * sideMargin - iconFrameWidth - 2 * itemSpacing - buttons);
}

int ResultRowDelegate::layOutReport(QTextLayout& layout, int width) const {
    const Metrics& m = metrics();
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    layout.setFont(m.reportFont);
    layout.setCacheEnabled(true);
    layout.beginLayout();
    int lines = 0;
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(width);
        line.setPosition(QPointF(0, lines * m.reportLineHeight));
        ++lines;
    }
    layout.endLayout();
    return std::max(1, lines) * m.reportLineHeight;
}

int ResultRowDelegate::rowHeight(const QString& reportText, int width) const {
    const Metrics& m = metrics();
    QTextLayout layout(layoutText(reportText));
    const int text = m.nameHeight + lineSpacing + layOutReport(layout, textWidth(width));
    return 2 * verticalPadding + std::max({text, iconFrameWidth, m.buttonHeight});
}

QSize ResultRowDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const {
    const Metrics& m = metrics();
    const int minimumWidth = 2 * sideMargin + iconFrameWidth + 3 * itemSpacing + minimumTextWidth + m.revealWidth +
                             m.copyWidth;
    const QString report = index.data(ResultsModel::ReportTextRole).toString();
    return {minimumWidth, rowHeight(report, rowWidthFor(option))};
}

QRect ResultRowDelegate::buttonRect(const QRect& rowRect, Button button) const {
    const Metrics& m = metrics();
    const int top = rowRect.top() + (rowRect.height() - m.buttonHeight) / 2;
    const int copyLeft = rowRect.right() + 1 - sideMargin - m.copyWidth;
    switch (button) {
    case Button::copy:
        return {copyLeft, top, m.copyWidth, m.buttonHeight};
    case Button::reveal:
        return {copyLeft - itemSpacing - m.revealWidth, top, m.revealWidth, m.buttonHeight};
    case Button::none:
        break;
    }
    return {};
}

ResultRowDelegate::Button ResultRowDelegate::buttonAt(const QRect& rowRect, const QPoint& point) const {
    if (buttonRect(rowRect, Button::copy).contains(point))
        return Button::copy;
    if (buttonRect(rowRect, Button::reveal).contains(point))
        return Button::reveal;
    return Button::none;
}

void ResultRowDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const {
    const Metrics& m = metrics();
    QStyleOptionViewItem background = option;
    initStyleOption(&background, index);
    background.palette = withReadableHighlight(option.palette);
    background.text.clear();
    background.icon = {};
    const QWidget* widget = option.widget;
    QStyle* style = widget ? widget->style() : QApplication::style();
    style->drawPrimitive(QStyle::PE_PanelItemViewItem, &background, painter, widget);

    painter->save();
    painter->setRenderHint(QPainter::SmoothPixmapTransform);
    const QRect row = option.rect;
    const bool selected = option.state & QStyle::State_Selected;
    const QPalette& palette = background.palette;
    const QColor textColor = palette.color(selected ? QPalette::HighlightedText : QPalette::Text);
    const QColor secondary = selected ? textColor : detailTextColor(palette);

    // Icon, centred in its frame and on the row.
    const auto resultCase = static_cast<ProcessingResult::Case>(index.data(ResultsModel::CaseRole).toInt());
    const qreal ratio = painter->device() ? painter->device()->devicePixelRatioF() : 1.0;
    const QPixmap icon = resultIconPixmap(resultCase, iconSize, ratio);
    const int iconLeft = row.left() + sideMargin + (iconFrameWidth - iconSize) / 2;
    painter->drawPixmap(iconLeft, row.top() + (row.height() - iconSize) / 2, icon);

    // Text column, vertically centred, ending before the buttons.
    const int textLeft = row.left() + sideMargin + iconFrameWidth + itemSpacing;
    const int width = textWidth(row.width());
    QTextLayout report(layoutText(index.data(ResultsModel::ReportTextRole).toString()));
    const int reportHeight = layOutReport(report, width);
    const int textHeight = m.nameHeight + lineSpacing + reportHeight;
    const int top = row.top() + (row.height() - textHeight) / 2;

    // Only a name wider than the row is shortened, in the middle, so its
    // extension stays readable.
    painter->setFont(m.nameFont);
    painter->setPen(textColor);
    const QString name = index.data(ResultsModel::FileNameRole).toString();
    const QFontMetrics nameMetrics(m.nameFont);
    // Where names repeat, the folder follows the name in the secondary colour.
    const QString folder = index.data(ResultsModel::FolderRole).toString();
    const int folderGap = folder.isEmpty() ? 0 : nameMetrics.horizontalAdvance(QStringLiteral("  "));
    const int nameWidth = std::min(width, nameMetrics.horizontalAdvance(name));
    painter->drawText(QRect(textLeft, top, nameWidth, m.nameHeight), Qt::AlignLeft | Qt::AlignVCenter,
                      nameMetrics.elidedText(name, Qt::ElideMiddle, width));
    if (!folder.isEmpty() && nameWidth + folderGap < width) {
        const int folderWidth = width - nameWidth - folderGap;
        painter->setFont(m.reportFont);
        painter->setPen(secondary);
        painter->drawText(QRect(textLeft + nameWidth + folderGap, top, folderWidth, m.nameHeight),
                          Qt::AlignLeft | Qt::AlignVCenter,
                          QFontMetrics(m.reportFont).elidedText(folder, Qt::ElideLeft, folderWidth));
    }
    painter->setPen(secondary);
    report.draw(painter, QPointF(textLeft, top + m.nameHeight + lineSpacing));

    // The current row of a focused list carries a focus frame, so the
    // keyboard's place shows even on a selected row.
    if ((option.state & QStyle::State_HasFocus) && widget && widget->hasFocus()) {
        QPen frame(palette.color(QPalette::Highlight).darker(selected ? 160 : 100), 2);
        painter->setPen(frame);
        painter->setBrush(Qt::NoBrush);
        painter->drawRect(QRectF(row).adjusted(1, 1, -1, -1));
    }

    // Borderless buttons: their label in the link colour, nothing else.
    if (index.row() != rowWithButtons_) {
        painter->setFont(m.buttonFont);
        // On a selected row the link colour would not read on the highlight.
        painter->setPen(palette.color(selected ? QPalette::HighlightedText : QPalette::Link));
        painter->drawText(buttonRect(row, Button::reveal), Qt::AlignCenter, revealLabel());
        painter->drawText(buttonRect(row, Button::copy), Qt::AlignCenter, copyLabel());
    }
    painter->restore();
}

// A click that reaches a painted button (the pointer did not hover first, as
// with some touch screens) does what the real button would.
bool ResultRowDelegate::editorEvent(QEvent* event, QAbstractItemModel*, const QStyleOptionViewItem& option,
                                    const QModelIndex& index) {
    if (event->type() != QEvent::MouseButtonRelease)
        return false;
    const auto* mouse = static_cast<QMouseEvent*>(event);
    if (mouse->button() != Qt::LeftButton)
        return false;
    switch (buttonAt(option.rect, mouse->position().toPoint())) {
    case Button::reveal:
        Q_EMIT revealClicked(index);
        return true;
    case Button::copy:
        Q_EMIT copyClicked(index);
        return true;
    case Button::none:
        break;
    }
    return false;
}

}  // namespace meridane::ui
