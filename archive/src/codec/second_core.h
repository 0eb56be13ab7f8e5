// Whether the codec pipelines and item runs may put work on other threads:
// there is a second core, and tuning (or, where it is left at tsDefault, the
// environment variable ARCFOLD_PARALLEL=off) does not keep everything on the
// calling thread, the reference the tests compare with.
#pragma once

#include "arcfold/types.h"

namespace arcfold {

bool SecondCoreAllowed(const TAFTuning& tuning);

}  // namespace arcfold
