#include "codec/inflater.h"

namespace arcfold {

#ifdef ARCFOLD_HAVE_ISAL
std::unique_ptr<Inflater> MakeIsalInflater();
#endif

#ifdef ARCFOLD_HAVE_ISAL
namespace {
bool ForceZlib(const TAFTuning& tuning) { return tuning.WithEnvironment().FastInflate == tsOff; }
}  // namespace
#endif

std::unique_ptr<Inflater> MakeInflater([[maybe_unused]] const TAFTuning& tuning) {
#ifdef ARCFOLD_HAVE_ISAL
  if (!ForceZlib(tuning)) return MakeIsalInflater();
#endif
  return MakeZlibInflater();
}

const char* InflaterBackendName([[maybe_unused]] const TAFTuning& tuning) {
#ifdef ARCFOLD_HAVE_ISAL
  if (!ForceZlib(tuning)) return "isa-l";
#endif
  return "zlib";
}

}  // namespace arcfold
