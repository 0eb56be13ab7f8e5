// The decompressors of every method behind the decoder seam, fed in small
// pieces: the first byte chooses the method, the second the piece size,
// the next two (little-endian) the size the item claims; the rest is the
// item's data.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "arcfold/records.h"
#include "codec/methods.h"

namespace {

constexpr uint16_t kMethods[] = {arcfold::kMethodDeflate, arcfold::kMethodBZip2, arcfold::kMethodLZMA,
                                 arcfold::kMethodXz, arcfold::kMethodZstd};
constexpr size_t kHeader = 4;
// Where a stream that keeps producing (a bomb) is cut off.
constexpr size_t kOutputLimit = 4u << 20;
constexpr size_t kOutputPiece = 4096;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < kHeader) return 0;
  const uint16_t method = kMethods[data[0] % (sizeof kMethods / sizeof kMethods[0])];
  const size_t piece = 1 + data[1] % 64;
  arcfold::DecompressorTerms terms;
  terms.uncompressed_size = data[2] | data[3] << 8;
  auto decompressor = arcfold::MakeDecompressor(method, terms);
  if (!decompressor) return 0;
  std::vector<uint8_t> out(kOutputPiece);
  size_t produced = 0;
  for (size_t at = kHeader; at < size && produced < kOutputLimit;) {
    const uint8_t* in = data + at;
    size_t in_len = std::min(piece, size - at);
    const size_t given = in_len;
    for (;;) {
      uint8_t* op = out.data();
      size_t ol = out.size();
      const auto status = decompressor->Inflate(in, in_len, op, ol);
      produced += out.size() - ol;
      if (status == arcfold::Inflater::Status::Error || status == arcfold::Inflater::Status::StreamEnd) return 0;
      if (produced >= kOutputLimit) break;
      if (ol == 0) continue;
      if (in_len == 0 || status == arcfold::Inflater::Status::NeedInput) break;
    }
    at += given - in_len;
    if (given == in_len && in_len > 0) return 0;
  }
  return 0;
}
