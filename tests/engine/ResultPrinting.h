// SPDX-License-Identifier: GPL-3.0-or-later
// Readable failure messages for results in test expectations.
#pragma once

#include "engine/ProcessingResult.h"
#include "engine/Report.h"

#include <ostream>

namespace meridane {

inline void PrintTo(const ProcessingResult& result, std::ostream* os) {
    *os << result.caseName() << " \"" << reportText(result) << "\"";
}

}  // namespace meridane
