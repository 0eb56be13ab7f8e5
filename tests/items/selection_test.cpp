#include <gtest/gtest.h>

#include <chrono>

#include "arcfold/arcfold.h"
#include "directory/dir_manager.h"
#include "test_util.h"

using namespace arcfold;
using testutil::W;

TEST(Wildcard, MaskRules) {
  EXPECT_TRUE(MaskMatch(u"README", u"*.*"));
  EXPECT_TRUE(MaskMatch(u"docs/", u"*.*"));
  EXPECT_TRUE(MaskMatch(u"README", u"*"));
  EXPECT_TRUE(MaskMatch(u"README", u"*."));
  EXPECT_TRUE(MaskMatch(u"README.", u"*."));
  EXPECT_FALSE(MaskMatch(u"a.txt", u"*."));
  EXPECT_TRUE(MaskMatch(u"abc.txt", u"a*.*"));
  EXPECT_TRUE(MaskMatch(u"lib/Foo.dll", u"*.DLL"));
  EXPECT_FALSE(MaskMatch(u"a", u"a**"));
  EXPECT_TRUE(MaskMatch(u"ab", u"a**"));
  EXPECT_TRUE(MaskMatch(u"a", u"a*"));
  EXPECT_TRUE(MaskMatch(u"abc", u"a?c"));
  EXPECT_FALSE(MaskMatch(u"ac", u"a?c"));
  EXPECT_FALSE(MaskMatch(u"x", u""));
  EXPECT_FALSE(MaskMatch(u"", u"?"));
  EXPECT_TRUE(MaskMatch(u"", u"*"));
  EXPECT_TRUE(MaskMatch(W("ÁRVÍZ.TXT"), W("árvíz.*")));
  // After a star, a rest of exactly "*.*" matches any rest of the name, as a
  // whole mask of "*.*" does.
  EXPECT_TRUE(WildcardMatch(u"abc", u"a**.*", true));
  EXPECT_FALSE(WildcardMatch(u"a", u"a**.*", true));
}

TEST(Wildcard, HostileMaskFinishesQuickly) {
  std::u16string name(259, u'a');
  auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(WildcardMatch(name, u"*a*a*a*a*a*a*a*b", true));
  EXPECT_TRUE(WildcardMatch(name + u"b", u"*a*a*a*a*a*a*a*b", true));
  std::u16string stars;
  for (int i = 0; i < 120; ++i) stars += u"*a";
  EXPECT_FALSE(WildcardMatch(name, stars + u"b", true));
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
  EXPECT_LT(ms, 1000);
}

class SelectionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::vector<testutil::RawEntry> entries;
    for (const char* n : {"a.dll", "lib/", "lib/b.dll", "lib/sub/c.dll", "doc/a.txt", "README", "hidden.sys"}) {
      testutil::RawEntry e{.name = n, .data = std::string(n).back() == '/' ? "" : n};
      if (std::string(n).back() == '/') e.external = 0x10;
      if (std::string(n) == "hidden.sys") e.external = 0x23;
      if (std::string(n) == "README") e.external = 0x21;  // read-only
      entries.push_back(e);
    }
    testutil::WriteFile(dir / "s.zip", testutil::BuildZip(entries));
    a.SetFileName(W(dir / "s.zip"));
    a.OpenArchive();
  }
  std::vector<std::string> Marked(const std::string& mask, uint32_t attrs = 10431, const std::string& excl = "") {
    a.MarkItems(W(mask), attrs, W(excl));
    std::vector<std::string> out;
    for (int i = 0; i < a.ItemCount(); ++i)
      if (a.Item(i).Marked) out.push_back(testutil::U(a.Item(i).ItemName));
    return out;
  }
  using V = std::vector<std::string>;
  testutil::TempDir dir;
  TArcfold a;
};

