// The archive component's questions as native Windows dialogs built at run
// time. Windows only.
#pragma once

#include <string>
#include <string_view>

#include "platform/prompts.h"

namespace afp {

// The component's questions as modal dialogs: the question-icon message
// dialog with its button sets, and the password box laid out in dialog units.
class Win32Prompts : public Prompts {
 public:
  PromptAnswer Ask(std::string_view text, PromptButtons buttons) override;
  bool AskPassword(std::string_view caption, std::string_view prompt, std::string& password) override;
};

}  // namespace afp
