// The Deflate64 decoder on arbitrary bytes, fed twice: whole into a large
// output space, and in small pieces into small output spaces, both sizes
// chosen by the first two bytes. Neither may crash, reach outside the
// buffers it is given or run on without end, and both must come to the same
// bytes and the same verdict.
#include <sanitizer/asan_interface.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "codec/inflater.h"

namespace {

using arcfold::Inflater;

// A stream may expand about 20000 times; decoding stops long before that,
// past the window and a few rounds.
constexpr size_t kMostOutput = size_t{1} << 20;
constexpr size_t kWholeOutput = size_t{1} << 17;

struct Run {
  Inflater::Status status = Inflater::Status::Ok;
  std::string out;
  bool cut = false;  // stopped at kMostOutput
};

void Check(bool ok) {
  if (!ok) std::abort();
}

// Feeds data in pieces whose sizes cycle through in_sizes, each call with
// an output space from out_sizes; a piece is given again while it has input
// left or the output came back full, as the decode pass does.
Run Decode(const uint8_t* data, size_t size, const std::vector<size_t>& in_sizes,
           const std::vector<size_t>& out_sizes) {
  auto inflater = arcfold::MakeDeflate64Inflater();
  Run r;
  // Kept from input to input (no fresh pages each time); what lies past the
  // space given to a call is poisoned during it.
  static std::vector<uint8_t> space;
  space.resize(std::max(space.size(), *std::max_element(out_sizes.begin(), out_sizes.end())));
  size_t turn = 0;
  for (size_t pos = 0; pos < size;) {
    const size_t piece = std::min(in_sizes[turn % in_sizes.size()], size - pos);
    const uint8_t* in = data + pos;
    size_t in_len = piece;
    bool full;
    do {
      uint8_t* op = space.data();
      const size_t given = out_sizes[turn++ % out_sizes.size()];
      size_t out_len = given;
      ASAN_POISON_MEMORY_REGION(space.data() + given, space.size() - given);
      r.status = inflater->Inflate(in, in_len, op, out_len);
      ASAN_UNPOISON_MEMORY_REGION(space.data() + given, space.size() - given);
      Check(in >= data + pos && in + in_len == data + pos + piece && out_len <= given &&
            op == space.data() + given - out_len);
      r.out.append(reinterpret_cast<const char*>(space.data()), given - out_len);
      if (r.status == Inflater::Status::Error || r.status == Inflater::Status::StreamEnd) return r;
      if (r.out.size() > kMostOutput) {
        r.cut = true;
        return r;
      }
      full = out_len == 0;
    } while (r.status == Inflater::Status::Ok && (in_len > 0 || full));
    pos += piece;
  }
  return r;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const std::vector<size_t> in_sizes = {size_t{1} + (data[0] & 7), size_t{1} + (data[0] >> 3) * 61u};
  const std::vector<size_t> out_sizes = {size_t{1} + (data[1] & 15), size_t{1} + (data[1] >> 4) * 4099u};
  const Run whole = Decode(data + 2, size - 2, {size}, {kWholeOutput});
  const Run pieces = Decode(data + 2, size - 2, in_sizes, out_sizes);
  if (whole.cut || pieces.cut) return 0;
  Check(whole.status == pieces.status ||
        (whole.status != Inflater::Status::Error && whole.status != Inflater::Status::StreamEnd &&
         pieces.status != Inflater::Status::Error && pieces.status != Inflater::Status::StreamEnd));
  if (whole.status != Inflater::Status::Error) Check(whole.out == pieces.out);
  return 0;
}
