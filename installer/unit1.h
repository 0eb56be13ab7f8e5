// QuorelSetup's window logic: choosing the base folder, and the install
// sequence that downloads the product, replaces its libraries from dll.zip,
// waits for libpq.dll, makes the desktop shortcut and starts the product.
#pragma once

#include <string>

#include "arcfold/arcfold.h"
#include "seams/download.h"
#include "seams/gui.h"
#include "seams/shell.h"

namespace quorel {

class TForm1 {
 public:
  // download_base_url: an "http://" URL ending in "/"; the server names are
  // appended to it directly.
  TForm1(afp::InstallerWindow& window, afp::Downloader& downloader, afp::Shell& shell, std::string download_base_url);

  // The window's event handlers.
  void FormCreate();
  void SpeedButton1Click();
  void Button1Click();

  // The install sequence and its helpers.
  void WInstall(const std::string& install_folder);
  // Downloads url beside target and puts it in target's place; true when
  // the new file is there. A failure leaves what was at target.
  bool SysUpgrade(const std::string& target, const std::string& url);
  void DeleteFiles(const std::string& folder, const std::string& mask);
  // Whether folder_prefix holds a file called name, in any letter case.
  bool LibraryPresent(const std::string& folder_prefix, const std::string& name);
  void CrIcon(const std::string& folder_prefix);
  std::string GetDesktopFolder();
  void CreateLink(const std::string& target, const std::string& link, const std::string& description,
                  const std::string& arguments);

  // The application's default exception handler: the message, with "." added
  // when its last character sorts after ".", in an error box.
  void ShowException(const std::exception& e);
  // Runs a handler the way the event loop does: an escaping exception goes
  // to the default handler and the window stays open.
  template <typename F>
  void Dispatch(F&& handler) {
    try {
      handler();
    } catch (const std::exception& e) {
      ShowException(e);
    }
  }

  arcfold::TArcfold Arcfold;
  std::string DefaultBaseFolder;
  std::string DownloadBaseUrl;
  // Path separator of this platform and its program folder.
  static constexpr char kSeparator = afp::kPathSeparator;
  static constexpr const char* kProgramFolder = afp::kProgramFolder;

 private:
  // Opens dll.zip and decodes every item without writing: only an archive
  // that is whole may replace the libraries. Raises what the component raises.
  void VerifyLibraryArchive(const std::string& zip, const std::string& folder_prefix);
  // Downloads url into file, a few attempts a second apart; true when it arrived.
  bool Fetch(const std::string& url, const std::string& file);
  // Renames arrived over target, retrying while target is held; on failure
  // arrived goes and target stays.
  bool PutInPlace(const std::string& arrived, const std::string& target);

  static constexpr const char* kArrivingSuffix = ".download";
  static constexpr int kDownloadAttempts = 3;
  static constexpr int kReplaceAttempts = 11;
  static constexpr int kRetryPauseMs = 1000;

  afp::InstallerWindow& window_;
  afp::Downloader& downloader_;
  afp::Shell& shell_;
  std::string configured_base_url_;
};

}  // namespace quorel
