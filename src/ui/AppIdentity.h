// SPDX-License-Identifier: GPL-3.0-or-later
// Who the program is to the desktop: one reverse-DNS application id for the
// desktop entry, the AppStream data, the icon and the notifications; Qt's
// organisation domain and name give the same id.
#pragma once

#include <QString>

namespace meridane::ui {

inline QString applicationId() { return QStringLiteral("org.meridane.Meridane"); }

/// The project's home page, as the AppStream data gives it.
inline QString homePage() { return QStringLiteral("https://meridane.example"); }

}  // namespace meridane::ui
