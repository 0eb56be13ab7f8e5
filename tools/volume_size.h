// Volume sizes as the command line takes them: a number of bytes with an
// optional k, m or g (powers of 1024), or one of the media sizes the
// archive component knows by name (1.44m, 100m, 650m, 700m, 4.7g).
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "arcfold/types.h"

namespace arcfold_cli {

struct VolumeSizeChoice {
  arcfold::TAFVolumeSize kind = arcfold::vsCustom;
  int64_t bytes = 0;  // for vsCustom
};

// Nothing when text is not a size.
std::optional<VolumeSizeChoice> ParseVolumeSize(const std::string& text);

// The volume names of a set that a given volume belongs to: for "x.z01" (any
// case) or "x_001.zip", the name of the last volume ("x.zip", as spelt on
// disk, or "x.zip" for the second form); empty when name is not shaped like
// a volume or no such last volume exists.
std::string LastVolumeOf(const std::string& name, bool& numbered_split);

}  // namespace arcfold_cli
