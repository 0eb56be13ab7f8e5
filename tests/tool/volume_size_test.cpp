#include "volume_size.h"

#include <gtest/gtest.h>

namespace arcfold_cli {
namespace {

TEST(VolumeSizeTest, NumbersWithUnitsAndTheMediaSizes) {
  EXPECT_EQ(ParseVolumeSize("65536")->bytes, 65536);
  EXPECT_EQ(ParseVolumeSize("64k")->bytes, 65536);
  EXPECT_EQ(ParseVolumeSize("1.5M")->bytes, 1572864);
  EXPECT_EQ(ParseVolumeSize("2g")->bytes, 2147483648LL);
  EXPECT_EQ(ParseVolumeSize("1.44m")->kind, arcfold::vs1_44MB);
  EXPECT_EQ(ParseVolumeSize("4.7G")->kind, arcfold::vs4700MB);
  EXPECT_EQ(ParseVolumeSize("650m")->kind, arcfold::vs650MB);
  EXPECT_EQ(ParseVolumeSize("64k")->kind, arcfold::vsCustom);
  for (const char* bad : {"", "k", "-5m", "10x", "1e400", "0"}) EXPECT_FALSE(ParseVolumeSize(bad)) << bad;
}

}  // namespace
}  // namespace arcfold_cli
