#include "platform/lock.h"

namespace afp {

std::recursive_mutex& ProcessLock() {
  static std::recursive_mutex lock;
  return lock;
}

}  // namespace afp
