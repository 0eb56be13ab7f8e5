#include "items/item_retry.h"

namespace arcfold {

TAFAction RetryWhileAsked(const std::function<void()>& attempt,
                          const std::function<void(const EAFException&, TAFAction&)>& ask) {
  TAFAction action;
  do {
    action = fxaIgnore;
    try {
      attempt();
    } catch (const EAFException& e) {
      ask(e, action);
    }
  } while (action == fxaRetry);
  return action;
}

}  // namespace arcfold
