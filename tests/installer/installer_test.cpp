// The install sequence against a real HTTP server on 127.0.0.1 and real
// files; only the window and its dialogs are a scripted double.
#include <gtest/gtest.h>
#include <httplib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <map>
#include <mutex>
#include <thread>

#include "platform/files.h"
#include "seams/download.h"
#include "seams/shell.h"
#include "test_util.h"
#include "unit1.h"

using testutil::Exists;
using testutil::Quote;
using testutil::ReadFile;
using testutil::Sh;
using testutil::WriteFile;

namespace {

class ScriptedWindow : public afp::InstallerWindow {
 public:
  std::string edit;
  std::vector<std::string> statuses, messages, errors, file_dialogs;
  bool status_visible = false, quit = false;
  int beeps = 0, sleeps_ms = 0, pumps = 0;
  std::optional<std::string> directory_answer;  // empty: the dialog is cancelled

  struct Prompts : afp::Prompts {
    std::vector<std::string> asked;
    afp::PromptAnswer answer = afp::PromptAnswer::Abort;
    std::optional<std::string> password;  // empty: the password box is cancelled
    int password_questions = 0;
    afp::PromptAnswer Ask(std::string_view text, afp::PromptButtons) override {
      asked.emplace_back(text);
      return answer;
    }
    bool AskPassword(std::string_view, std::string_view, std::string& entered) override {
      ++password_questions;
      if (password) entered = *password;
      return password.has_value();
    }
  } prompts;

  std::string EditText() override { return edit; }
  void SetEditText(const std::string& t) override { edit = t; }
  void SetStatus(const std::string& t) override { statuses.push_back(t); }
  void ShowStatus() override { status_visible = true; }
  void ProcessMessages() override { ++pumps; }
  void MessageBox(const std::string& t) override { messages.push_back(t); }
  void ErrorBox(const std::string& t) override { errors.push_back(t); }
  bool SelectDirectory(std::string& folder) override {
    if (!directory_answer) return false;
    folder = *directory_answer;
    return true;
  }
  void OpenFileDialog(const std::string& dir) override { file_dialogs.push_back(dir); }
  void Beep() override { ++beeps; }
  void Sleep(int ms) override { sleeps_ms += ms; }
  void Quit() override { quit = true; }
  afp::Prompts& ComponentPrompts() override { return prompts; }
};

// The download site: each file has content and a number of failures (404)
// to give before serving it; -1 fails for ever.
class Site {
 public:
  Site() {
    port_ = server_.bind_to_any_port("127.0.0.1");
    server_.Get(R"(/quorel/(.+))", [this](const httplib::Request& req, httplib::Response& res) {
      std::lock_guard<std::mutex> lock(mu_);
      std::string name = req.matches[1];
      ++requests_[name];
      auto it = files_.find(name);
      if (it == files_.end() || it->second.failures != 0) {
        if (it != files_.end() && it->second.failures > 0) --it->second.failures;
        res.status = 404;
        res.set_content("<html><body>Not found</body></html>", "text/html");
        return;
      }
      res.set_content(it->second.content, "application/octet-stream");
    });
    thread_ = std::thread([this] { server_.listen_after_bind(); });
  }
  ~Site() {
    server_.stop();
    thread_.join();
  }
  void Serve(const std::string& name, const std::string& content, int failures = 0) {
    std::lock_guard<std::mutex> lock(mu_);
    files_[name] = {content, failures};
  }
  int Requests(const std::string& name) {
    std::lock_guard<std::mutex> lock(mu_);
    return requests_[name];
  }
  std::string BaseUrl() const { return "http://127.0.0.1:" + std::to_string(port_) + "/quorel/"; }

