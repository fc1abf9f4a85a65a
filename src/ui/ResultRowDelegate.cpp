#include "ui/ResultRowDelegate.h"

#include "engine/ProcessingResult.h"
#include "ui/ResultIcons.h"
#include "ui/ResultsModel.h"
#include "ui/UiStyle.h"

#include <QApplication>
#include <QMouseEvent>
#include <QPainter>

#include <algorithm>

namespace meridane::ui {

namespace {

constexpr int sideMargin = 8;
constexpr int verticalPadding = 4;  // 2 of the row's own plus 2 of list inset
constexpr int itemSpacing = 10;
constexpr int iconFrameWidth = 18;
constexpr int iconSize = 16;
constexpr int lineSpacing = 2;
constexpr int buttonPadding = 4;

}  // namespace

// Font metrics are measured once; every row uses the same fonts.
struct ResultRowDelegate::Metrics {
    QFont nameFont = bodyFont();
    QFont reportFont = captionFont();
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

int ResultRowDelegate::rowHeight(int reportLines) const {
    const Metrics& m = metrics();
    const int text = m.nameHeight + lineSpacing + std::max(1, reportLines) * m.reportLineHeight;
    return 2 * verticalPadding + std::max({text, iconFrameWidth, m.buttonHeight});
}

QSize ResultRowDelegate::sizeHint(const QStyleOptionViewItem&, const QModelIndex& index) const {
    const Metrics& m = metrics();
    const int lines = index.data(ResultsModel::LineCountRole).toInt();
    const int minimumWidth = 2 * sideMargin + iconFrameWidth + 4 * itemSpacing + 120 + m.revealWidth + m.copyWidth;
    return {minimumWidth, rowHeight(lines)};
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
    background.text.clear();
    background.icon = {};
    background.state &= ~(QStyle::State_Selected | QStyle::State_HasFocus | QStyle::State_MouseOver);
    const QWidget* widget = option.widget;
    QStyle* style = widget ? widget->style() : QApplication::style();
    style->drawPrimitive(QStyle::PE_PanelItemViewItem, &background, painter, widget);

    painter->save();
    painter->setRenderHint(QPainter::SmoothPixmapTransform);
    const QRect row = option.rect;
    const int lines = index.data(ResultsModel::LineCountRole).toInt();

    // Icon, centred in its frame and on the row.
    const auto resultCase = static_cast<ProcessingResult::Case>(index.data(ResultsModel::CaseRole).toInt());
    const qreal ratio = painter->device() ? painter->device()->devicePixelRatioF() : 1.0;
    const QPixmap icon = resultIconPixmap(resultCase, iconSize, ratio);
    const int iconLeft = row.left() + sideMargin + (iconFrameWidth - iconSize) / 2;
    painter->drawPixmap(iconLeft, row.top() + (row.height() - iconSize) / 2, icon);

    // Text column, vertically centred, ending before the buttons.
    const int textLeft = row.left() + sideMargin + iconFrameWidth + itemSpacing;
    const int textRight = buttonRect(row, Button::reveal).left() - itemSpacing;
    const int textWidth = std::max(0, textRight - textLeft);
    const int textHeight = m.nameHeight + lineSpacing + std::max(1, lines) * m.reportLineHeight;
    int y = row.top() + (row.height() - textHeight) / 2;

    const QPalette& palette = option.palette;
    painter->setFont(m.nameFont);
    painter->setPen(palette.color(QPalette::Text));
    const QString name = index.data(ResultsModel::FileNameRole).toString();
    painter->drawText(QRect(textLeft, y, textWidth, m.nameHeight), Qt::AlignLeft | Qt::AlignVCenter,
                      QFontMetrics(m.nameFont).elidedText(name, Qt::ElideMiddle, textWidth));
    y += m.nameHeight + lineSpacing;

    painter->setFont(m.reportFont);
    painter->setPen(secondaryTextColor(palette));
    const QFontMetrics reportMetrics(m.reportFont);
    const QStringList reportLines = index.data(ResultsModel::ReportTextRole).toString().split(QLatin1Char('\n'));
    for (const QString& line : reportLines) {
        painter->drawText(QRect(textLeft, y, textWidth, m.reportLineHeight), Qt::AlignLeft | Qt::AlignVCenter,
                          reportMetrics.elidedText(line, Qt::ElideRight, textWidth));
        y += m.reportLineHeight;
    }

    // Borderless buttons: their label in the link colour, nothing else.
    painter->setFont(m.buttonFont);
    painter->setPen(palette.color(QPalette::Link));
    painter->drawText(buttonRect(row, Button::reveal), Qt::AlignCenter, revealLabel());
    painter->drawText(buttonRect(row, Button::copy), Qt::AlignCenter, copyLabel());
    painter->restore();
}

bool ResultRowDelegate::editorEvent(QEvent* event, QAbstractItemModel*, const QStyleOptionViewItem& option,
                                    const QModelIndex& index) {
    if (event->type() != QEvent::MouseButtonPress && event->type() != QEvent::MouseButtonRelease)
        return false;
    const auto* mouse = static_cast<QMouseEvent*>(event);
    if (mouse->button() != Qt::LeftButton)
        return false;
    const Button button = buttonAt(option.rect, mouse->position().toPoint());
    if (button == Button::none)
        return false;
    if (event->type() == QEvent::MouseButtonRelease) {
        if (button == Button::reveal)
            Q_EMIT revealClicked(index);
        else
            Q_EMIT copyClicked(index);
    }
    return true;
}

}  // namespace meridane::ui
