#include <zlib.h>

#include <cstring>

#include "codec/codec_buffers.h"
#include "codec/inflater.h"

namespace arcfold {

namespace {

// Raw inflate (negative window bits): the archive holds raw deflate data, and
// zlib then stops at the end of the deflate stream without looking for an
// Adler-32 trailer, so stray bytes after the stream are harmless.
class ZlibInflater : public Inflater {
 public:
  bool Init() {
    std::memset(&z_, 0, sizeof z_);
    return inflateInit2(&z_, -MAX_WBITS) == Z_OK;
  }
  ~ZlibInflater() override { inflateEnd(&z_); }

  Status Inflate(const uint8_t*& in, size_t& in_len, uint8_t*& out, size_t& out_len) override {
    size_t made = 0;
    auto result = RunOnBuffers(z_, in, in_len, out, out_len, made, [&] { return inflate(&z_, Z_NO_FLUSH); });
    if (!result) return Status::Error;
    const int r = *result;
    if (r == Z_STREAM_END) return Status::StreamEnd;
    if (r == Z_BUF_ERROR) return Status::NeedInput;
    if (r < 0) return Status::Error;
    return Status::Ok;
  }

 private:
  z_stream z_;
};

}  // namespace

std::unique_ptr<Inflater> MakeZlibInflater() {
  auto inf = std::make_unique<ZlibInflater>();
  if (!inf->Init()) return nullptr;
  return inf;
}

}  // namespace arcfold