 private:
  struct File {
    std::string content;
    int failures;
  };
  httplib::Server server_;
  int port_;
  std::thread thread_;
  std::mutex mu_;
  std::map<std::string, File> files_;
  std::map<std::string, int> requests_;
};

const char kProduct[] = "#!/bin/sh\necho started > \"$(dirname \"$0\")/started.txt\"\n";

class InstallerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_cwd_ = afp::ToUtf8(afp::GetCurrentDir());
    desktop = dir / "desktop";
    ::mkdir(desktop.c_str(), 0777);
    ::setenv("XDG_DESKTOP_DIR", desktop.c_str(), 1);
    base = dir / "base";
    ::mkdir(base.c_str(), 0777);
    folder = base + "/quorel";
    site.Serve("quorel.jpg", kProduct);
    site.Serve("sutil.zip", "#!/bin/sh\necho utility\n");
    site.Serve("dll.zip", LibraryZip());
    form = std::make_unique<quorel::TForm1>(window, downloader, shell, site.BaseUrl());
    form->FormCreate();
    window.edit = base;
  }
  void TearDown() override {
    // The product runs detached: it writes its mark after the installer has
    // gone, and must do so before the test's folder is removed, or the mark
    // keeps a remnant of the folder alive. Only a run that finished starts it.
    if (ProductStarted()) WaitForStart();
    afp::SetCurrentDir(afp::FromUtf8(saved_cwd_));
    ::unsetenv("XDG_DESKTOP_DIR");
  }
  std::string LibraryZip(bool with_libpq = true) {
    std::string src = dir / (with_libpq ? "libs" : "libs-nopq");
    Sh("rm -rf " + Quote(src) + " && mkdir -p " + Quote(src + "/platforms"));
    if (with_libpq) WriteFile(src + "/libpq.dll", "new libpq");
    WriteFile(src + "/libssl.dll", "new libssl");
    WriteFile(src + "/platforms/qwindows.dll", "platform plugin");
    std::string zip = dir / (with_libpq ? "dll.zip" : "dll-nopq.zip");
    Sh("rm -f " + Quote(zip) + " && cd " + Quote(src) + " && zip -qr " + Quote(zip) + " .");
    return ReadFile(zip);
  }
  void OldInstall() {
    ::mkdir(folder.c_str(), 0777);
    WriteFile(folder + "/old.dll", "old library");
    WriteFile(folder + "/LIBPQ.DLL", "old libpq");
  }
  // Until the product's mark is whole: the file is there, empty, a moment
  // before its line is (and a loaded machine may start the product late).
  void WaitForStart() {
    for (int i = 0; i < 300 && ReadFile(folder + "/started.txt").find('\n') == std::string::npos; ++i) usleep(100000);
  }
  bool ProductStarted() const {
    return window.quit && !window.statuses.empty() && window.statuses.back() == "Elkészült..." &&
           ReadFile(folder + "/quorel.exe") == kProduct;
  }
  void Click() {
    form->Dispatch([&] { form->Button1Click(); });
  }

  testutil::TempDir dir;
  std::string desktop, base, folder, saved_cwd_;
  Site site;
  ScriptedWindow window;
  afp::CurlDownloader downloader{5, 30};
  afp::PosixShell shell;
  std::unique_ptr<quorel::TForm1> form;
};

}  // namespace

TEST_F(InstallerTest, FirstInstall) {
  EXPECT_EQ(form->DefaultBaseFolder, "/opt");
  OldInstall();
  ::unlink((folder + "/quorel.exe").c_str());
  Click();
  EXPECT_TRUE(window.errors.empty()) << window.errors[0];
  EXPECT_TRUE(window.messages.empty());
  EXPECT_EQ(window.statuses,
            (std::vector<std::string>{"Letöltés 10%", "Letöltés 30%", "Letöltés 80%", "Elkészült..."}));
  EXPECT_TRUE(window.status_visible);
  EXPECT_EQ(window.beeps, 0);
  EXPECT_EQ(window.sleeps_ms, 4000);  // one per download, and step 12
  EXPECT_TRUE(window.quit);
  EXPECT_EQ(ReadFile(folder + "/quorel.exe"), kProduct);
  EXPECT_EQ(ReadFile(folder + "/libpq.dll"), "new libpq");
  EXPECT_EQ(ReadFile(folder + "/platforms/qwindows.dll"), "platform plugin");
  EXPECT_FALSE(Exists(folder + "/old.dll"));
  EXPECT_FALSE(Exists(folder + "/LIBPQ.DLL"));
  EXPECT_FALSE(Exists(folder + "/dll.zip"));
  std::string link = ReadFile(desktop + "/Quorel.desktop");
  EXPECT_NE(link.find("Name=Quorel"), std::string::npos);
  EXPECT_NE(link.find("Exec=\"" + folder + "/quorel.exe\""), std::string::npos);
  WaitForStart();
  EXPECT_EQ(ReadFile(folder + "/started.txt"), "started\n");
}

