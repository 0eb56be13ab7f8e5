// The Windows shell services the installer uses: starting a file, the
// desktop folder and shortcuts. Windows only.
#pragma once

#include <string>

namespace afp::win32 {

// Opens file as the shell would, in its own folder; false when it could not.
bool ShellOpen(const std::string& file);
// The user's desktop folder, empty when the shell does not say.
std::string DesktopFolder();
// A shell link to target at link_path (through IShellLink and IPersistFile);
// failures are silent.
void CreateShortcut(const std::string& target, const std::string& link_path, const std::string& description,
                    const std::string& arguments);

}  // namespace afp::win32
