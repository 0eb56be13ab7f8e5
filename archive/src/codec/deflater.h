// Raw-deflate compression behind one small interface, like Inflater: zlib is
// the reference backend, ISA-L's igzip the fast one for the fastest mode and
// libdeflate the one for the others.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "arcfold/types.h"

namespace arcfold {

class Deflater {
 public:
  enum class Flush { Sync, Finish };
  virtual ~Deflater() = default;
  // Compresses all of in and appends the raw-deflate output to out. Sync
  // ends the output on a byte boundary with an empty stored block that is
  // not the last, so that it is complete, can be written at once and the
  // stream goes on behind it; Finish ends the stream. False on a compressor
  // error.
  virtual bool Deflate(const uint8_t* in, size_t in_len, Flush flush, std::vector<uint8_t>& out) = 0;
  // Before the first Deflate: the bytes (at most 32 KiB) that precede the
  // input, for matches across a chunk boundary. A stream started with the
  // previous chunk's tail continues that chunk's stream. Backends without
  // dictionaries (libdeflate) ignore it: their chunks start without history.
  virtual bool SetDictionary(const uint8_t* dict, size_t len) = 0;
  // Makes the deflater start a new stream, as a new one of the same level
  // would, keeping what it allocated: many small items cost one set-up.
  // False where the backend cannot: a new deflater is needed then.
  virtual bool Reset() { return false; }
};

// zlib at level 0-9 (0: stored blocks). Null when zlib cannot start.
std::unique_ptr<Deflater> MakeZlibDeflater(int level);

// The backend the pipeline uses for a compression mode (0-9): ISA-L for
// mode 1 and libdeflate for modes 2-9 when the build has them, else zlib;
// mode 0 (stored blocks) is always zlib's. tuning.FastDeflate (or, where it
// is left at tsDefault, ARCFOLD_DEFLATE=zlib) forces zlib at every mode (the
// tests run both).
std::unique_ptr<Deflater> MakeDeflater(int mode, const TAFTuning& tuning = TAFTuning());
const char* DeflaterBackendName(int mode, const TAFTuning& tuning = TAFTuning());

// Whether deflate can hardly shrink data (noise, data compressed before):
// igzip's fastest level, where the build has it, does not make it a 256th
// smaller. It runs at several hundred MB/s, so the slow levels need not
// search such data for matches. Always false without ISA-L. scratch holds
// the trial's output; kept from call to call, it is memory the system has
// already given.
bool LooksIncompressible(const uint8_t* data, size_t len, std::vector<uint8_t>& scratch);

}  // namespace arcfold
