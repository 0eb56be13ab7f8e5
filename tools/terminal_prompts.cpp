#include "terminal_prompts.h"

#include <cctype>
#include <optional>
#include <string>

#include "platform/console.h"
#include "platform/files.h"

namespace arcfold_cli {

namespace {

// The component names files with "\\" separators; a question shows them
// as this system writes paths.
std::string WithOwnSeparators(std::string_view text) {
  std::string out(text);
  for (auto& c : out)
    if (c == '\\') c = afp::kPathSeparator;
  return out;
}

}  // namespace

bool Interactive() { return afp::IsTerminal(stdin) && afp::IsTerminal(stderr); }

bool TerminalPrompts::ReadLine(std::string_view prompt, std::string& line, bool echo) {
  // Echo goes off before the prompt shows, so that nothing typed or pasted
  // as soon as it appears is shown.
  std::optional<afp::EchoOff> quiet;
  if (!echo) quiet.emplace(in_);
  std::fwrite(prompt.data(), 1, prompt.size(), out_);
  std::fflush(out_);
  line.clear();
  int c;
  bool got = false;
  while ((c = std::fgetc(in_)) != EOF) {
    got = true;
    if (c == '\n') break;
    if (c != '\r') line += static_cast<char>(c);
  }
  if (quiet && quiet->Active()) std::fputc('\n', out_);
  return got;
}

afp::PromptAnswer TerminalPrompts::Ask(std::string_view text, afp::PromptButtons buttons) {
  using A = afp::PromptAnswer;
  const char* choices = "";
  switch (buttons) {
    case afp::PromptButtons::YesNoNoToAllYesToAll: choices = "[y]es, [n]o, [N]o to all, [A]ll (yes to all)"; break;
    case afp::PromptButtons::AbortRetryIgnore: choices = "[a]bort, [r]etry, [i]gnore"; break;
    case afp::PromptButtons::AbortIgnore: choices = "[a]bort, [i]gnore"; break;
    case afp::PromptButtons::OkCancel: choices = "[o]k, [c]ancel"; break;
  }
  if (before_asking) before_asking();
  const std::string shown = WithOwnSeparators(text);
  for (;;) {
    std::string line;
    if (!ReadLine(shown + "\n" + choices + "? ", line, true)) return A::Closed;
    if (line.empty()) continue;
    char k = line[0];
    switch (buttons) {
      case afp::PromptButtons::YesNoNoToAllYesToAll:
        if (k == 'y' || k == 'Y') return A::Yes;
        if (k == 'n') return A::No;
        if (k == 'N') return A::NoToAll;
        if (k == 'A' || k == 'a') return A::YesToAll;
        break;
      case afp::PromptButtons::AbortRetryIgnore:
        if (std::tolower(k) == 'r') return A::Retry;
        [[fallthrough]];
      case afp::PromptButtons::AbortIgnore:
        if (std::tolower(k) == 'a') return A::Abort;
        if (std::tolower(k) == 'i') return A::Ignore;
        break;
      case afp::PromptButtons::OkCancel:
        if (std::tolower(k) == 'o') return A::Ok;
        if (std::tolower(k) == 'c') return A::Cancel;
        break;
    }
  }
}

std::string TerminalPrompts::AskNewPassword() {
  for (;;) {
    std::string first, second;
    if (!ReadLine("New password: ", first, false)) return std::string();
    if (!ReadLine("\nRepeat password: ", second, false)) return std::string();
    std::fputs("\n", out_);
    if (first == second) return first;
    std::fputs("The passwords differ; once more.\n", out_);
  }
}

bool TerminalPrompts::AskPassword(std::string_view caption, std::string_view prompt, std::string& password) {
  if (before_asking) before_asking();
  std::string line;
  if (!ReadLine(std::string(caption) + "\n" + WithOwnSeparators(prompt), line, false)) return false;
  password = line;
  return true;
}

}  // namespace arcfold_cli