TEST_F(SelectionTest, RecurseOnStarsSpanFolders) {
  EXPECT_EQ(Marked("*.*").size(), 7u);
  EXPECT_EQ(Marked("*.DLL"), (V{"a.dll", "lib/b.dll", "lib/sub/c.dll"}));
  EXPECT_EQ(Marked("b.dll"), (V{"lib/b.dll"}));  // through the file-name test
  EXPECT_EQ(Marked("*", 10431, "*.txt"), (V{"a.dll", "lib/", "lib/b.dll", "lib/sub/c.dll", "README", "hidden.sys"}));
  EXPECT_EQ(Marked("*.txt", 10431, "doc\\*.txt"), (V{"doc/a.txt"}));
  EXPECT_TRUE(Marked("*.txt", 10431, "doc/*.txt").empty());
}

TEST_F(SelectionTest, RecurseOffStaysInTheMaskFolder) {
  a.Options().Recurse = false;
  EXPECT_EQ(Marked("*.dll"), (V{"a.dll"}));
  EXPECT_EQ(Marked("lib/*.dll"), (V{"lib/b.dll"}));
  EXPECT_EQ(Marked("LIB\\*.dll"), (V{"lib/b.dll"}));
  // Lookup mode: exact name through the index; exclusion and attributes unused.
  EXPECT_EQ(Marked("lib/b.dll", 0, "*.dll"), (V{"lib/b.dll"}));
  // Letter case counts there only where file names are case sensitive.
  EXPECT_EQ(Marked("LIB/B.DLL", 0, "*.dll"), afp::kCaseSensitiveNames ? V{} : V{"lib/b.dll"});
  EXPECT_TRUE(Marked("nothere.dll").empty());
}

TEST_F(SelectionTest, AttributesFilterOnlyHiddenSystemVolumeDirectory) {
  EXPECT_EQ(Marked("*", 0), (V{"a.dll", "lib/b.dll", "lib/sub/c.dll", "doc/a.txt", "README"}));
  EXPECT_TRUE(AttributesMatch(0x21, 0));
  EXPECT_FALSE(AttributesMatch(0x10, 0));
  EXPECT_TRUE(AttributesMatch(0x10, 0x10));
}

TEST_F(SelectionTest, DrivePartAndSearchRecord) {
  TAFArchiveItem item;
  // A drive in front of a mask is left out where there are drives; elsewhere
  // "D:lib" is a folder of its own.
  EXPECT_EQ(a.FindFirst(u"D:lib\\sub\\*.dll", item, 10431), afp::kDriveLetters);
  ASSERT_TRUE(a.FindFirst(u"lib\\sub\\*.dll", item, 10431));
  EXPECT_EQ(item.FileName, u"c.dll");
  EXPECT_EQ(item.FolderPath, u"lib\\sub\\");
  EXPECT_EQ(item.UnpackedSize, 13);
  EXPECT_EQ(item.RatioPercent, 0.0);
  const int found_at = item.SearchState.Position;
  EXPECT_FALSE(a.FindNext(item));
  EXPECT_FALSE(a.FindNext(item));
  EXPECT_EQ(item.SearchState.Position, found_at);  // a miss leaves the record as it was
  ASSERT_TRUE(a.FindFirst(u"lib", item, 10431));
  EXPECT_EQ(item.FileName, u"lib");
  EXPECT_EQ(item.FolderPath, u"");
  EXPECT_EQ(item.RatioPercent, 100.0);
  a.Options().StorePath = spFullPathWithDrive;
  EXPECT_FALSE(a.FindFirst(u"D:lib\\sub\\*.dll", item, 10431));
}

TEST_F(SelectionTest, SingleItemExtractionOfMissingNameIsSilent) {
  a.Options().Recurse = false;
  int events = 0;
  a.OnOverallProgress = [&](TAFBaseArchiver*, double, TAFProcessOperation, TAFProgressPhase, bool&) { ++events; };
  a.SetBaseDir(W(dir / "out"));
  a.ExtractFiles(u"nothere.dll");
  EXPECT_EQ(events, 0);
  a.Options().Recurse = true;
  a.ExtractFiles(u"nothere.dll");
  EXPECT_EQ(events, 2);  // start and end of an empty run
}
