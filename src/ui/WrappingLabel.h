// SPDX-License-Identifier: GPL-3.0-or-later
// A plain-text label that wraps onto as many lines as its width needs, and
// asks for just that height. A label that trades width for height the usual
// way makes every layout above it do the same, and a window laid out that way
// asks for its preferred height instead of fitting a small screen.
#pragma once

#include <QLabel>

namespace meridane::ui {

class WrappingLabel : public QLabel {
    Q_OBJECT
public:
    explicit WrappingLabel(QWidget* parent = nullptr);

    bool hasHeightForWidth() const override { return false; }
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    /// The height of the text wrapped at the label's width now.
    int wrappedHeight() const;
};

}  // namespace meridane::ui
