// Shows the installer's window as the installer does and, once its Install
// button is pressed, one of the dialogs it may bring up, with the texts the
// installer and its component give them: for screenshots of how they look
// at each display scale (installer/demo/window_shots_wine.sh).
//   window_gallery.exe [folder|question|password]
#include <string>

#include "seams/win32/win_window.h"

int main(int argc, char** argv) {
  const std::string dialog = argc > 1 ? argv[1] : "";
  afp::Win32InstallerWindow* shown = nullptr;
  afp::Win32InstallerWindow window(
      "Quorel telepítő v0.5", [] {},
      [&] {
        std::string folder = "C:\\Program Files (x86)", password;
        if (dialog == "folder") shown->SelectDirectory(folder);
        if (dialog == "question")
          shown->ComponentPrompts().Ask(
              "Overwrite file \"C:\\Program Files (x86)\\quorel\\libpq.dll\" with \"libpq.dll\"",
              afp::PromptButtons::YesNoNoToAllYesToAll);
        if (dialog == "password")
          shown->ComponentPrompts().AskPassword("Password for \"libpq.dll\"", "Enter password: ", password);
      });
  shown = &window;
  window.SetEditText("C:\\Program Files (x86)");
  window.SetStatus("Letöltés 10%");
  window.ShowStatus();
  return window.Run();
}
