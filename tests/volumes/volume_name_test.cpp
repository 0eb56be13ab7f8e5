#include "volumes/volume_name.h"

#include <gtest/gtest.h>

#include "test_util.h"

namespace arcfold {
namespace {

using testutil::U;
using testutil::W;

std::string Name(const std::string& file, int index, TAFSpanningMode mode, bool advanced = false, bool sfx = false,
                 uint16_t method = 8) {
  return U(VolumeName(W(file), index, TVolumeNaming{mode, advanced, sfx, method}));
}

TEST(VolumeNameTest, SplitSetsNumberEveryVolumeButTheLast) {
  EXPECT_EQ(Name("C:\\out\\set.zip", 0, smSplitting), testutil::VolumeSpelling("C:\\out\\set.z01"));
  EXPECT_EQ(Name("C:\\out\\set.zip", 8, smSplitting), testutil::VolumeSpelling("C:\\out\\set.z09"));
  EXPECT_EQ(Name("C:\\out\\set.zip", 99, smSplitting), testutil::VolumeSpelling("C:\\out\\set.z100"));
  EXPECT_EQ(Name("C:\\out\\set.zip", 120, smSplitting), testutil::VolumeSpelling("C:\\out\\set.z121"));
  EXPECT_EQ(Name("C:\\out\\set.zip", -1, smSplitting), "C:\\out\\set.zip");
  EXPECT_EQ(Name("set.zip", 1, smSplitting, false, false, 252), testutil::VolumeSpelling("set.f02"));
  // A dot in a folder name is not the extension.
  EXPECT_EQ(Name("/data/v1.2/set", 0, smSplitting), testutil::VolumeSpelling("/data/v1.2/set.z01"));
}

TEST(VolumeNameTest, AdvancedAndSelfExtractingNames) {
  EXPECT_EQ(Name("set.zip", 0, smSplitting, true), "set_001.zip");
  EXPECT_EQ(Name("set.zip", 122, smSplitting, true), "set_123.zip");
  EXPECT_EQ(Name("dir/set.exe", 0, smSplitting, false, true), "dir/set.exe");
  EXPECT_EQ(Name("dir/set.exe", 1, smSplitting, false, true), testutil::VolumeSpelling("dir/set.z02"));
  EXPECT_EQ(Name("dir/set.exe", -1, smSplitting, false, true), "dir/set.ZIP");
  EXPECT_EQ(Name("dir/set.exe", -1, smSplitting, false, true, 252), "dir/set.AF");
}

TEST(VolumeNameTest, SpannedDisksShareOneNameUnlessAdvanced) {
  EXPECT_EQ(Name("A:\\set.zip", 0, smSpanning), "A:\\set.zip");
  EXPECT_EQ(Name("A:\\set.zip", 5, smSpanning), "A:\\set.zip");
  EXPECT_EQ(Name("A:\\set.zip", 5, smSpanning, true), "A:\\set_006.zip");
  EXPECT_EQ(Name("A:\\set.zip", 2, smSpanning, false, true), "A:\\set.exe");
  EXPECT_EQ(Name("A:set.zip", 0, smNone), "A:set.zip");
  EXPECT_TRUE(HasExeExtension(W("C:\\x\\SETUP.EXE")));
  EXPECT_FALSE(HasExeExtension(W("C:\\x.exe\\setup.zip")));
}

}  // namespace
}  // namespace arcfold
