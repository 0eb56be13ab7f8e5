// One item's step under the failure question: a step that fails is tried
// again for as long as the question is answered Retry.
#pragma once

#include <functional>

#include "arcfold/exception.h"
#include "arcfold/types.h"

namespace arcfold {

// Runs attempt, which throws EAFException when the item fails; ask then puts
// the failure question, its answer starting as Ignore. Returns Ignore when an
// attempt succeeded or the failure was ignored, Abort when it was aborted.
// Any other exception passes through.
TAFAction RetryWhileAsked(const std::function<void()>& attempt,
                          const std::function<void(const EAFException&, TAFAction&)>& ask);

}  // namespace arcfold
