// The file names of the volumes of a multi-volume archive (internal to the
// library).
#pragma once

#include <cstdint>

#include "arcfold/types.h"
#include "platform/wide.h"

namespace arcfold {

struct TVolumeNaming {
  TAFSpanningMode mode = smNone;
  bool advanced = false;  // Base_001.zip rather than Base.z01
  bool sfx = false;       // the first volume is a self-extractor, Base.exe
  uint16_t method = 8;    // the component's compression method code
};

// The name of volume index (0-based; -1: the last volume) of the archive
// named file_name:
//  - split: Base.z01, Base.z02, ... Base.z100 (".f" for method codes of 252
//    and up), or Base_001.zip with advanced naming; with a self-extractor
//    the first volume is Base.exe and the last Base.ZIP; otherwise the last
//    volume is file_name itself;
//  - spanned: file_name on every disk (".exe" with a self-extractor), or
//    Base_001.zip with advanced naming.
// Where file names are case sensitive the split letter is lower case, as
// Info-ZIP writes and looks for it; elsewhere it is "Z", the same file.
afp::WideString VolumeName(const afp::WideString& file_name, int index, const TVolumeNaming& naming);

// Whether an archive name ends in ".exe" in any case.
bool HasExeExtension(const afp::WideString& file_name);
// Whether ".exe" appears anywhere in it, in any case (a self-extractor's
// name, also when the set's last volume is meant).
bool MentionsExe(const afp::WideString& file_name);

}  // namespace arcfold
