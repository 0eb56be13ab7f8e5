// Split sets between Arcfold and the peers: Info-ZIP's sets read here, and
// sets written here read by 7-Zip and (joined) by Info-ZIP.
#include <gtest/gtest.h>

#include <filesystem>

#include "arcfold/arcfold.h"
#include "test_util.h"
#include "volumes/volume_name.h"

namespace arcfold {
namespace {

namespace fs = std::filesystem;
using testutil::Quote;
using testutil::RandomBytes;
using testutil::ReadFile;
using testutil::Sh;
using testutil::TempDir;
using testutil::W;
using testutil::WriteFile;

class VolumeInteropTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (Sh("command -v zip >/dev/null && command -v unzip >/dev/null") != 0) GTEST_SKIP() << "Info-ZIP missing";
    fs::create_directories(t / "src/sub");
    std::string text;
    for (int i = 0; i < 20000; ++i) text += "line " + std::to_string(i) + "\n";
    WriteFile(t / "src/text.txt", text);
    WriteFile(t / "src/sub/noise.bin", RandomBytes(150000, 7));
    WriteFile(t / "src/sub/small.bin", RandomBytes(30000, 8));
    WriteFile(t / "src/empty.txt", "");
  }
  // Extracts every item of the set through the component and compares the
  // tree with the sources.
  void ExpectSameAsSources(const std::string& zip, const std::string& password = "") {
    const std::string out = t / ("out-" + fs::path(zip).filename().string());
    EXPECT_EQ(testutil::ExtractAll(zip, out, password), std::vector<std::string>{});
    EXPECT_EQ(Sh("diff -r " + Quote(t / "src") + " " + Quote(out)), 0) << zip;
  }
  void WriteSet(const std::string& name, int64_t volume, int64_t first_volume) {
    TArcfold a;
    a.SetFileName(W(name));
    a.SetSpanningMode(smSplitting);
    a.SpanningOptions().VolumeSize = vsCustom;
    a.SpanningOptions().SetCustomVolumeSize(volume);
    a.SpanningOptions().FirstVolumeSize = first_volume;
    a.OpenArchive(fmCreate);
    a.SetBaseDir(W(t / "src"));
    a.AddFiles(u"*.*");
    a.CloseArchive();
  }
  TempDir t;
};

TEST_F(VolumeInteropTest, InfoZipSplitSetsReadLikeTheirSources) {
  const std::string in_src = "cd " + Quote(t / "src") + " && ";
  ASSERT_EQ(Sh(in_src + "zip -q -r -s 64k ../plain.zip ."), 0);
  ASSERT_EQ(Sh(in_src + "zip -q -r -s 64k -P secret ../pw.zip ."), 0);
  // A self-extractor: a stub in front, offsets adjusted by zip -A, then split.
  WriteFile(t / "stub", RandomBytes(5000, 9));
  ASSERT_EQ(Sh(in_src + "zip -q -r ../one.zip . && cd .. && cat stub one.zip > sfx.zip && zip -q -A sfx.zip && "
                        "zip -q -s 64k sfx.zip --out sfxsplit.zip </dev/null"),
            0);
  ASSERT_TRUE(testutil::Exists(t / "plain.z02"));
  ExpectSameAsSources(t / "plain.zip");
  ExpectSameAsSources(t / "pw.zip", "secret");
  ExpectSameAsSources(t / "sfxsplit.zip");
  TArcfold a;
  a.SetFileName(W(t / "sfxsplit.zip"));
  a.OpenArchive(fmOpenRead | fmShareDenyNone);
  EXPECT_EQ(a.SpanningMode(), smSplitting);
  EXPECT_EQ(a.ItemCount(), 5);
}

TEST_F(VolumeInteropTest, SetsWrittenHereKeepTheirLimitsAndWholeHeadersAndReadInThePeers) {
  // The first volume has a size of its own; over a hundred volumes follow.
  WriteFile(t / "src/sub/big.bin", RandomBytes(7000000, 10));
  WriteSet(t / "set.zip", 65536, 100000);
  ASSERT_TRUE(testutil::Exists(t / "set.z100"));
  ASSERT_TRUE(testutil::Exists(t / "set.z101"));
  EXPECT_EQ(fs::file_size(t / "set.z01"), 100000u);
  TArcfold a;
  a.SetFileName(W(t / "set.zip"));
  a.OpenArchive(fmOpenRead | fmShareDenyNone);
  const int last = a.VolumeInfo().LastVolumeNumber;
  ASSERT_GT(last, 100);
  for (int v = 1; v < last; ++v)
    EXPECT_LE(fs::file_size(testutil::U(VolumeName(W(t / "set.zip"), v, TVolumeNaming{smSplitting}))), 65536u) << v;
  // Every local header, with its name and extra field, lies on one volume.
  for (int i = 0; i < a.ItemCount(); ++i) {
    const TDirItem& item = a.Item(i);
    const std::string volume =
        testutil::U(VolumeName(W(t / "set.zip"), static_cast<int>(item.DiskNumberStart()), TVolumeNaming{smSplitting}));
    const std::string bytes = ReadFile(item.DiskNumberStart() == static_cast<uint32_t>(last) ? t / "set.zip" : volume);
    const auto at = static_cast<size_t>(item.LocalHeaderOffset());
    ASSERT_LE(at + 30, bytes.size()) << i;
    EXPECT_EQ(bytes.compare(at, 4, "PK\x03\x04"), 0);
    const size_t head = 30 + static_cast<uint8_t>(bytes[at + 26]) + 256 * static_cast<uint8_t>(bytes[at + 27]) +
                        static_cast<uint8_t>(bytes[at + 28]) + 256 * static_cast<uint8_t>(bytes[at + 29]);
    EXPECT_LE(at + head, bytes.size()) << i;
  }
  a.CloseArchive();
  ExpectSameAsSources(t / "set.zip");
  const std::string seven = testutil::SevenZip();
  if (seven.empty()) GTEST_SKIP() << "7-Zip missing";
  EXPECT_EQ(Sh(seven + " x -y -o" + Quote(t / "7z") + " " + Quote(t / "set.zip") + " >/dev/null"), 0);
  EXPECT_EQ(Sh("diff -r " + Quote(t / "src") + " " + Quote(t / "7z")), 0);
}

TEST_F(VolumeInteropTest, InfoZipJoinsSetsWrittenHere) {
  // zip 3.0 joins a set only while no item spans more than two volumes
  // (its own sets fail the same way), so the items here are small.
  fs::remove(t / "src/sub/noise.bin");
  WriteFile(t / "src/sub/noise.bin", RandomBytes(60000, 11));
  WriteSet(t / "set.zip", 65536, 0);
  ASSERT_TRUE(testutil::Exists(t / "set.z01"));
  ASSERT_EQ(Sh("cd " + Quote(t.path()) + " && zip -q -s 0 set.zip --out joined.zip </dev/null"), 0);
  EXPECT_EQ(Sh("unzip -tq " + Quote(t / "joined.zip") + " >/dev/null"), 0);
  EXPECT_EQ(Sh("unzip -q " + Quote(t / "joined.zip") + " -d " + Quote(t / "unzipped")), 0);
  EXPECT_EQ(Sh("diff -r " + Quote(t / "src") + " " + Quote(t / "unzipped")), 0);
}

}  // namespace
}  // namespace arcfold
