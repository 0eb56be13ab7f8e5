#include <zlib.h>

#include "codec/deflater.h"

namespace arcfold {

namespace {

class ZlibDeflater : public Deflater {
 public:
  ~ZlibDeflater() override {
    if (ready_) deflateEnd(&z_);
  }
  bool Start(int level) {
    // Negative window bits: raw deflate, neither zlib header nor Adler-32.
    ready_ = deflateInit2(&z_, level, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) == Z_OK;
    return ready_;
  }
  bool Reset() override { return ready_ && deflateReset(&z_) == Z_OK; }
  bool SetDictionary(const uint8_t* dict, size_t len) override {
    return len == 0 || deflateSetDictionary(&z_, dict, static_cast<uInt>(len)) == Z_OK;
  }
  bool Deflate(const uint8_t* in, size_t in_len, Flush flush, std::vector<uint8_t>& out) override {
    z_.next_in = const_cast<Bytef*>(in);
    z_.avail_in = static_cast<uInt>(in_len);
    const int mode = flush == Flush::Finish ? Z_FINISH : Z_SYNC_FLUSH;
    for (;;) {
      size_t had = out.size();
      size_t room = deflateBound(&z_, z_.avail_in) + 16;
      out.resize(had + room);
      z_.next_out = out.data() + had;
      z_.avail_out = static_cast<uInt>(room);
      int r = deflate(&z_, mode);
      out.resize(had + (room - z_.avail_out));
      if (r == Z_STREAM_END) return true;
      if (r != Z_OK && r != Z_BUF_ERROR) return false;
      // Done with this call once all input is in and the flush fit.
      if (z_.avail_in == 0 && z_.avail_out != 0 && mode == Z_SYNC_FLUSH) return true;
    }
  }

 private:
  z_stream z_{};
  bool ready_ = false;
};

}  // namespace

std::unique_ptr<Deflater> MakeZlibDeflater(int level) {
  auto d = std::make_unique<ZlibDeflater>();
  if (!d->Start(level)) return nullptr;
  return d;
}

}  // namespace arcfold
