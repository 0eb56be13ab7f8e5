// An extraction killed at any moment: every file that was there before is
// either untouched or completely replaced, never cut short.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <random>
#include <thread>

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
    ::execl(kTool.c_str(), kTool.c_str(), "extract", "-o", zip.c_str(), "-d", dest.c_str(), static_cast<char*>(nullptr));
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
  for (int i = 0; i < kFiles; ++i) {
    std::string name = "/sub/f" + std::to_string(i) + ".txt";
    testutil::WriteFile(src + name, Content("new", i));
    testutil::WriteFile(dest + name, Content("old", i));
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
      EXPECT_TRUE(got == Content("old", i) || got == Content("new", i)) << "run " << run << ", file " << i;
    }
    // Nothing but the items and temporary files (whose names say so) is there.
    for (const auto& e : std::filesystem::directory_iterator(dest + "/sub")) {
      std::string name = e.path().filename().string();
      EXPECT_TRUE(name.rfind("f", 0) == 0 || name.rfind(".arcfold-", 0) == 0) << name;
    }
  }
}
