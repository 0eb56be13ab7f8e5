// QuorelSetup: the program entry. One window, no command line, no settings.
#include <FL/Fl.H>

#include "platform/download.h"
#include "platform/posix/fltk_window.h"
#include "platform/shell.h"
#include "unit1.h"

#ifndef QUOREL_DOWNLOAD_BASE_URL
#error "QUOREL_DOWNLOAD_BASE_URL must be set by the build"
#endif

int main() {
  afp::CurlDownloader downloader;
  afp::PosixShell shell;
  quorel::TForm1* form = nullptr;
  afp::FltkInstallerWindow window(
      "Quorel telepítő v0.5", [&] { form->Dispatch([&] { form->SpeedButton1Click(); }); },
      [&] { form->Dispatch([&] { form->Button1Click(); }); });
  quorel::TForm1 form1(window, downloader, shell, QUOREL_DOWNLOAD_BASE_URL);
  form = &form1;
  form1.FormCreate();
  return window.Run();
}
