// Whether the codec pipelines and item runs may put work on other threads:
// there is a second core, and the environment variable ARCFOLD_PARALLEL is
// not "off" (everything on the calling thread, the reference the tests
// compare with).
#pragma once

namespace arcfold {

bool SecondCoreAllowed();

}  // namespace arcfold
