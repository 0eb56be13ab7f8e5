#include <zlib.h>

#include <cstring>

#include "arcfold/inflater.h"

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
    z_.next_in = const_cast<Bytef*>(in);
    z_.avail_in = static_cast<uInt>(in_len > 0x40000000u ? 0x40000000u : in_len);
    uInt in_given = z_.avail_in;
    z_.next_out = out;
    z_.avail_out = static_cast<uInt>(out_len > 0x40000000u ? 0x40000000u : out_len);
    uInt out_given = z_.avail_out;
    int r = inflate(&z_, Z_NO_FLUSH);
    size_t used_in = in_given - z_.avail_in;
    size_t made = out_given - z_.avail_out;
    in += used_in;
    in_len -= used_in;
    out += made;
    out_len -= made;
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
