// bzip2 (method 12) on libbz2: one bzip2 stream per item.
#include <bzlib.h>

#include <algorithm>

#include "codec/methods.h"

namespace arcfold {

namespace {

// libbz2 counts in 32 bits.
constexpr size_t kMaxPerCall = 0x40000000u;
constexpr int kSmallestBlock = 1, kLargestBlock = 9;
// The work factor libbz2 recommends (its default) for repetitive input.
constexpr int kWorkFactor = 30;

class Bzip2Decompressor : public Inflater {
 public:
  bool Start() { return ready_ = BZ2_bzDecompressInit(&s_, 0, 0) == BZ_OK; }
  ~Bzip2Decompressor() override {
    if (ready_) BZ2_bzDecompressEnd(&s_);
  }

  Status Inflate(const uint8_t*& in, size_t& in_len, uint8_t*& out, size_t& out_len) override {
    if (ended_) return Status::StreamEnd;
    s_.next_in = reinterpret_cast<char*>(const_cast<uint8_t*>(in));
    s_.avail_in = static_cast<unsigned>(std::min(in_len, kMaxPerCall));
    s_.next_out = reinterpret_cast<char*>(out);
    s_.avail_out = static_cast<unsigned>(std::min(out_len, kMaxPerCall));
    const size_t in_given = s_.avail_in, out_given = s_.avail_out;
    const int r = BZ2_bzDecompress(&s_);
    const size_t used = in_given - s_.avail_in, made = out_given - s_.avail_out;
    in += used;
    in_len -= used;
    out += made;
    out_len -= made;
    if (r == BZ_STREAM_END) {
      ended_ = true;
      return Status::StreamEnd;
    }
    if (r != BZ_OK) return Status::Error;
    if (used == 0 && made == 0) return in_len == 0 ? Status::NeedInput : Status::Error;
    return in_len == 0 ? Status::NeedInput : Status::Ok;
  }

 private:
  bz_stream s_{};
  bool ready_ = false, ended_ = false;
};

class Bzip2Compressor : public Deflater {
 public:
  bool Start(int block) { return ready_ = BZ2_bzCompressInit(&s_, block, 0, kWorkFactor) == BZ_OK; }
  ~Bzip2Compressor() override {
    if (ready_) BZ2_bzCompressEnd(&s_);
  }
  bool SetDictionary(const uint8_t*, size_t len) override { return len == 0; }

  bool Deflate(const uint8_t* in, size_t in_len, Flush flush, std::vector<uint8_t>& out) override {
    for (;;) {
      const size_t part = std::min(in_len, kMaxPerCall);
      s_.next_in = reinterpret_cast<char*>(const_cast<uint8_t*>(in));
      s_.avail_in = static_cast<unsigned>(part);
      const bool last = flush == Flush::Finish && part == in_len;
      if (!Run(last ? BZ_FINISH : BZ_RUN, out)) return false;
      in += part;
      in_len -= part;
      if (in_len == 0) return true;
    }
  }

 private:
  // Feeds what next_in holds (and, finishing, ends the stream).
  bool Run(int action, std::vector<uint8_t>& out) {
    for (;;) {
      const size_t had = out.size();
      const size_t room = s_.avail_in / 8 + 65536;
      out.resize(had + room);
      s_.next_out = reinterpret_cast<char*>(out.data() + had);
      s_.avail_out = static_cast<unsigned>(room);
      const int r = BZ2_bzCompress(&s_, action);
      out.resize(had + (room - s_.avail_out));
      if (r == BZ_STREAM_END) return true;
      if (r != BZ_RUN_OK && r != BZ_FINISH_OK) return false;
      if (action == BZ_RUN && s_.avail_in == 0) return true;
    }
  }

  bz_stream s_{};
  bool ready_ = false;
};

}  // namespace

std::unique_ptr<Inflater> MakeBzip2Decompressor() {
  auto d = std::make_unique<Bzip2Decompressor>();
  if (!d->Start()) return nullptr;
  return d;
}

// Mode n compresses in blocks of n x 100 kB, as bzip2 -n does.
std::unique_ptr<Deflater> MakeBzip2Compressor(int mode) {
  auto c = std::make_unique<Bzip2Compressor>();
  if (!c->Start(std::clamp(mode, kSmallestBlock, kLargestBlock))) return nullptr;
  return c;
}

}  // namespace arcfold
