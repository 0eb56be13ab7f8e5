#include "platform/prompts.h"

namespace afp {

PromptAnswer SafeAnswerPrompts::Ask(std::string_view, PromptButtons buttons) {
  switch (buttons) {
    case PromptButtons::YesNoNoToAllYesToAll: return PromptAnswer::No;
    case PromptButtons::AbortRetryIgnore:
    case PromptButtons::AbortIgnore: return PromptAnswer::Abort;
    case PromptButtons::OkCancel: return PromptAnswer::Cancel;
  }
  return PromptAnswer::Closed;
}

namespace {
SafeAnswerPrompts g_safe;
Prompts* g_default = &g_safe;
}  // namespace

Prompts& DefaultPrompts() { return *g_default; }
void SetDefaultPrompts(Prompts* prompts) { g_default = prompts ? prompts : &g_safe; }

}  // namespace afp
