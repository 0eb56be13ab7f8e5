// Where the archive's bytes are read from: the stream of the volume open
// now, and the way to another volume of a set. The directory reader and
// the volume reader see the archive through it.
#pragma once

#include "arcfold/types.h"

namespace arcfold {

class TStream;

class TAFVolumeSource {
 public:
  // The stream of the volume open now; null while none is.
  virtual TStream* CurrentStream() = 0;
  virtual TAFVolumeNumberInfo& VolumeInfo() = 0;
  virtual TAFSpanningMode VolumeSpanning() const = 0;
  // Makes the requested volume (or the one after the current one) the
  // current one, asking for it through the volume events.
  virtual void SelectVolume(const TAFVolumeNumberInfo& requested) = 0;
  virtual void SelectFollowingVolume() = 0;

 protected:
  ~TAFVolumeSource() = default;
};

}  // namespace arcfold
