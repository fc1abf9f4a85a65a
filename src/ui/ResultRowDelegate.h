// Paints one result row (icon, file name, report text, two borderless
// buttons) and turns clicks on its buttons into signals. Rows are painted,
// not built from widgets, so long runs stay cheap.
#pragma once

#include <QStyledItemDelegate>

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
    int rowHeight(int reportLines) const;
};

}  // namespace meridane::ui
