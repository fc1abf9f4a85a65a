// SPDX-License-Identifier: GPL-3.0-or-later
// The window's first size: the preferred one, or less on a screen (or a
// scale factor) that leaves less room, so the whole window is on screen.
#pragma once

#include <QScreen>
#include <QSize>
#include <QWidget>

#include <algorithm>

namespace meridane::ui {

/// The largest room a window of the given frame margins may take on `available`.
inline QSize fittedWindowSize(QSize preferred, QSize available, QSize frame = {}) {
    const QSize room = available - frame;
    return {std::max(1, std::min(preferred.width(), room.width())),
            std::max(1, std::min(preferred.height(), room.height()))};
}

inline void fitToScreen(QWidget& window, QSize preferred) {
    const QScreen* screen = window.screen();
    if (!screen) {
        window.resize(preferred);
        return;
    }
    // Room for the title bar and borders the window manager adds.
    window.resize(fittedWindowSize(preferred, screen->availableGeometry().size(), QSize(16, 48)));
}

}  // namespace meridane::ui
