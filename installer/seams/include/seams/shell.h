// The shell services of the installer: starting a program, the desktop
// folder and desktop shortcuts.
#pragma once

#include <string>

#include "platform/files.h"

namespace afp {

// Where programs are installed by default.
#ifdef _WIN32
constexpr const char* kProgramFolder = "C:\\Program Files (x86)";
#else
constexpr const char* kProgramFolder = "/opt";
#endif

class Shell {
 public:
  virtual ~Shell() = default;
  // Starts a file the way the desktop would, detached; false when it could not.
  virtual bool Execute(const std::string& file) = 0;
  // The desktop folder, empty when it cannot be determined.
  virtual std::string DesktopFolder() = 0;
  // Writes a shortcut to target at link_path; failures are silent.
  virtual void CreateLink(const std::string& target, const std::string& link_path, const std::string& description,
                          const std::string& arguments) = 0;
};

// POSIX: ELF or "#!" files are made executable for their owner and spawned in
// their folder, anything else goes to xdg-open; the desktop is XDG's; a
// shortcut is a freedesktop desktop entry, saved under the requested name
// with its extension replaced by ".desktop".
class PosixShell : public Shell {
 public:
  bool Execute(const std::string& file) override;
  std::string DesktopFolder() override;
  void CreateLink(const std::string& target, const std::string& link_path, const std::string& description,
                  const std::string& arguments) override;
};

// Windows: ShellExecute, the shell's desktop folder, and a shell link saved
// through IShellLink and IPersistFile.
class WindowsShell : public Shell {
 public:
  bool Execute(const std::string& file) override;
  std::string DesktopFolder() override;
  void CreateLink(const std::string& target, const std::string& link_path, const std::string& description,
                  const std::string& arguments) override;
};

}  // namespace afp
