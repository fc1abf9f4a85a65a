// SPDX-License-Identifier: GPL-3.0-or-later
// The window's Help menu: the manual page (F1), opened through the desktop
// or, where nothing shows manual pages, pointed to; and the About box with
// the version, the license, the home page and the libraries built in.
#pragma once

#include <QString>

#include <functional>

class QMainWindow;
class QMenu;

namespace meridane::ui {

/// Adds "Help" to the window's menu bar.
QMenu* addHelpMenu(QMainWindow& window);

/// The About box's text (rich text).
QString aboutText();

/// What F1 shows when the desktop cannot open "man:meridane": where the
/// manual page is and how to read it.
QString manualFallbackText();

/// Opens a URL through the desktop; false when nothing can show it. Tests
/// replace it.
using UrlOpener = std::function<bool(const QString& url)>;
/// Shows the manual; true when the desktop took "man:meridane", false when
/// the fallback box was shown instead.
bool showManual(QMainWindow& window, const UrlOpener& open);

}  // namespace meridane::ui
