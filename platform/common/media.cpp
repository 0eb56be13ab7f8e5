#include "platform/media.h"

namespace afp {

VolumeMedia& SystemMedia() {
  static VolumeMedia media;
  return media;
}

}  // namespace afp
