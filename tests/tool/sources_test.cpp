#include "sources.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/wide.h"
#include "test_util.h"

namespace arcfold_cli {
namespace {

// Makes the folders below root (and root) look untouched for a while: a
// listing made ahead is only taken for a folder whose time shows that.
void AgeFolders(const std::string& root) {
  const auto old = std::filesystem::file_time_type::clock::now() - std::chrono::hours(1);
  for (const auto& e : std::filesystem::recursive_directory_iterator(root))
    if (e.is_directory() && !e.is_symlink()) std::filesystem::last_write_time(e.path(), old);
  std::filesystem::last_write_time(root, old);
}

// Notes what a walk gives, in order, with what the listing found of each
// file; refuses the folders named "refused"; throws at the file named
// "stop"; runs on_visit, when set, at each file and folder first.
class Noted : public SourceVisitor {
 public:
  std::vector<std::string> lines;
  std::function<void(const std::string&)> on_visit;
  void File(const afp::WideString& path, const afp::FileInfo* known) override {
    if (on_visit) on_visit(afp::ToUtf8(path));
    if (path.ends_with(u"/stop")) throw std::runtime_error("stopped");
    std::string line = "F " + afp::ToUtf8(path);
    if (known)
      line += " " + std::to_string(known->exists) + " " + std::to_string(known->dos_time) + " " +
              std::to_string(known->unix_mode);
    lines.push_back(line);
  }
  bool Folder(const afp::WideString& path) override {
    if (on_visit) on_visit(afp::ToUtf8(path));
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
  AgeFolders(dir.path());
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

// A folder listed ahead and changed before the walk gets there is listed
// again: a file made in it, another folder put in its place, or the folder
// away for a moment as it was listed (not "a folder that cannot be read").
TEST(SourcesTest, AFolderChangedAfterItWasListedAheadIsListedAgain) {
  struct Change {
    std::string name, expected, unexpected;
  };
  for (const Change& change : {Change{"file made", "/b/late", " N "}, Change{"folder replaced", "/b/3", "/b/2"},
                               Change{"away for a moment", "/b/2", " N "}}) {
    SCOPED_TRACE(change.name);
    testutil::TempDir dir;
    for (const char* f : {"a/1", "b/2", "new/3"}) {
      testutil::MakeDir(std::filesystem::path(dir / f).parent_path().string());
      testutil::WriteFile(dir / f, f);
    }
    AgeFolders(dir.path());
    // The walk lists b ahead when it enters a, and walks b after a/1.
    Noted noted;
    noted.on_visit = [&](const std::string& path) {
      const bool entering_a = path.ends_with("/a"), in_a = path.ends_with("/a/1");
      if (change.name == "file made" && in_a) testutil::WriteFile(dir / "b/late", "");
      if (change.name == "folder replaced" && in_a) {
        std::filesystem::rename(dir / "b", dir / "old");
        std::filesystem::rename(dir / "new", dir / "b");
      }
      if (change.name == "away for a moment" && entering_a) std::filesystem::rename(dir / "b", dir / "away");
      if (change.name == "away for a moment" && in_a) std::filesystem::rename(dir / "away", dir / "b");
    };
    WalkSource(afp::FromUtf8(dir.path()), true, noted, true);
    const std::string all = ::testing::PrintToString(noted.lines);
    EXPECT_NE(all.find(change.expected), std::string::npos) << all;
    EXPECT_EQ(all.find(change.unexpected), std::string::npos) << all;
  }
}

}  // namespace
}  // namespace arcfold_cli
