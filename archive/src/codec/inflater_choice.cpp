#include <cstdlib>
#include <cstring>

#include "codec/inflater.h"

namespace arcfold {

#ifdef ARCFOLD_HAVE_ISAL
std::unique_ptr<Inflater> MakeIsalInflater();
#endif

#ifdef ARCFOLD_HAVE_ISAL
namespace {
bool ForceZlib() {
  const char* v = std::getenv("ARCFOLD_INFLATE");
  return v && std::strcmp(v, "zlib") == 0;
}
}  // namespace
#endif

std::unique_ptr<Inflater> MakeInflater() {
#ifdef ARCFOLD_HAVE_ISAL
  if (!ForceZlib()) return MakeIsalInflater();
#endif
  return MakeZlibInflater();
}

const char* InflaterBackendName() {
#ifdef ARCFOLD_HAVE_ISAL
  if (!ForceZlib()) return "isa-l";
#endif
  return "zlib";
}

}  // namespace arcfold