TEST_F(InstallerTest, ReinstallMakesNoShortcut) {
  OldInstall();
  WriteFile(folder + "/quorel.exe", "old product");
  Click();
  EXPECT_TRUE(window.quit);
  EXPECT_FALSE(Exists(desktop + "/Quorel.desktop"));
  EXPECT_EQ(ReadFile(folder + "/quorel.exe"), kProduct);
}

TEST_F(InstallerTest, ProductThatCannotBeDeleted) {
  // A non-empty folder in its place cannot be unlinked, as a running product
  // cannot be deleted on Windows.
  ::mkdir(folder.c_str(), 0777);
  ::mkdir((folder + "/quorel.exe").c_str(), 0777);
  WriteFile(folder + "/quorel.exe/x", "");
  Click();
  EXPECT_EQ(window.messages, (std::vector<std::string>{"Zárd be a QUOREL programot és próbáld újra !"}));
  EXPECT_EQ(window.statuses, (std::vector<std::string>{"Letöltés 10%"}));
  EXPECT_FALSE(window.quit);
  EXPECT_EQ(site.Requests("quorel.jpg"), 0);
}

TEST_F(InstallerTest, DownloadSucceedingAtTheThirdAttempt) {
  site.Serve("sutil.zip", "utility", 2);
  Click();
  EXPECT_EQ(window.beeps, 2);
  EXPECT_EQ(site.Requests("sutil.zip"), 3);
  EXPECT_EQ(window.sleeps_ms, 6000);
  EXPECT_EQ(ReadFile(folder + "/sutil.exe"), "utility");
  EXPECT_TRUE(window.quit);
  EXPECT_TRUE(window.messages.empty());
}

TEST_F(InstallerTest, LibraryArchiveNeverArrives) {
  OldInstall();
  site.Serve("dll.zip", "", -1);
  Click();
  EXPECT_EQ(window.beeps, 3);
  EXPECT_EQ(window.messages, (std::vector<std::string>{"Nem sikerült, próbáld újra de egy másik könyvtárba !"}));
  EXPECT_TRUE(window.quit);
  EXPECT_EQ(ReadFile(folder + "/old.dll"), "old library");
  EXPECT_FALSE(Exists(folder + "/dll.zip"));  // a failed download leaves no file
}

TEST_F(InstallerTest, FailedDownloadsKeepTheInstalledPrograms) {
  OldInstall();
  WriteFile(folder + "/quorel.exe", "old product");
  WriteFile(folder + "/sutil.exe", "old utility");
  // Nothing listens on port 1 here: every download fails at once.
  form->DownloadBaseUrl = "http://127.0.0.1:1/quorel/";
  Click();
  EXPECT_EQ(window.messages, (std::vector<std::string>{"Nem sikerült, próbáld újra de egy másik könyvtárba !"}));
  EXPECT_EQ(window.statuses, (std::vector<std::string>{"Letöltés 10%", "Letöltés 30%", "Letöltés 80%"}));
  EXPECT_EQ(window.beeps, 9);
  EXPECT_EQ(window.sleeps_ms, 9000);
  EXPECT_TRUE(window.quit);
  EXPECT_EQ(ReadFile(folder + "/quorel.exe"), "old product");
  EXPECT_EQ(ReadFile(folder + "/sutil.exe"), "old utility");
  EXPECT_EQ(testutil::Entries(folder), (std::vector<std::string>{"LIBPQ.DLL", "old.dll", "quorel.exe", "sutil.exe"}));

  // A program that cannot be replaced stays as it is, after as many tries
  // as deleting it was given, and its new copy does not linger.
  window.messages.clear();
  window.sleeps_ms = 0;
  window.quit = false;
  ::unlink((folder + "/sutil.exe").c_str());
  ::mkdir((folder + "/sutil.exe").c_str(), 0777);
  WriteFile(folder + "/sutil.exe/x", "");
  form->DownloadBaseUrl = site.BaseUrl();
  Click();
  EXPECT_TRUE(window.messages.empty());
  EXPECT_EQ(window.sleeps_ms, 4000 + 11000);
  EXPECT_TRUE(window.quit);
  EXPECT_EQ(ReadFile(folder + "/quorel.exe"), kProduct);
  EXPECT_TRUE(Exists(folder + "/sutil.exe/x"));
  EXPECT_FALSE(Exists(folder + "/sutil.exe.download"));
}

