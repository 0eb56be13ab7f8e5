#include "unit1.h"

#include "platform/files.h"

namespace quorel {

namespace {

afp::WideString W(const std::string& s) { return afp::FromUtf8(s); }

bool Exists(const std::string& path) { return afp::GetPathType(W(path)) != afp::PathType::None; }
void Delete(const std::string& path) { afp::DeleteFile(W(path)); }

// Leading and trailing blanks and control characters go.
std::string Trim(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && static_cast<unsigned char>(s[b]) <= ' ') ++b;
  while (e > b && static_cast<unsigned char>(s[e - 1]) <= ' ') --e;
  return s.substr(b, e - b);
}

}  // namespace

TForm1::TForm1(afp::InstallerWindow& window, afp::Downloader& downloader, afp::Shell& shell,
               std::string download_base_url)
    : window_(window), downloader_(downloader), shell_(shell), configured_base_url_(std::move(download_base_url)) {
  Arcfold.SetName("Arcfold");
  Arcfold.PromptUI = &window_.ComponentPrompts();
  // Hungarian systems: Windows-1250 names, CP852 for the OEM form.
  Arcfold.CodePages = {1250, 852};
}

void TForm1::FormCreate() {
  DefaultBaseFolder = kProgramFolder;
  DownloadBaseUrl = configured_base_url_;
  window_.SetEditText(DefaultBaseFolder);
}

void TForm1::SpeedButton1Click() {
  std::string folder = window_.EditText();
  if (window_.SelectDirectory(folder)) {
    window_.SetEditText(folder);
  } else {
    window_.OpenFileDialog(DefaultBaseFolder);
  }
}

void TForm1::Button1Click() {
  std::string folder = Trim(window_.EditText());
  if (folder.empty() || folder.back() != kSeparator) folder += kSeparator;
  folder += "quorel";
  if (!afp::DirectoryExists(W(folder))) afp::CreateDir(W(folder));  // one level; the result is not needed
  if (!afp::SetCurrentDir(W(folder))) {
    window_.MessageBox("Ez a könyvtár nem jó - válasz másikat.");
    return;
  }
  WInstall(folder);
}

void TForm1::WInstall(const std::string& install_folder) {
  const std::string prefix = install_folder + kSeparator;
  const std::string product = prefix + "quorel.exe";
  window_.SetStatus("Letöltés 10%");
  window_.ShowStatus();
  window_.ProcessMessages();
  const bool existed_before = Exists(product);
  // A running product on Windows keeps its file: it cannot be replaced then.
  // POSIX lets a running program's file go, so the question is rarer here.
  // The file itself stays until its new copy has arrived.
  if (!afp::FileReplaceable(W(product))) {
    window_.MessageBox("Zárd be a QUOREL programot és próbáld újra !");
    return;
  }
  SysUpgrade(prefix + "quorel" + ".exe", DownloadBaseUrl + "quorel" + ".jpg");
  window_.SetStatus("Letöltés 30%");
  window_.ProcessMessages();
  SysUpgrade(prefix + "sutil" + ".exe", DownloadBaseUrl + "sutil" + ".zip");
  window_.SetStatus("Letöltés 80%");
  window_.ProcessMessages();
  if (!SysUpgrade(prefix + "dll" + ".zip", DownloadBaseUrl + "dll" + ".zip")) {
    window_.MessageBox("Nem sikerült, próbáld újra de egy másik könyvtárba !");
    window_.Quit();
    return;
  }
  VerifyLibraryArchive(prefix + "dll.zip", prefix);
  DeleteFiles(prefix, "*.dll");
  Arcfold.SetFileName(W(prefix + "dll.zip"));
  Arcfold.SetBaseDir(W(prefix));
  Arcfold.OpenArchive();
  Arcfold.ExtractFiles(u"*.*", arcfold::kAnyAttributes, u"");
  Arcfold.CloseArchive();
  int pauses = 0;
  while (!LibraryPresent(prefix, "libpq.dll") && pauses < 10) {
    window_.Beep();
    window_.Sleep(1000);
    ++pauses;
  }
  if (!LibraryPresent(prefix, "libpq.dll")) {
    window_.MessageBox("Nem sikerült, próbáld újra de egy másik könyvtárba !#2");
    window_.Quit();
    return;
  }
  window_.Sleep(1000);
  if (!existed_before) CrIcon(prefix);
  window_.SetStatus("Elkészült...");
  Delete(prefix + "dll.zip");
  window_.ProcessMessages();
  shell_.Execute(product);
  window_.Quit();
}

