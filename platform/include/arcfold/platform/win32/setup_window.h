// The setup program's one window, as a native Windows window built at run
// time. Windows only.
#pragma once

#include <functional>
#include <memory>
#include <string>

namespace afp::win32 {

// A panel with a folder edit box, a folder button and an "Install" button,
// and a hidden bold status label below; laid out at the monitor's scale.
class SetupWindow {
 public:
  SetupWindow(const std::string& title, std::function<void()> on_folder_button,
              std::function<void()> on_install_button);
  ~SetupWindow();
  SetupWindow(const SetupWindow&) = delete;
  SetupWindow& operator=(const SetupWindow&) = delete;

  // Shows the window and runs the message loop until Quit or the window closes.
  int Run();

  std::string EditText();
  void SetEditText(const std::string& text);
  // The status label's text (it grows with it), and showing it.
  void SetStatus(const std::string& text);
  void ShowStatus();
  // Handles what is waiting in the message queue.
  void ProcessMessages();
  // A message box with OK and the window's title, plain or with the error icon.
  void MessageBox(const std::string& text);
  void ErrorBox(const std::string& text);
  // The shell's folder browser ("Select Directory") starting at folder; a
  // folder that does not exist is created after asking. False when cancelled.
  bool SelectDirectory(std::string& folder);
  // The file-open dialog in initial_dir; what is chosen is not used.
  void OpenFileDialog(const std::string& initial_dir);
  void Beep();
  void Sleep(int milliseconds);
  // Closes the window, which ends Run.
  void Quit();

  struct Controls;  // the window's handles, fonts and handlers

 private:
  std::string title_;
  std::unique_ptr<Controls> c_;
};

}  // namespace afp::win32
