#include "codec/deflater.h"

namespace arcfold {

#ifdef ARCFOLD_HAVE_ISAL
std::unique_ptr<Deflater> MakeIsalDeflater(int level);
#endif
#ifdef ARCFOLD_HAVE_LIBDEFLATE
std::unique_ptr<Deflater> MakeLibdeflateDeflater(int level);
#endif

namespace {

enum class Backend { kZlib, kIsal, kLibdeflate };

struct Choice {
  Backend backend;
  int level;
};

bool ForceZlib(const TAFTuning& tuning) { return tuning.WithEnvironment().FastDeflate == tsOff; }

// The fast backend for a compression mode, or zlib at the mode itself where
// no fast one serves it. Measured on text, number lists and random data,
// with the library's chunking: igzip level 1 makes archives within 1% of
// zlib -1, 3.5 times as fast; libdeflate makes smaller archives than zlib
// at every level from 2 up (its lazy matching alone is 8% smaller than
// zlib -9 on number lists) at two to three times zlib's speed. Higher modes
// take higher libdeflate levels only where these make smaller archives.
Choice FastChoiceFor(int mode) {
#ifdef ARCFOLD_HAVE_ISAL
  if (mode == 1) return {Backend::kIsal, 1};
#endif
#ifdef ARCFOLD_HAVE_LIBDEFLATE
  // Index: the mode; 0 (stored blocks) and 1 stay with the backends above.
  static constexpr int kLibdeflateLevel[] = {0, 0, 2, 3, 4, 5, 6, 7, 8, 9};
  if (mode >= 2 && mode <= 9) return {Backend::kLibdeflate, kLibdeflateLevel[mode]};
#endif
#ifdef ARCFOLD_HAVE_ISAL
  // Without libdeflate, igzip's level 3 is within 2% of zlib -2 at three
  // times its speed.
  if (mode == 2) return {Backend::kIsal, 3};
#endif
  return {Backend::kZlib, mode};
}

Choice ChoiceFor(int mode, const TAFTuning& tuning) {
  return ForceZlib(tuning) ? Choice{Backend::kZlib, mode} : FastChoiceFor(mode);
}

}  // namespace

std::unique_ptr<Deflater> MakeDeflater(int mode, const TAFTuning& tuning) {
  const Choice c = ChoiceFor(mode, tuning);
  switch (c.backend) {
#ifdef ARCFOLD_HAVE_ISAL
    case Backend::kIsal: return MakeIsalDeflater(c.level);
#endif
#ifdef ARCFOLD_HAVE_LIBDEFLATE
    case Backend::kLibdeflate: return MakeLibdeflateDeflater(c.level);
#endif
    default: return MakeZlibDeflater(c.level);
  }
}

const char* DeflaterBackendName(int mode, const TAFTuning& tuning) {
  switch (ChoiceFor(mode, tuning).backend) {
    case Backend::kIsal: return "isa-l";
    case Backend::kLibdeflate: return "libdeflate";
    default: return "zlib";
  }
}

}  // namespace arcfold