void TForm1::VerifyLibraryArchive(const std::string& zip, const std::string& folder_prefix) {
  arcfold::TArcfold check;
  check.SetName(Arcfold.Name());
  check.CodePages = Arcfold.CodePages;
  check.SetFileName(W(zip));
  check.SetBaseDir(W(folder_prefix));
  std::unique_ptr<arcfold::EAFException> first_failure;
  check.OnProcessFileFailure = [&](arcfold::TAFBaseArchiver*, const afp::WideString&, arcfold::TAFProcessOperation,
                                   int native, int code, const afp::WideString& message, arcfold::TAFAction& action) {
    // The failure keeps its own text: rebuilt from the code alone, a message
    // that names a file would show its placeholder instead.
    if (!first_failure)
      first_failure =
          std::make_unique<arcfold::EAFException>(arcfold::EAFException::Reraised(native, code, afp::ToUtf8(message)));
    action = arcfold::fxaAbort;
  };
  // The password question is the one the unpacking would ask. A skipped
  // item would be missing after the old libraries are gone, so it fails
  // the check; a password that works serves the unpacking too.
  check.OnPassword = [&](arcfold::TAFBaseArchiver* sender, const afp::WideString& name, std::string& password,
                         bool& skip) {
    Arcfold.DoPassword(name, password, skip);
    if (skip && !first_failure) {
      first_failure = std::make_unique<arcfold::EAFException>(
          arcfold::EAFException::Create(arcfold::NativeError::kInvalidPassword, &check));
      sender->SetCancelFlag(true);
    }
  };
  check.OpenArchive(arcfold::fmOpenRead | arcfold::fmShareDenyNone);
  check.TestFiles(u"*.*", arcfold::kAnyAttributes, u"");
  check.CloseArchive();
  if (first_failure) throw *first_failure;
  Arcfold.SetPassword(check.Password());
}

bool TForm1::SysUpgrade(const std::string& target, const std::string& url) {
  // The new copy arrives beside the old file, which goes only when the new
  // one is complete: an unreachable site leaves the installed program working.
  const std::string arriving = target + kArrivingSuffix;
  return Fetch(url, arriving) && PutInPlace(arriving, target);
}

bool TForm1::Fetch(const std::string& url, const std::string& file) {
  for (int attempt = 0; attempt < kDownloadAttempts; ++attempt) {
    window_.Sleep(kRetryPauseMs);
    Delete(file);                     // a copy left by an interrupted run must not pass for this one
    downloader_.Download(url, file);  // fetches past any cache; its own result is not needed
    if (Exists(file)) return true;
    window_.Beep();
  }
  return false;
}

bool TForm1::PutInPlace(const std::string& arrived, const std::string& target) {
  // A program that is still closing may hold its file for a while.
  for (int attempt = 0; attempt < kReplaceAttempts; ++attempt) {
    if (afp::ReplaceFile(W(arrived), W(target))) return true;
    window_.Sleep(kRetryPauseMs);
  }
  Delete(arrived);
  return false;
}

void TForm1::DeleteFiles(const std::string& folder, const std::string& mask) {
  std::string dir = folder;
  if (dir.empty() || dir.back() != kSeparator) dir += kSeparator;
  // Masks ignore letter case, as on Windows; what cannot be deleted stays.
  for (const auto& name : afp::ListDirectory(W(dir)))
    if (arcfold::WildcardMatch(name, W(mask), true)) afp::DeleteFile(W(dir) + name);
}

bool TForm1::LibraryPresent(const std::string& folder_prefix, const std::string& name) {
  // Names ignore letter case, as on Windows: an archive may hold "LIBPQ.DLL".
  if (Exists(folder_prefix + name)) return true;
  const afp::WideString wanted = afp::LowerCase(W(name));
  for (const auto& entry : afp::ListDirectory(W(folder_prefix)))
    if (afp::LowerCase(entry) == wanted) return true;
  return false;
}

void TForm1::CrIcon(const std::string& folder_prefix) {
  std::string target = folder_prefix + "quorel.exe";
  std::string link = GetDesktopFolder() + kSeparator + "Quorel.lnk";
  CreateLink(target, link, "", "");
}

std::string TForm1::GetDesktopFolder() { return shell_.DesktopFolder(); }

void TForm1::CreateLink(const std::string& target, const std::string& link, const std::string& description,
                        const std::string& arguments) {
  shell_.CreateLink(target, link, description, arguments);
}

void TForm1::ShowException(const std::exception& e) {
  std::string msg = e.what();
  if (!msg.empty() && static_cast<unsigned char>(msg.back()) > '.') msg += '.';
  window_.ErrorBox(msg);
}

}  // namespace quorel
