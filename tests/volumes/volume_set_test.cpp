// Split and spanned sets written and read through the component: a set of
// removable disks stands in for the drive, and handlers answer the prompts.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "arcfold/arcfold.h"
#include "test_util.h"

namespace arcfold {
namespace {

namespace fs = std::filesystem;
using testutil::RandomBytes;
using testutil::ReadFile;
using testutil::TempDir;
using testutil::U;
using testutil::W;
using testutil::WriteFile;

// Files that do not compress, so that their data spans volumes.
std::map<std::string, std::string> MakeSources(const std::string& folder, const std::vector<size_t>& sizes) {
  std::map<std::string, std::string> files;
  fs::create_directories(folder);
  for (size_t i = 0; i < sizes.size(); ++i) {
    const std::string name = "f" + std::to_string(i) + ".bin";
    files[name] = RandomBytes(sizes[i], static_cast<unsigned>(i + 1));
    WriteFile(folder + "/" + name, files[name]);
  }
  return files;
}

void ExpectExtracted(const std::string& folder, const std::map<std::string, std::string>& files) {
  for (const auto& [name, bytes] : files) EXPECT_EQ(ReadFile(folder + "/" + name), bytes) << name;
  EXPECT_EQ(static_cast<size_t>(std::distance(fs::directory_iterator(folder), fs::directory_iterator())), files.size());
}

// A drive that holds one disk at a time: its folder has the files of the
// disk inserted; the other disks wait in folders of their own. A disk
// inserted for the first time may be given less room than the others.
class DiskDrive : public afp::VolumeMedia {
 public:
  DiskDrive(const std::string& root, int64_t capacity) : root_(root), capacity_(capacity) {
    fs::create_directories(drive());
  }
  std::string drive() const { return root_ + "/drive"; }
  void Insert(int disk) {
    ++insertions_[disk];
    if (disk == current_) return;
    if (current_ >= 0) Move(drive(), Store(current_));
    current_ = disk;
    Move(Store(disk), drive());
  }
  int current() const { return current_; }
  void SetFirstRoom(int disk, int64_t room) { first_room_[disk] = room; }
  std::map<int, std::string> labels;

  bool IsRemovable(std::u16string_view) override { return true; }
  int64_t FreeSpace(std::u16string_view) override {
    int64_t used = 0;
    for (const auto& e : fs::directory_iterator(drive())) used += static_cast<int64_t>(e.file_size());
    auto small = first_room_.find(current_);
    if (small != first_room_.end() && insertions_[current_] == 1) return small->second - used;
    return capacity_ - used;
  }
  bool SetLabel(std::u16string_view, const std::string& label) override {
    labels[current_] = label;
    return true;
  }
  int64_t DiskSize(int disk) {
    if (disk == current_) Move(drive(), Store(disk)), Move(Store(disk), drive());
    const std::string where = disk == current_ ? drive() : Store(disk);
    int64_t size = 0;
    for (const auto& e : fs::directory_iterator(where)) size += static_cast<int64_t>(e.file_size());
    return size;
  }

