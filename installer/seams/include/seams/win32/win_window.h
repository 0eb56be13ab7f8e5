// The installer's window and dialogs on the Windows API: the platform
// layer's native window and dialogs behind the installer's interface.
#pragma once

#include <functional>
#include <string>

#include "platform/win32/setup_window.h"
#include "platform/win32/win_prompts.h"
#include "seams/gui.h"

namespace afp {

class Win32InstallerWindow : public InstallerWindow {
 public:
  // Builds the window (title) with its panel, edit box, folder button,
  // "Install" button and the hidden bold status label.
  Win32InstallerWindow(const std::string& title, std::function<void()> on_folder_button,
                       std::function<void()> on_install_button);

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

 private:
  win32::SetupWindow window_;
  Win32Prompts prompts_;
};

}  // namespace afp
