// QuorelSetup: the program entry. One window, no command line, no settings.
#include "seams/download.h"
#include "seams/shell.h"
#include "unit1.h"
#ifdef _WIN32
#include "seams/win32/win_window.h"
using SetupWindow = afp::Win32InstallerWindow;
using SetupDownloader = afp::UrlmonDownloader;
using SetupShell = afp::WindowsShell;
#else
#include "seams/posix/fltk_window.h"
using SetupWindow = afp::FltkInstallerWindow;
using SetupDownloader = afp::CurlDownloader;
using SetupShell = afp::PosixShell;
#endif

#ifndef QUOREL_DOWNLOAD_BASE_URL
#error "QUOREL_DOWNLOAD_BASE_URL must be set by the build"
#endif

int main() {
  SetupDownloader downloader;
  SetupShell shell;
  quorel::TForm1* form = nullptr;
  SetupWindow window(
      "Quorel telepítő v0.5", [&] { form->Dispatch([&] { form->SpeedButton1Click(); }); },
      [&] { form->Dispatch([&] { form->Button1Click(); }); });
  quorel::TForm1 form1(window, downloader, shell, QUOREL_DOWNLOAD_BASE_URL);
  form = &form1;
  form1.FormCreate();
  return window.Run();
}
