// Readable failure messages for results in test expectations.
#pragma once

#include "core/ProcessingResult.h"
#include "core/Report.h"

#include <ostream>

namespace meridane {

inline void PrintTo(const ProcessingResult& result, std::ostream* os) {
    *os << result.caseName() << " \"" << reportText(result, true) << "\"";
}

}  // namespace meridane
