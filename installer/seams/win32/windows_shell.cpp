#include "platform/win32/windows_shell.h"

#include "seams/shell.h"

namespace afp {

bool WindowsShell::Execute(const std::string& file) { return win32::ShellOpen(file); }

std::string WindowsShell::DesktopFolder() { return win32::DesktopFolder(); }

void WindowsShell::CreateLink(const std::string& target, const std::string& link_path, const std::string& description,
                              const std::string& arguments) {
  win32::CreateShortcut(target, link_path, description, arguments);
}

}  // namespace afp
