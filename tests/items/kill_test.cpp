// An extraction killed at any moment: every file that was there before is
// either untouched or completely replaced, never cut short.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <random>
#include <thread>
#include <vector>

#include "arcfold/arcfold.h"
#include "platform/files.h"
#include "test_util.h"

namespace {

const std::string kTool = ARCFOLD_CLI;

std::string Content(const std::string& tag, int i) {
  // Sizes from a few bytes to about 1.5 MB, so that kills land inside items.
  size_t size = i % 10 == 0 ? 1500000 : static_cast<size_t>(50 + i * 997 % 60000);
  std::string s;
  s.reserve(size);
  while (s.size() < size) s += tag + "-" + std::to_string(i) + "-" + std::to_string(s.size()) + "\n";
  s.resize(size);
  return s;
}

pid_t StartExtraction(const std::string& zip, const std::string& dest) {
  pid_t pid = ::fork();
  if (pid == 0) {
    ::execl(kTool.c_str(), kTool.c_str(), "extract", "-o", zip.c_str(), "-d", dest.c_str(),
            static_cast<char*>(nullptr));
    ::_exit(127);
  }
  return pid;
}

}  // namespace

TEST(KillDuringExtraction, ExistingFilesAreNeverLostOrCutShort) {
  constexpr int kFiles = 60;
  testutil::TempDir dir;
  std::string src = dir / "src", dest = dir / "dest";
  std::filesystem::create_directories(src + "/sub");
  std::filesystem::create_directories(dest + "/sub");
  // Made once: building them again for every check is most of the test's
  // time under the sanitizers.
  std::vector<std::string> olds, news;
  for (int i = 0; i < kFiles; ++i) {
    std::string name = "/sub/f" + std::to_string(i) + ".txt";
    news.push_back(Content("new", i));
    olds.push_back(Content("old", i));
    testutil::WriteFile(src + name, news.back());
    testutil::WriteFile(dest + name, olds.back());
  }
  std::string zip = dir / "t.zip";
  ASSERT_EQ(testutil::Sh("cd " + testutil::Quote(src) + " && zip -qr " + testutil::Quote(zip) + " ."), 0);

  // How long one whole extraction takes here sets the window for the kills.
  auto start = std::chrono::steady_clock::now();
  int status = 0;
  pid_t full = StartExtraction(zip, dir / "timing");
  ::waitpid(full, &status, 0);
  ASSERT_EQ(WEXITSTATUS(status), 0);
  auto window = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start);

  std::mt19937 rng(20261208);
  for (int run = 0; run < 20; ++run) {
    pid_t pid = StartExtraction(zip, dest);
    std::this_thread::sleep_for(std::chrono::microseconds(rng() % (window.count() + 1)));
    ::kill(pid, SIGKILL);
    ::waitpid(pid, &status, 0);
    for (int i = 0; i < kFiles; ++i) {
      std::string got = testutil::ReadFile(dest + "/sub/f" + std::to_string(i) + ".txt");
      EXPECT_TRUE(got == olds[i] || got == news[i]) << "run " << run << ", file " << i;
    }
    // Nothing but the items and temporary files (whose names say so) is there.
    for (const auto& e : std::filesystem::directory_iterator(dest + "/sub")) {
      std::string name = e.path().filename().string();
      EXPECT_TRUE(name.rfind("f", 0) == 0 || name.rfind(".arcfold-", 0) == 0) << name;
    }
  }
  // An interrupt, a termination request or a hang-up cancels the run: it
  // deletes its own temporary files, and those the kills left behind go with
  // the next run that works in the folder.
  const int kSignals[] = {SIGINT, SIGTERM, SIGHUP};
  for (int run = 0; run < 6; ++run) {
    SCOPED_TRACE("signal run " + std::to_string(run));
    pid_t pid = StartExtraction(zip, dest);
    std::this_thread::sleep_for(std::chrono::microseconds(rng() % (window.count() + 1)));
    ::kill(pid, kSignals[run % 3]);
    ::waitpid(pid, &status, 0);
    for (int i = 0; i < kFiles; ++i) {
      std::string got = testutil::ReadFile(dest + "/sub/f" + std::to_string(i) + ".txt");
      EXPECT_TRUE(got == olds[i] || got == news[i]) << "file " << i;
    }
    EXPECT_EQ(testutil::FindNamed(dest, {".arcfold-" + std::to_string(pid) + "-"}), "");
  }
  std::filesystem::remove(dest + "/sub/f0.txt");  // something for the next run to do in the folder
  ::waitpid(StartExtraction(zip, dest), &status, 0);
  EXPECT_EQ(testutil::FindNamed(dest, {".arcfold-"}), "");
}

