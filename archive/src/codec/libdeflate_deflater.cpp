#include <libdeflate.h>
#include <zlib.h>

#include <memory>
#include <vector>

#include "codec/deflater.h"

namespace arcfold {

namespace {

// Where the last block of a complete raw-deflate stream starts and where it
// ends (just behind its end-of-block code), in bits from the stream's start.
struct LastBlock {
  uint64_t start_bit = 0;
  uint64_t end_bit = 0;
};

// Scratch output for walking a stream: what it inflates to is dropped, zlib
// keeps the window it needs for back references itself.
constexpr size_t kWalkOutput = 64 * 1024;

// The bit position inflate stands at after a call that stopped at a block
// boundary: the bytes it took less the bits it holds back from the last one.
uint64_t BitPosition(const z_stream& z) { return uint64_t{z.total_in} * 8 - static_cast<unsigned>(z.data_type & 7); }

// Walks the stream block by block with zlib's inflate, which stops at each
// block boundary under Z_BLOCK and tells whether the block it finished was
// the last. False when the stream is not one complete deflate stream.
bool FindLastBlock(const uint8_t* data, size_t len, LastBlock& last) {
  z_stream z{};
  if (inflateInit2(&z, -MAX_WBITS) != Z_OK) return false;
  std::unique_ptr<uint8_t[]> scratch(new uint8_t[kWalkOutput]);
  z.next_in = const_cast<Bytef*>(data);
  z.avail_in = static_cast<uInt>(len);
  bool found = false;
  for (;;) {
    z.next_out = scratch.get();
    z.avail_out = kWalkOutput;
    const int r = inflate(&z, Z_BLOCK);
    if (r != Z_OK && r != Z_STREAM_END) break;
    // 128: stopped at a block boundary; 64: the block just finished is the
    // last one (else the boundary is where the next block begins).
    if (z.data_type & 128) {
      if (z.data_type & 64) {
        last.end_bit = BitPosition(z);
        found = true;
        break;
      }
      last.start_bit = BitPosition(z);
    }
    if (r == Z_STREAM_END) break;
  }
  inflateEnd(&z);
  return found;
}

// Turns a complete stream into one that goes on: the last block loses its
// final-block bit, and an empty stored block (not final) follows it, which
// ends the output on a byte boundary where the next part of the stream can
// begin. That is what zlib's sync flush ends a part with, too.
bool LeaveStreamOpen(std::vector<uint8_t>& out, size_t from) {
  LastBlock last;
  if (!FindLastBlock(out.data() + from, out.size() - from, last)) return false;
  uint8_t& header = out[from + last.start_bit / 8];
  const uint8_t final_bit = static_cast<uint8_t>(1u << (last.start_bit % 8));
  if (!(header & final_bit)) return false;
  header &= static_cast<uint8_t>(~final_bit);
  // The stored block's three header bits (all zero) and the padding behind
  // them up to the byte boundary, then its length 0 and that length's
  // complement.
  constexpr unsigned kHeaderBits = 3;
  const uint64_t end = last.end_bit;
  out.resize(from + static_cast<size_t>((end + kHeaderBits + 7) / 8), 0);
  out[from + end / 8] &= static_cast<uint8_t>((1u << (end % 8)) - 1);
  out.insert(out.end(), {0x00, 0x00, 0xFF, 0xFF});
  return true;
}

// libdeflate compresses whole buffers only, with better matching than zlib
// and several times faster. Each call is a stream of its own without the
// history of the call before: a few hundred bytes more per chunk, and chunks
// that are compressed the same way whichever core does it and in whatever
// order.
class LibdeflateDeflater : public Deflater {
 public:
  explicit LibdeflateDeflater(libdeflate_compressor* c) : c_(c) {}
  ~LibdeflateDeflater() override {
    libdeflate_free_compressor(c_);
    libdeflate_free_compressor(stored_);
  }
  LibdeflateDeflater(const LibdeflateDeflater&) = delete;
  LibdeflateDeflater& operator=(const LibdeflateDeflater&) = delete;

  // No preset dictionaries in libdeflate: a chunk starts without history.
  bool SetDictionary(const uint8_t*, size_t) override { return true; }
  // Every call is a stream of its own already.
  bool Reset() override { return true; }
  // Data that would not shrink goes into stored blocks without a search.
  bool Deflate(const uint8_t* in, size_t in_len, Flush flush, std::vector<uint8_t>& out) override {
    libdeflate_compressor* c = c_;
    if (LooksIncompressible(in, in_len, probe_)) {
      if (!stored_) stored_ = libdeflate_alloc_compressor(0);
      if (!stored_) return false;
      c = stored_;
    }
    const size_t had = out.size();
    out.resize(had + libdeflate_deflate_compress_bound(c, in_len));
    const size_t made = libdeflate_deflate_compress(c, in, in_len, out.data() + had, out.size() - had);
    out.resize(had + made);
    if (made == 0) return false;
    return flush == Flush::Finish || LeaveStreamOpen(out, had);
  }

 private:
  libdeflate_compressor* c_;
  libdeflate_compressor* stored_ = nullptr;
  std::vector<uint8_t> probe_;  // what the look for noise made
};

}  // namespace

std::unique_ptr<Deflater> MakeLibdeflateDeflater(int level) {
  libdeflate_compressor* c = libdeflate_alloc_compressor(level);
  if (!c) return nullptr;
  return std::make_unique<LibdeflateDeflater>(c);
}

}  // namespace arcfold
