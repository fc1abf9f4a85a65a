// SPDX-License-Identifier: GPL-3.0-or-later
// Number texts that never depend on the process locale: a Qt application
// adopts LC_ALL (de_DE.UTF-8 and friends use a decimal comma), but sidecar
// texts and diagnostic lines always use a point.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace meridane {

/// Shortest text that reads back as the same double, integral values with
/// ".0" (37.0, -122.4194, 1e-05, nan, inf).
std::string formatDiagnosticDouble(double value);

/// As formatDiagnosticDouble, or "nil" when absent.
std::string formatDiagnosticDouble(std::optional<double> value);

/// printf "%.8f" in the C locale: exactly eight decimals, point separator.
std::string formatFixed8(double value);

/// "true" or "false".
inline const char* formatFlag(bool flag) { return flag ? "true" : "false"; }

}  // namespace meridane
