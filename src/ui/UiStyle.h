// SPDX-License-Identifier: GPL-3.0-or-later
// The window's text roles and colours mapped onto Qt: a title font, a
// headline font, a caption font and the secondary text colour, all derived
// from the application's font and palette so they follow the desktop theme.
#pragma once

#include <QColor>
#include <QFont>
#include <QPalette>

namespace meridane::ui {

QFont bodyFont();
/// Second-level title: a third larger than body text.
QFont title2Font();
/// Body size, bold.
QFont headlineFont();
/// About three quarters of body text.
QFont captionFont();

/// The text colour for secondary information: the palette's text colour,
/// partly transparent so it reads on light and dark themes alike.
QColor secondaryTextColor(const QPalette& palette);

/// The system orange of the dry-run badge.
QColor badgeOrange();

}  // namespace meridane::ui
