// The installer's window and dialogs on the Windows API.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "seams/gui.h"

namespace afp {

// The component's questions as modal dialogs: the question-icon message
// dialog with its button sets, and the password box laid out in dialog units.
class Win32Prompts : public Prompts {
 public:
  PromptAnswer Ask(std::string_view text, PromptButtons buttons) override;
  bool AskPassword(std::string_view caption, std::string_view prompt, std::string& password) override;
};

class Win32InstallerWindow : public InstallerWindow {
 public:
  // Builds the window (title) with its panel, edit box, folder button,
  // "Install" button and the hidden bold status label.
  Win32InstallerWindow(const std::string& title, std::function<void()> on_folder_button,
                       std::function<void()> on_install_button);
  ~Win32InstallerWindow() override;

  // Shows the window and runs the message loop until Quit or the window closes.
  int Run();

  std::string EditText() override;
  void SetEditText(const std::string& text) override;
  void SetStatus(const std::string& text) override;
  void ShowStatus() override;
  void ProcessMessages() override;
  void MessageBox(const std::string& text) override;
  void ErrorBox(const std::string& text) override;
  bool SelectDirectory(std::string& folder) override;
  void OpenFileDialog(const std::string& initial_dir) override;
  void Beep() override;
  void Sleep(int milliseconds) override;
  void Quit() override;
  Prompts& ComponentPrompts() override { return prompts_; }

  struct Controls;  // the window's handles, fonts and handlers

 private:
  std::string title_;
  std::unique_ptr<Controls> c_;
  Win32Prompts prompts_;
};

}  // namespace afp
