/// @file
/// The built-in questions of the archive component. A GUI answers them with
/// modal dialogs, a terminal tool with terminal prompts, tests with a script.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "arcfold/platform/export.h"

namespace afp {

/// The buttons of a question.
enum class PromptButtons { YesNoNoToAllYesToAll, AbortRetryIgnore, AbortIgnore, OkCancel };
/// The button that answered a question (Closed: the dialog was closed).
enum class PromptAnswer { Closed, Yes, No, NoToAll, YesToAll, Abort, Retry, Ignore, Ok, Cancel };

/// A dialog's buttons in their order: the label ("&" marks the access key)
/// and the answer each gives.
struct ARCFOLD_API PromptButton {
  const char* label;    ///< The button's text.
  PromptAnswer answer;  ///< What pressing it answers.
};
/// The buttons of a question, in their order.
ARCFOLD_API std::vector<PromptButton> ButtonsOf(PromptButtons buttons);

/// Who answers the component's built-in questions (TAFBaseArchiver::PromptUI,
/// DefaultPrompts()). The component asks from the thread that called it,
/// during a run with the process-wide lock held.
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
