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

std::vector<PromptButton> ButtonsOf(PromptButtons buttons) {
  using A = PromptAnswer;
  switch (buttons) {
    case PromptButtons::YesNoNoToAllYesToAll:
      return {{"&Yes", A::Yes}, {"&No", A::No}, {"N&o to All", A::NoToAll}, {"Yes to &All", A::YesToAll}};
    case PromptButtons::AbortRetryIgnore: return {{"&Abort", A::Abort}, {"&Retry", A::Retry}, {"&Ignore", A::Ignore}};
    case PromptButtons::AbortIgnore: return {{"&Abort", A::Abort}, {"&Ignore", A::Ignore}};
    case PromptButtons::OkCancel: return {{"OK", A::Ok}, {"Cancel", A::Cancel}};
  }
  return {};
}

namespace {
SafeAnswerPrompts g_safe;
Prompts* g_default = &g_safe;
}  // namespace

Prompts& DefaultPrompts() { return *g_default; }
void SetDefaultPrompts(Prompts* prompts) { g_default = prompts ? prompts : &g_safe; }

}  // namespace afp
