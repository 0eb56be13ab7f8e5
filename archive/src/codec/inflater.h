// Raw-deflate decompression behind one small interface, so that a faster
// backend can replace zlib without touching the pipelines.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "arcfold/types.h"

namespace arcfold {

class Inflater {
 public:
  enum class Status { Ok, StreamEnd, NeedInput, Error };
  virtual ~Inflater() = default;
  // Consumes input and produces output; in/out are advanced by what was used.
  virtual Status Inflate(const uint8_t*& in, size_t& in_len, uint8_t*& out, size_t& out_len) = 0;
};

// The reference implementation on zlib. Returns null when zlib cannot start.
std::unique_ptr<Inflater> MakeZlibInflater();

// The backend the pipelines use: ISA-L's igzip when the build has it, else
// zlib. tuning.FastInflate (or, where it is left at tsDefault, the
// environment variable ARCFOLD_INFLATE=zlib) forces zlib (the tests run both).
std::unique_ptr<Inflater> MakeInflater(const TAFTuning& tuning = TAFTuning());
const char* InflaterBackendName(const TAFTuning& tuning = TAFTuning());

// Deflate64 (method 9), our own decoder: deflate with a 64 KiB window.
std::unique_ptr<Inflater> MakeDeflate64Inflater();

}  // namespace arcfold
