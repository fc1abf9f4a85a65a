// SPDX-License-Identifier: GPL-3.0-or-later
// One icon and one colour per result case, drawn from SVGs bundled in the
// program so the list looks the same under every icon theme.
#pragma once

#include "engine/ProcessingResult.h"

#include <QColor>
#include <QPixmap>
#include <QString>

namespace meridane::ui {

/// Resource path of the case's icon (":/meridane/icons/updated.svg", ...).
QString resultIcon(ProcessingResult::Case resultCase);

/// The colour the case's icon is drawn in.
QColor resultColor(ProcessingResult::Case resultCase);

/// The icon rendered at a logical size for a device pixel ratio; rendered
/// once per case, size and ratio, then served from Qt's pixmap cache.
QPixmap resultIconPixmap(ProcessingResult::Case resultCase, int logicalSize, qreal devicePixelRatio);

}  // namespace meridane::ui
