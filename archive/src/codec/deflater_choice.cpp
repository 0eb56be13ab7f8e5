#include "codec/deflater.h"

namespace arcfold {

#ifdef ARCFOLD_HAVE_ISAL
std::unique_ptr<Deflater> MakeIsalDeflater(int level);
bool IsalShrinks(const uint8_t* data, size_t len, std::vector<uint8_t>& scratch);
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
// no fast one serves it. Measured with the library's chunking on number
// lists, random data, small text files, headers and shared libraries: igzip
// level 1 makes archives within 1% of zlib -1 at 3.5 times its speed;
// libdeflate makes smaller archives than zlib at the same level, two to four
// times as fast (its lazy levels 5 and 6 are 40% smaller on number lists).
// Its levels 8 and 9 search hash chains so deep that number lists go at a
// tenth of zlib's speed; its levels 10-12 (near-optimal parsing) do not, and
// are 3% smaller than zlib -9 on headers and libraries. Each of those levels
// takes two to four times as long as the one before on headers for 0.1-0.3%:
// the highest mode stops at 11.
Choice FastChoiceFor(int mode) {
#ifdef ARCFOLD_HAVE_ISAL
  if (mode == 1) return {Backend::kIsal, 1};
#endif
#ifdef ARCFOLD_HAVE_LIBDEFLATE
  // Index: the mode (0 and 1 are not looked up).
  static constexpr int kLibdeflateLevel[] = {0, 0, 2, 3, 4, 5, 6, 7, 10, 11};
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

bool LooksIncompressible([[maybe_unused]] const uint8_t* data, [[maybe_unused]] size_t len,
                         [[maybe_unused]] std::vector<uint8_t>& scratch) {
#ifdef ARCFOLD_HAVE_ISAL
  // Below this, trying costs less than looking.
  constexpr size_t kLeast = 4096;
  // A sample from the start clears most data that compresses at a
  // sixteenth of the cost of looking at all of it.
  constexpr size_t kSample = 64 * 1024;
  if (len < kLeast) return false;
  if (len > kSample && IsalShrinks(data, kSample, scratch)) return false;
  return !IsalShrinks(data, len, scratch);
#else
  return false;
#endif
}

const char* DeflaterBackendName(int mode, const TAFTuning& tuning) {
  switch (ChoiceFor(mode, tuning).backend) {
    case Backend::kIsal: return "isa-l";
    case Backend::kLibdeflate: return "libdeflate";
    default: return "zlib";
  }
}

}  // namespace arcfold
