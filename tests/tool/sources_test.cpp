#include "sources.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/wide.h"
#include "test_util.h"

namespace arcfold_cli {
namespace {

// Notes what a walk gives, in order, with what the listing found of each
// file; refuses the folders named "refused"; throws at the file named
// "stop".
class Noted : public SourceVisitor {
 public:
  std::vector<std::string> lines;
  void File(const afp::WideString& path, const afp::FileInfo* known) override {
    if (path.ends_with(u"/stop")) throw std::runtime_error("stopped");
    std::string line = "F " + afp::ToUtf8(path);
    if (known)
      line += " " + std::to_string(known->exists) + " " + std::to_string(known->dos_time) + " " +
              std::to_string(known->unix_mode);
    lines.push_back(line);
  }
  bool Folder(const afp::WideString& path) override {
    lines.push_back("D " + afp::ToUtf8(path));
    return !path.ends_with(u"refused");
  }
  void Skipped(const afp::WideString& path, const std::string& why) override {
    lines.push_back("S " + afp::ToUtf8(path) + " " + why);
  }
  void NotAdded(const afp::WideString& path, const std::string& why) override {
    lines.push_back("N " + afp::ToUtf8(path) + " " + why);
  }
};

// The folder walked next is listed ahead on a second thread: the walk must
// give what a walk that lists each folder when it gets there gives, however
// the guess of the next folder goes (folders at every depth, a refused one,
// links back and across), and stop cleanly when the visitor throws.
TEST(SourcesTest, ListingAheadGivesWhatListingOnTheSpotGives) {
  testutil::TempDir dir;
  for (const char* f : {"a/1", "a/b/2", "a/b/c/3", "a/b/c/d/4", "a/refused/5", "a/x/6", "e/7", "e/8", "f/g/9", "h"}) {
    testutil::MakeDir(std::filesystem::path(dir / f).parent_path().string());
    testutil::WriteFile(dir / f, f);
  }
  for (const char* empty : {"a/b/empty", "k"}) testutil::MakeDir(dir / empty);
#ifndef _WIN32
  std::filesystem::create_directory_symlink(dir / "a/b", dir / "a/b/c/back");
  std::filesystem::create_directory_symlink(dir / "f", dir / "a/across");
#endif
  const afp::WideString root = afp::FromUtf8(dir.path());
  Noted now, ahead;
  WalkSource(root, true, now, false);
  WalkSource(root, true, ahead, true);
  EXPECT_EQ(ahead.lines, now.lines);
  EXPECT_GE(now.lines.size(), 20u);

  testutil::WriteFile(dir / "a/b/stop", "");
  Noted stopped;
  EXPECT_THROW(WalkSource(root, true, stopped, true), std::runtime_error);
}

}  // namespace
}  // namespace arcfold_cli