namespace {

pid_t StartTool(const std::vector<std::string>& args) {
  pid_t pid = ::fork();
  if (pid == 0) {
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(kTool.c_str()));
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    int null = ::open("/dev/null", O_RDWR);
    ::dup2(null, 1);
    ::dup2(null, 2);
    ::execv(kTool.c_str(), argv.data());
    ::_exit(127);
  }
  return pid;
}

// name -> content of every file item; recovery allowed.
std::map<std::string, std::string> ReadAll(const std::string& zip, const std::string& scratch, bool* rebuilt) {
  std::map<std::string, std::string> m;
  arcfold::TArcfold a;
  afp::SafeAnswerPrompts no_one_there;
  a.PromptUI = &no_one_there;
  a.SetFileName(afp::FromUtf8(zip));
  try {
    a.OpenArchive(arcfold::fmOpenRead | arcfold::fmShareDenyNone);
  } catch (const std::exception&) {
    return m;
  }
  *rebuilt = a.DirectoryRebuilt();
  testutil::Sh("rm -rf " + testutil::Quote(scratch));
  a.SetBaseDir(afp::FromUtf8(scratch));
  a.Options().OverwriteMode = arcfold::omAlways;
  a.OnProcessFileFailure = [](arcfold::TAFBaseArchiver*, const afp::WideString&, arcfold::TAFProcessOperation, int, int,
                              const afp::WideString&, arcfold::TAFAction& action) { action = arcfold::fxaIgnore; };
  a.ExtractFiles(u"*.*");
  for (int i = 0; i < a.ItemCount(); ++i) {
    std::string name = afp::ToUtf8(a.Item(i).ItemName);
    if (!a.Item(i).IsDirectory() && testutil::Exists(scratch + "/" + name))
      m[name] = testutil::ReadFile(scratch + "/" + name);
  }
  return m;
}

}  // namespace

TEST(KillDuringCommit, OldItemsSurviveEveryKill) {
  testutil::TempDir dir;
  const std::string zip = dir / "k.zip", good = dir / "good.zip", src = dir / "src";
  std::filesystem::create_directories(src);
  std::map<std::string, std::string> original;
  std::vector<std::string> args = {"add", "--store-path", "none", zip};
  for (int i = 0; i < 20; ++i) {
    std::string name = "old" + std::to_string(i) + ".txt";
    original[name] = Content("old", i);
    testutil::WriteFile(src + "/" + name, original[name]);
    args.push_back(src + "/" + name);
  }
  int status = 0;
  ::waitpid(StartTool(args), &status, 0);
  ASSERT_EQ(WEXITSTATUS(status), 0);
  for (int i = 0; i < 4; ++i) testutil::WriteFile(dir / ("new" + std::to_string(i) + ".bin"), Content("new", i * 10));

  // Every change writes a new archive beside the old one and renames it
  // into place. A whole append sets the window for the kills.
  auto command = [&](int run) -> std::vector<std::string> {
    switch (run % 3) {
      case 0: return {"add", "--store-path", "none", zip, dir / ("new" + std::to_string(run % 4) + ".bin")};
      case 1: return {"delete", zip, "new*.bin"};                       // rewrites
      default: return {"rename", zip, "old3.txt", "old3.txt.renamed"};  // rewrites
    }
  };
  std::filesystem::copy_file(zip, good);
  auto start = std::chrono::steady_clock::now();
  ::waitpid(StartTool(command(0)), &status, 0);
  auto window = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start);
  std::filesystem::copy_file(good, zip, std::filesystem::copy_options::overwrite_existing);

  std::mt19937 rng(30);
  for (int run = 0; run < 30; ++run) {
    SCOPED_TRACE("run " + std::to_string(run));
    pid_t pid = StartTool(command(run));
    std::this_thread::sleep_for(std::chrono::microseconds(rng() % (2 * window.count() + 1)));
    ::kill(pid, SIGKILL);
    ::waitpid(pid, &status, 0);
    bool rebuilt = false;
    auto got = ReadAll(zip, dir / "check", &rebuilt);
    for (const auto& [name, content] : original) {
      // A rename that completed moved this one item.
      std::string found = got.count(name) ? got[name] : got[name + ".renamed"];
      EXPECT_TRUE(found == content) << name;
    }
    // The next commit starts from a whole archive: this one if it opens
    // without recovery, else the last whole one.
    if (rebuilt)
      std::filesystem::copy_file(good, zip, std::filesystem::copy_options::overwrite_existing);
    else
      std::filesystem::copy_file(zip, good, std::filesystem::copy_options::overwrite_existing);
    if (got.count("old3.txt.renamed")) {
      ::waitpid(StartTool({"rename", zip, "old3.txt.renamed", "old3.txt"}), &status, 0);
      std::filesystem::copy_file(zip, good, std::filesystem::copy_options::overwrite_existing);
    }
  }
}
