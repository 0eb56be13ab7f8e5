#include "codec/second_core.h"

#include <cstdlib>
#include <string_view>
#include <thread>

namespace arcfold {

bool SecondCoreAllowed() {
  static const bool two_cores = std::thread::hardware_concurrency() > 1;
  // Read each time: a program, or a test, may switch between runs.
  const char* env = std::getenv("ARCFOLD_PARALLEL");
  return two_cores && !(env && std::string_view(env) == "off");
}

}  // namespace arcfold
