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

/// WCAG 2 contrast ratio of two opaque colours, from 1 to 21.
double contrastRatio(const QColor& a, const QColor& b);

/// Text that is read, not glanced at, keeps at least this ratio (WCAG AA).
inline constexpr double kMinimumTextContrast = 4.5;

/// `wanted`, darkened on a light background or lightened on a dark one just
/// enough to reach kMinimumTextContrast against `background`.
QColor readableOn(const QColor& wanted, const QColor& background);

/// The badge's orange as it reads on the palette's window colour.
QColor badgeColor(const QPalette& palette);

/// The rows' detail text: secondary, but readable on the list's base colour.
QColor detailTextColor(const QPalette& palette);

/// The rows' detail text: the caption font, never below 9 points.
QFont detailFont();
inline constexpr qreal kMinimumDetailPointSize = 9.0;

}  // namespace meridane::ui