TEST_F(InstallerTest, LibpqMissingAfterUnpacking) {
  site.Serve("dll.zip", LibraryZip(false));
  Click();
  EXPECT_EQ(window.beeps, 10);
  EXPECT_EQ(window.messages, (std::vector<std::string>{"Nem sikerült, próbáld újra de egy másik könyvtárba !#2"}));
  EXPECT_TRUE(window.quit);
  EXPECT_TRUE(Exists(folder + "/dll.zip"));
  EXPECT_FALSE(Exists(desktop + "/Quorel.desktop"));
  EXPECT_EQ(window.statuses.back(), "Letöltés 80%");
}

TEST_F(InstallerTest, ErrorPageInsteadOfArchiveKeepsOldLibraries) {
  OldInstall();
  site.Serve("dll.zip", "<html><body>Service temporarily unavailable</body></html>");
  Click();
  EXPECT_EQ(window.errors, (std::vector<std::string>{"Invalid archive file. - Native error: 00035."}));
  EXPECT_FALSE(window.quit);
  EXPECT_EQ(ReadFile(folder + "/old.dll"), "old library");
  EXPECT_EQ(ReadFile(folder + "/LIBPQ.DLL"), "old libpq");
}

TEST_F(InstallerTest, DamagedArchiveKeepsOldLibraries) {
  OldInstall();
  std::string zip = LibraryZip();
  // Corrupt the stored data of the first member without touching the records.
  size_t data = zip.find("new libpq");
  if (data == std::string::npos) data = 40;
  zip[data] ^= 0x55;
  site.Serve("dll.zip", zip);
  Click();
  ASSERT_EQ(window.errors.size(), 1u);
  EXPECT_NE(window.errors[0].find("Native error: 00008."), std::string::npos) << window.errors[0];
  EXPECT_EQ(ReadFile(folder + "/old.dll"), "old library");
}

TEST_F(InstallerTest, UnusableBaseFolder) {
  window.edit = "  " + dir / "no/such/parent" + " \t";
  Click();
  EXPECT_EQ(window.messages, (std::vector<std::string>{"Ez a könyvtár nem jó - válasz másikat."}));
  EXPECT_TRUE(window.statuses.empty());
  EXPECT_FALSE(window.quit);
}

TEST_F(InstallerTest, TrailingSeparatorAndFolderDialog) {
  window.edit = base + "/";
  Click();
  EXPECT_TRUE(Exists(base + "/quorel/libpq.dll"));
  EXPECT_FALSE(Exists(base + "//quorel2"));

  window.edit = "kept";
  window.directory_answer.reset();
  form->SpeedButton1Click();
  EXPECT_EQ(window.edit, "kept");
  EXPECT_EQ(window.file_dialogs, (std::vector<std::string>{"/opt"}));
  window.directory_answer = "/chosen/folder";
  form->SpeedButton1Click();
  EXPECT_EQ(window.edit, "/chosen/folder");
}

