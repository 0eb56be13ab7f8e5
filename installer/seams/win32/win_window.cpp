#include "seams/win32/win_window.h"

#include <utility>

namespace afp {

Win32InstallerWindow::Win32InstallerWindow(const std::string& title, std::function<void()> on_folder_button,
                                           std::function<void()> on_install_button)
    : window_(title, std::move(on_folder_button), std::move(on_install_button)) {}

int Win32InstallerWindow::Run() { return window_.Run(); }
std::string Win32InstallerWindow::EditText() { return window_.EditText(); }
void Win32InstallerWindow::SetEditText(const std::string& text) { window_.SetEditText(text); }
void Win32InstallerWindow::SetStatus(const std::string& text) { window_.SetStatus(text); }
void Win32InstallerWindow::ShowStatus() { window_.ShowStatus(); }
void Win32InstallerWindow::ProcessMessages() { window_.ProcessMessages(); }
void Win32InstallerWindow::MessageBox(const std::string& text) { window_.MessageBox(text); }
void Win32InstallerWindow::ErrorBox(const std::string& text) { window_.ErrorBox(text); }
bool Win32InstallerWindow::SelectDirectory(std::string& folder) { return window_.SelectDirectory(folder); }
void Win32InstallerWindow::OpenFileDialog(const std::string& initial_dir) { window_.OpenFileDialog(initial_dir); }
void Win32InstallerWindow::Beep() { window_.Beep(); }
void Win32InstallerWindow::Sleep(int milliseconds) { window_.Sleep(milliseconds); }
void Win32InstallerWindow::Quit() { window_.Quit(); }

}  // namespace afp
