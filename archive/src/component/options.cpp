#include <cstdlib>
#include <cstring>

#include "arcfold/types.h"

namespace arcfold {

namespace {

// tsOff when the environment variable `name` holds `reference`.
TAFTuningSwitch FromEnvironment(const char* name, const char* reference) {
  const char* value = std::getenv(name);
  return value && std::strcmp(value, reference) == 0 ? tsOff : tsOn;
}

const TAFTuning& EnvironmentTuning() {
  static const TAFTuning tuning{FromEnvironment("ARCFOLD_PARALLEL", "off"), FromEnvironment("ARCFOLD_INFLATE", "zlib"),
                                FromEnvironment("ARCFOLD_DEFLATE", "zlib"),
                                FromEnvironment("ARCFOLD_SHA1", "portable")};
  return tuning;
}

TAFTuningSwitch Chosen(TAFTuningSwitch caller, TAFTuningSwitch environment) {
  return caller == tsDefault ? environment : caller;
}

}  // namespace

TAFTuning TAFTuning::WithEnvironment() const {
  const TAFTuning& env = EnvironmentTuning();
  return {Chosen(Parallel, env.Parallel), Chosen(FastInflate, env.FastInflate), Chosen(FastDeflate, env.FastDeflate),
          Chosen(ShaInstructions, env.ShaInstructions)};
}

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
