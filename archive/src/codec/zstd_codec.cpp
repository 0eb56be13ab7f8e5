// Zstandard (method 93) on libzstd: one zstd frame per item.
#include <zstd.h>

#include <algorithm>

#include "codec/methods.h"
#include "codec/second_core.h"

namespace arcfold {

namespace {

// zstd's own levels for the compression modes 1-9: its fast ones for the
// fast modes, up to 19 (the last that needs no more memory than the
// input) for 9.
constexpr int kZstdLevel[] = {1, 1, 2, 3, 4, 6, 9, 12, 15, 19};
// The encoder works on two cores for sources larger than this.
constexpr int64_t kZstdThreadedFrom = 4 << 20;
constexpr int kZstdWorkers = 2;

class ZstdDecompressor : public Inflater {
 public:
  bool Start() { return d_ != nullptr; }
  ~ZstdDecompressor() override { ZSTD_freeDStream(d_); }

  Status Inflate(const uint8_t*& in, size_t& in_len, uint8_t*& out, size_t& out_len) override {
    if (ended_) return Status::StreamEnd;
    ZSTD_inBuffer input{in, in_len, 0};
    ZSTD_outBuffer output{out, out_len, 0};
    const size_t r = ZSTD_decompressStream(d_, &output, &input);
    in += input.pos;
    in_len -= input.pos;
    out += output.pos;
    out_len -= output.pos;
    if (ZSTD_isError(r)) return Status::Error;
    if (r == 0) {
      ended_ = true;
      return Status::StreamEnd;
    }
    if (input.pos == 0 && output.pos == 0) return in_len == 0 ? Status::NeedInput : Status::Error;
    return in_len == 0 ? Status::NeedInput : Status::Ok;
  }

 private:
  ZSTD_DStream* d_ = ZSTD_createDStream();
  bool ended_ = false;
};

class ZstdCompressor : public Deflater {
 public:
  ~ZstdCompressor() override { ZSTD_freeCCtx(c_); }

  bool Start(int mode, int64_t source_size, bool threaded) {
    if (!c_) return false;
    const int level = kZstdLevel[std::clamp(mode, 0, 9)];
    if (ZSTD_isError(ZSTD_CCtx_setParameter(c_, ZSTD_c_compressionLevel, level))) return false;
    // The size goes into the frame and lets zstd size its tables; a source
    // that delivers less then fails the frame, as it fails the item.
    if (ZSTD_isError(ZSTD_CCtx_setPledgedSrcSize(c_, static_cast<unsigned long long>(source_size)))) return false;
    // A library built without threads refuses workers: one core then.
    if (threaded) ZSTD_CCtx_setParameter(c_, ZSTD_c_nbWorkers, kZstdWorkers);
    return true;
  }
  bool SetDictionary(const uint8_t*, size_t len) override { return len == 0; }

  bool Deflate(const uint8_t* in, size_t in_len, Flush flush, std::vector<uint8_t>& out) override {
    ZSTD_inBuffer input{in, in_len, 0};
    const ZSTD_EndDirective mode = flush == Flush::Finish ? ZSTD_e_end : ZSTD_e_continue;
    for (;;) {
      const size_t had = out.size();
      const size_t room = ZSTD_CStreamOutSize() + (input.size - input.pos) / 4;
      out.resize(had + room);
      ZSTD_outBuffer output{out.data() + had, room, 0};
      const size_t left = ZSTD_compressStream2(c_, &output, &input, mode);
      out.resize(had + output.pos);
      if (ZSTD_isError(left)) return false;
      if (mode == ZSTD_e_end ? left == 0 : input.pos == input.size) return true;
    }
  }

 private:
  ZSTD_CCtx* c_ = ZSTD_createCCtx();
};

}  // namespace

std::unique_ptr<Inflater> MakeZstdDecompressor() {
  auto d = std::make_unique<ZstdDecompressor>();
  if (!d->Start()) return nullptr;
  return d;
}

std::unique_ptr<Deflater> MakeZstdCompressor(int mode, int64_t source_size, const TAFTuning& tuning) {
  auto c = std::make_unique<ZstdCompressor>();
  if (!c->Start(mode, source_size, source_size > kZstdThreadedFrom && SecondCoreAllowed(tuning))) return nullptr;
  return c;
}

}  // namespace arcfold
