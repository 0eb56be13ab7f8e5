/// @file
/// The built-in questions of the archive component. A GUI answers them with
/// modal dialogs, a terminal tool with terminal prompts, tests with a script.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "arcfold/platform/export.h"

namespace afp {

enum class PromptButtons { YesNoNoToAllYesToAll, AbortRetryIgnore, AbortIgnore, OkCancel };
enum class PromptAnswer { Closed, Yes, No, NoToAll, YesToAll, Abort, Retry, Ignore, Ok, Cancel };

/// A dialog's buttons in their order: the label ("&" marks the access key)
/// and the answer each gives.
struct ARCFOLD_API PromptButton {
  const char* label;
  PromptAnswer answer;
};
ARCFOLD_API std::vector<PromptButton> ButtonsOf(PromptButtons buttons);

class ARCFOLD_API Prompts {
 public:
  virtual ~Prompts() = default;
  /// A question with the question icon; text is UTF-8.
  virtual PromptAnswer Ask(std::string_view text, PromptButtons buttons) = 0;
  /// The password box: false when cancelled or closed. caption/prompt are UTF-8.
  virtual bool AskPassword(std::string_view caption, std::string_view prompt, std::string& password) = 0;
};

/// Answers every question with its safe answer without asking anybody:
/// no overwrite, no password (skip), Abort on failures, Cancel on volumes.
class ARCFOLD_API SafeAnswerPrompts : public Prompts {
 public:
  PromptAnswer Ask(std::string_view, PromptButtons buttons) override;
  bool AskPassword(std::string_view, std::string_view, std::string&) override { return false; }
};

/// The process's prompts, used by components that were given none.
ARCFOLD_API Prompts& DefaultPrompts();
ARCFOLD_API void SetDefaultPrompts(Prompts* prompts);  ///< nullptr restores the safe answers

}  // namespace afp
