#include "codec/second_core.h"

#include <thread>

namespace arcfold {

bool SecondCoreAllowed(const TAFTuning& tuning) {
  static const bool two_cores = std::thread::hardware_concurrency() > 1;
  return two_cores && tuning.WithEnvironment().Parallel != tsOff;
}

}  // namespace arcfold
