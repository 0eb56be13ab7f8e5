// The process-wide re-entrant lock held by every item-processing run.
#pragma once

#include <mutex>

namespace afp {

std::recursive_mutex& ProcessLock();

}  // namespace afp
