// The process-wide re-entrant lock held by every item-processing run.
#pragma once

#include <mutex>

#include "arcfold/platform/export.h"

namespace afp {

ARCFOLD_API std::recursive_mutex& ProcessLock();

}  // namespace afp
