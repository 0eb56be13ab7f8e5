// The installer's window and dialogs on FLTK.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "seams/gui.h"

class Fl_Double_Window;
class Fl_Input;
class Fl_Box;

namespace afp {

// The component's questions as modal FLTK dialogs: the question-icon message
// dialog with its button sets and the run-time built password box.
class FltkPrompts : public Prompts {
 public:
  PromptAnswer Ask(std::string_view text, PromptButtons buttons) override;
  bool AskPassword(std::string_view caption, std::string_view prompt, std::string& password) override;
};

class FltkInstallerWindow : public InstallerWindow {
 public:
  // Builds the window ("Quorel telepítő v0.5") with its panel, edit box,
  // folder button, "Install" button and the hidden status label.
  FltkInstallerWindow(const std::string& title, std::function<void()> on_folder_button,
                      std::function<void()> on_install_button);
  ~FltkInstallerWindow() override;

  // Shows the window and runs the event loop until Quit or the window closes.
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
  std::string title_;
  std::function<void()> on_folder_button_, on_install_button_;
  std::unique_ptr<Fl_Double_Window> window_;
  Fl_Input* edit_ = nullptr;
  Fl_Box* label_ = nullptr;
  std::string label_text_;
  FltkPrompts prompts_;
};

}  // namespace afp
