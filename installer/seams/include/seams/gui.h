// The desktop services of the installer: its one window, message boxes,
// folder and file dialogs, beeps, sleeping and the event loop. FLTK on POSIX;
// tests use a scripted double.
#pragma once

#include <string>

#include "platform/prompts.h"

namespace afp {

class InstallerWindow {
 public:
  virtual ~InstallerWindow() = default;

  // The folder edit box (Edit1).
  virtual std::string EditText() = 0;
  virtual void SetEditText(const std::string& text) = 0;
  // The status label (Label1): text, and shown once made visible.
  virtual void SetStatus(const std::string& text) = 0;
  virtual void ShowStatus() = 0;
  // Let the window process pending messages (repaint the label).
  virtual void ProcessMessages() = 0;

  // The simple message box: text, OK, the application's title as caption.
  virtual void MessageBox(const std::string& text) = 0;
  // The default exception handler's box: error icon, OK.
  virtual void ErrorBox(const std::string& text) = 0;
  // The directory-selection dialog (caption "Select Directory") starting at
  // folder; it may create a typed folder after asking. False when cancelled.
  virtual bool SelectDirectory(std::string& folder) = 0;
  // The file-open dialog, starting in initial_dir; its answer is not used.
  virtual void OpenFileDialog(const std::string& initial_dir) = 0;

  virtual void Beep() = 0;
  virtual void Sleep(int milliseconds) = 0;
  // Ask the application to quit: the event loop ends.
  virtual void Quit() = 0;

  // The archive component's built-in questions, as dialogs of this window.
  virtual Prompts& ComponentPrompts() = 0;
};

}  // namespace afp
