#include "arcfold/types.h"

namespace arcfold {

int64_t TAFSpanningOptions::VolumeSizeLimit() const {
  switch (VolumeSize) {
    case vsAutoDetect: return -1;
    case vsCustom: return custom_volume_size_;
    case vs1_44MB: return 1457664;
    case vs100MB: return 104857600;
    case vs200MB: return 209715200;
    case vs250MB: return 262144000;
    case vs600MB: return 629145600;
    case vs650MB: return 681574400;
    case vs700MB: return 734003200;
    case vs4700MB: return 4928307200LL;
  }
  return -1;
}

int64_t TAFSpanningOptions::LimitOf(int volume_number) const {
  if (volume_number == 0 && FirstVolumeSize > 0) return FirstVolumeSize;
  return VolumeSizeLimit();
}

bool TAFVolumeNumberInfo::SameVolume(const TAFVolumeNumberInfo& other) const {
  if (IsLast()) return other.IsLast();
  if (IsFirst()) return other.IsFirst();
  if (VolumeNumber < 0) return Kind == other.Kind;
  return VolumeNumber == other.VolumeNumber;
}

}  // namespace arcfold
