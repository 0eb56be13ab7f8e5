#include <cstdlib>
#include <cstring>

#include "codec/deflater.h"

namespace arcfold {

#ifdef ARCFOLD_HAVE_ISAL
std::unique_ptr<Deflater> MakeIsalDeflater(int level);
#endif

namespace {

bool ForceZlib() {
  const char* v = std::getenv("ARCFOLD_DEFLATE");
  return v && std::strcmp(v, "zlib") == 0;
}

// The igzip level for a compression mode, or -1 where zlib serves better.
// Modes 1 and 2 map to igzip levels 1 and 2, whose archives stay close to
// zlib's at those modes while taking a fraction of the time; from mode 3 up
// zlib's longer matches make archives ISA-L does not reach.
int IsalLevelFor(int mode) {
  switch (mode) {
    case 1: return 1;
    case 2: return 2;
    default: return -1;
  }
}

}  // namespace

std::unique_ptr<Deflater> MakeDeflater(int mode) {
#ifdef ARCFOLD_HAVE_ISAL
  if (!ForceZlib() && IsalLevelFor(mode) >= 0) return MakeIsalDeflater(IsalLevelFor(mode));
#endif
  return MakeZlibDeflater(mode);
}

const char* DeflaterBackendName(int mode) {
#ifdef ARCFOLD_HAVE_ISAL
  if (!ForceZlib() && IsalLevelFor(mode) >= 0) return "isa-l";
#endif
  (void)mode;
  return "zlib";
}

}  // namespace arcfold