TEST(InstallerDefaultHandler, FullStopRule) {
  ScriptedWindow w;
  afp::CurlDownloader d;
  afp::PosixShell s;
  quorel::TForm1 f(w, d, s, "http://127.0.0.1:1/");
  f.ShowException(std::runtime_error("ends in a digit 5"));
  f.ShowException(std::runtime_error("ends in a stop."));
  f.ShowException(std::runtime_error("ends in a bracket)"));
  EXPECT_EQ(w.errors, (std::vector<std::string>{"ends in a digit 5.", "ends in a stop.", "ends in a bracket)"}));
}

TEST_F(InstallerTest, ItemFailingWhileUnpackingAsksAbortRetryIgnore) {
  // A folder where a library file should go: that item cannot be created.
  ::mkdir(folder.c_str(), 0777);
  ::mkdir((folder + "/libssl.dll").c_str(), 0777);
  WriteFile(folder + "/libssl.dll/keep", "");
  window.prompts.answer = afp::PromptAnswer::Ignore;
  Click();
  ASSERT_EQ(window.prompts.asked.size(), 1u);
  EXPECT_NE(window.prompts.asked[0].find("Arcfold: Cannot create file"), std::string::npos) << window.prompts.asked[0];
  EXPECT_NE(window.prompts.asked[0].find(". File processing error, possibly disk is full"), std::string::npos);
  // Ignore went on: the other items are there and the sequence finished.
  EXPECT_EQ(ReadFile(folder + "/libpq.dll"), "new libpq");
  EXPECT_TRUE(window.quit);
  EXPECT_EQ(window.statuses.back(), "Elkészült...");
}

TEST_F(InstallerTest, LibraryNamedInCapitalsCountsAsPresent) {
  // Windows archives often carry "LIBPQ.DLL"; the file system there ignores case.
  std::string src = dir / "caps";
  Sh("mkdir -p " + Quote(src) + " && printf 'new libpq' > " + Quote(src + "/LIBPQ.DLL"));
  std::string zip = dir / "caps.zip";
  Sh("cd " + Quote(src) + " && zip -qr " + Quote(zip) + " .");
  site.Serve("dll.zip", ReadFile(zip));
  Click();
  EXPECT_TRUE(window.messages.empty()) << window.messages[0];
  EXPECT_EQ(window.beeps, 0);
  EXPECT_EQ(ReadFile(folder + "/LIBPQ.DLL"), "new libpq");
  EXPECT_EQ(window.statuses.back(), "Elkészült...");
}

TEST_F(InstallerTest, EncryptedLibraryArchiveWithoutItsPasswordKeepsOldLibraries) {
  OldInstall();
  std::string src = dir / "secret-libs";
  Sh("mkdir -p " + Quote(src) + " && printf 'new libpq' > " + Quote(src + "/libpq.dll"));
  std::string zip = dir / "secret.zip";
  Sh("cd " + Quote(src) + " && zip -qr -P secret " + Quote(zip) + " .");
  site.Serve("dll.zip", ReadFile(zip));
  Click();  // the password box is cancelled
  EXPECT_EQ(window.errors, (std::vector<std::string>{
                               "Arcfold: Invalid password. Cannot decompress encrypted file. - Native error: 00067."}));
  EXPECT_EQ(window.prompts.password_questions, 1);
  EXPECT_FALSE(window.quit);
  EXPECT_EQ(ReadFile(folder + "/old.dll"), "old library");
  EXPECT_EQ(ReadFile(folder + "/LIBPQ.DLL"), "old libpq");

  // The password given once serves the unpacking as well.
  window.errors.clear();
  window.prompts.password = "secret";
  Click();
  EXPECT_TRUE(window.errors.empty()) << window.errors[0];
  EXPECT_EQ(window.prompts.password_questions, 2);
  EXPECT_TRUE(window.quit);
  EXPECT_EQ(ReadFile(folder + "/libpq.dll"), "new libpq");
  EXPECT_FALSE(Exists(folder + "/old.dll"));
}