 private:
  std::string Store(int disk) const { return root_ + "/disk" + std::to_string(disk); }
  static void Move(const std::string& from, const std::string& to) {
    fs::create_directories(from);
    fs::create_directories(to);
    for (const auto& e : fs::directory_iterator(from)) fs::rename(e.path(), to + "/" + e.path().filename().string());
  }
  std::string root_;
  int64_t capacity_;
  int current_ = -1;
  std::map<int, int> insertions_;
  std::map<int, int64_t> first_room_;
};

TEST(VolumeSetTest, SpannedSetIsWrittenAndReadDiskByDisk) {
  TempDir t;
  DiskDrive d(t.path(), 200000);
  d.SetFirstRoom(1, 60000);  // the second blank disk is nearly full: refused
  const auto files = MakeSources(t / "src", {150000, 90000, 5000, 260000});
  std::vector<int> blank_asked, full_asked;
  {
    TArcfold a;
    a.Media = &d;
    a.SetFileName(W(d.drive() + "/set.zip"));
    a.SetSpanningMode(smSpanning);
    a.OnRequestBlankVolume = [&](TAFBaseArchiver*, int n, afp::WideString& name, bool& cancel) {
      EXPECT_EQ(U(name), d.drive() + "/set.zip");
      blank_asked.push_back(n);
      d.Insert(n - 1);
      cancel = false;
    };
    a.OnDiskFull = [&](TAFBaseArchiver*, int n, const afp::WideString&, bool& cancel) {
      full_asked.push_back(n);
      cancel = false;
    };
    a.OpenArchive(fmCreate);
    a.SetBaseDir(W(t / "src"));
    a.AddFiles(u"*.*");
    a.CloseArchive();
  }
  ASSERT_GE(blank_asked.size(), 3u);
  EXPECT_EQ(full_asked, std::vector<int>{2});
  const int disks = d.current() + 1;
  for (int disk = 0; disk < disks; ++disk) {
    EXPECT_LE(d.DiskSize(disk), 200000) << disk;
    EXPECT_EQ(d.labels[disk], "pkback# " + std::string(disk < 9 ? "00" : "0") + std::to_string(disk + 1));
  }

  // Read back with the first disk in the drive: the component asks for the
  // last one, then for each disk it needs.
  d.Insert(0);
  std::vector<std::string> asked;
  TArcfold r;
  r.Media = &d;
  r.SetFileName(W(d.drive() + "/set.zip"));
  r.OnRequestLastVolume = [&](TAFBaseArchiver*, afp::WideString&, bool& cancel) {
    asked.push_back("last");
    d.Insert(disks - 1);
    cancel = false;
  };
  r.OnRequestFirstVolume = [&](TAFBaseArchiver*, afp::WideString&, bool& cancel) {
    asked.push_back("1");
    d.Insert(0);
    cancel = false;
  };
  r.OnRequestMiddleVolume = [&](TAFBaseArchiver*, int n, afp::WideString&, bool& cancel) {
    asked.push_back(std::to_string(n));
    d.Insert(n - 1);
    cancel = false;
  };
  r.SetBaseDir(W(t / "out"));
  r.OpenArchive(fmOpenRead | fmShareDenyNone);
  EXPECT_EQ(r.SpanningMode(), smSpanning);
  EXPECT_EQ(r.ItemCount(), 4);
  r.ExtractFiles(u"*.*");
  r.CloseArchive();
  ExpectExtracted(t / "out", files);
  ASSERT_FALSE(asked.empty());
  EXPECT_EQ(asked.front(), "last");
}

class SplitSetTest : public ::testing::Test {
 protected:
  // Sets a up to write a split set name with 64 KiB volumes.
  void SplitInto(TArcfold& a, const std::string& name) {
    a.SetFileName(W(name));
    a.SetSpanningMode(smSplitting);
    a.SpanningOptions().VolumeSize = vsCustom;
    a.SpanningOptions().SetCustomVolumeSize(65536);
  }
  // Writes a split set of the sources.
  void WriteSet(const std::string& name, bool advanced = false) {
    TArcfold a;
    SplitInto(a, name);
    a.SpanningOptions().AdvancedNaming = advanced;
    a.OpenArchive(fmCreate);
    a.SetBaseDir(W(t / "src"));
    a.AddFiles(u"*.*");
    a.CloseArchive();
  }
  // Opens the set named name for extraction into out/.
  void OpenSet(TArcfold& r, const std::string& name) {
    r.SetFileName(W(name));
    r.SetBaseDir(W(t / "out"));
    r.OpenArchive(fmOpenRead | fmShareDenyNone);
  }
  TempDir t;
  std::map<std::string, std::string> files = MakeSources(t / "src", {40000, 100000, 3000, 70000});
};

TEST_F(SplitSetTest, OnlyTheInvertedNamingFindsTheVolumes) {
  WriteSet(t / "set.zip", true);
  ASSERT_TRUE(testutil::Exists(t / "set_001.zip"));
  TArcfold r;
  OpenSet(r, t / "set.zip");
  EXPECT_EQ(r.SpanningMode(), smSplitting);
  EXPECT_TRUE(r.SpanningOptions().AdvancedNaming);
  r.ExtractFiles(u"*.*");
  ExpectExtracted(t / "out", files);
}

TEST_F(SplitSetTest, AMissingMiddleVolumeEndsTheRunNamingItAndLeavesNothingHalfWritten) {
  WriteSet(t / "set.zip");
  ASSERT_TRUE(testutil::Exists(t / "set.z03"));
  fs::remove(t / "set.z02");
  TArcfold r;
  OpenSet(r, t / "set.zip");
  std::vector<std::string> failures;
  r.OnProcessFileFailure = [&](TAFBaseArchiver*, const afp::WideString&, TAFProcessOperation, int native, int,
                               const afp::WideString& message, TAFAction& action) {
    failures.push_back(std::to_string(native) + " " + U(message));
    action = fxaAbort;
  };
  r.ExtractFiles(u"*.*");
  ASSERT_EQ(failures.size(), 1u);
  EXPECT_EQ(failures[0].substr(0, 3), "45 ");
  EXPECT_NE(failures[0].find(testutil::VolumeSpelling("set.z02")), std::string::npos) << failures[0];
  // What was extracted is whole; the item cut short left no file behind.
  int whole = 0;
  for (const auto& e : fs::directory_iterator(t / "out")) {
    const std::string name = e.path().filename().string();
    ASSERT_TRUE(files.count(name)) << name;
    EXPECT_EQ(ReadFile(e.path().string()), files.at(name));
    ++whole;
  }
  EXPECT_GE(whole, 1);
  EXPECT_LT(whole, 4);
}

TEST_F(SplitSetTest, CancellingABlankVolumeLeavesNoVolumesAndTheOldFileAsItWas) {
  WriteFile(t / "set.zip", "an older file of that name");
  TArcfold a;
  SplitInto(a, t / "set.zip");
  a.OnRequestBlankVolume = [](TAFBaseArchiver*, int n, afp::WideString&, bool& cancel) { cancel = n == 3; };
  a.OpenArchive(fmCreate);
  a.SetBaseDir(W(t / "src"));
  EXPECT_EQ(testutil::NativeOf([&] { a.AddFiles(u"*.*"); }), 45);
  a.CloseArchive();
  EXPECT_EQ(ReadFile(t / "set.zip"), "an older file of that name");
  for (const auto& e : fs::directory_iterator(t.path()))
    EXPECT_TRUE(e.path().filename() == "set.zip" || e.path().filename() == "src") << e.path();
}

TEST_F(SplitSetTest, ASetIsWrittenOnceAndNeverRewritten) {
  TArcfold a;
  a.SetFileName(W(t / "set.zip"));
  a.SetSpanningMode(smSplitting);
  a.OpenArchive(fmCreate);
  a.AddFromBuffer(u"one.txt", "1", 1);
  EXPECT_EQ(testutil::NativeOf([&] { a.AddFromBuffer(u"two.txt", "2", 1); }), 37);
  a.CloseArchive();
  WriteSet(t / "big.zip");
  TArcfold r;
  r.SetFileName(W(t / "big.zip"));
  r.OpenArchive(fmOpenReadWrite | fmShareDenyWrite);
  EXPECT_EQ(r.SpanningMode(), smSplitting);
  EXPECT_EQ(testutil::NativeOf([&] { r.DeleteFiles(u"f1.bin"); }), 31);
  EXPECT_EQ(r.ItemCount(), 4);
}

}  // namespace
}  // namespace arcfold

namespace arcfold {
namespace {

TEST_F(SplitSetTest, ASelfExtractingSetRunsFromBaseExeToBaseZIP) {
  const std::string stub = RandomBytes(3000, 42);
  WriteFile(t / "stub.bin", stub);
  TArcfold a;
  SplitInto(a, t / "setup.exe");
  a.SetSFXStub(W(t / "stub.bin"));
  a.OpenArchive(fmCreate);
  a.SetBaseDir(W(t / "src"));
  a.AddFiles(u"*.*");
  a.CloseArchive();
  EXPECT_EQ(ReadFile(t / "setup.exe").substr(0, stub.size()), stub);
  EXPECT_TRUE(testutil::Exists(t / "setup.z02"));
  EXPECT_TRUE(testutil::Exists(t / "setup.ZIP"));
  EXPECT_FALSE(testutil::Exists(t / "setup.z01"));
  TArcfold r;
  OpenSet(r, t / "setup.exe");
  EXPECT_EQ(r.SpanningMode(), smSplitting);
  r.ExtractFiles(u"*.*");
  ExpectExtracted(t / "out", files);
}

}  // namespace
}  // namespace arcfold
