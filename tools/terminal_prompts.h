// The component's questions asked on the terminal.
#pragma once

#include <cstdio>
#include <functional>
#include <string>

#include "platform/prompts.h"

namespace arcfold_cli {

class TerminalPrompts : public afp::Prompts {
 public:
  // Questions are read from in and written to out (normally the terminal).
  TerminalPrompts(std::FILE* in, std::FILE* out) : in_(in), out_(out) {}
  afp::PromptAnswer Ask(std::string_view text, afp::PromptButtons buttons) override;
  bool AskPassword(std::string_view caption, std::string_view prompt, std::string& password) override;
  // A new password, asked twice without echo until both agree; empty when
  // the user gives none.
  std::string AskNewPassword();
  // Called before each question (the progress line is cleared there).
  std::function<void()> before_asking;

 private:
  bool ReadLine(std::string_view prompt, std::string& line, bool echo);
  std::FILE* in_;
  std::FILE* out_;
};

// Questions can be asked: standard input and standard error are both a terminal.
bool Interactive();

}  // namespace arcfold_cli
