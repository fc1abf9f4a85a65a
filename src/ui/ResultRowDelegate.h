// SPDX-License-Identifier: GPL-3.0-or-later
// Paints one result row (icon, file name, the report text wrapped onto as
// many lines as it needs, two borderless buttons) and measures its height for
// the width the list gives it. Rows are painted, not built from widgets, so
// long runs stay cheap; the list puts real buttons over the row in use.
#pragma once

#include <QStyledItemDelegate>

class QTextLayout;

namespace meridane::ui {

class ResultRowDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    enum class Button { none, reveal, copy };

    explicit ResultRowDelegate(QObject* parent = nullptr);

    static QString revealLabel();
    static QString copyLabel();

    /// The button under a point of a row whose rectangle is rowRect.
    Button buttonAt(const QRect& rowRect, const QPoint& point) const;
    QRect buttonRect(const QRect& rowRect, Button button) const;
    /// The row's height when it is `width` wide.
    int rowHeight(const QString& reportText, int width) const;

    /// The row whose buttons are real widgets just now; its painted ones are
    /// left out.
    void setRowWithButtons(int row) { rowWithButtons_ = row; }

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

Q_SIGNALS:
    void revealClicked(const QModelIndex& index);
    void copyClicked(const QModelIndex& index);

protected:
    bool editorEvent(QEvent* event, QAbstractItemModel* model, const QStyleOptionViewItem& option,
                     const QModelIndex& index) override;

private:
    struct Metrics;
    const Metrics& metrics() const;
    int textWidth(int rowWidth) const;
    /// Lays the report text out in lines of at most `width`; returns its height.
    int layOutReport(QTextLayout& layout, int width) const;

    int rowWithButtons_ = -1;
};

}  // namespace meridane::ui
