#include "codec/deflater.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "codec/inflater.h"

namespace arcfold {
namespace {

// Text runs, repeats from far back and noise (in runs long enough to fill
// whole chunks, which are then stored without a search), so that blocks of
// every kind (stored, fixed and dynamic Huffman) end the chunks.
std::vector<uint8_t> Varied(size_t size, unsigned seed) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> data;
  while (data.size() < size) {
    const unsigned kind = rng() % 4;
    const size_t run = 1 + rng() % (kind == 0 ? 200000 : 40000);
    for (size_t i = 0; i < run; ++i) {
      if (kind == 0)
        data.push_back(static_cast<uint8_t>(rng()));
      else if (kind == 1 && data.size() > 70000)
        data.push_back(data[data.size() - 70000]);
      else
        data.push_back(static_cast<uint8_t>("0123456789 \n"[rng() % (kind == 2 ? 12 : 3)]));
    }
  }
  data.resize(size);
  return data;
}

std::vector<uint8_t> ZlibInflate(const std::vector<uint8_t>& stream, size_t expected, bool& ended) {
  z_stream z{};
  inflateInit2(&z, -MAX_WBITS);
  std::vector<uint8_t> out(expected + 1);
  z.next_in = const_cast<Bytef*>(stream.data());
  z.avail_in = static_cast<uInt>(stream.size());
  z.next_out = out.data();
  z.avail_out = static_cast<uInt>(out.size());
  ended = inflate(&z, Z_FINISH) == Z_STREAM_END && z.avail_in == 0;
  out.resize(z.total_out);
  inflateEnd(&z);
  return out;
}

std::vector<uint8_t> OurInflate(const std::vector<uint8_t>& stream, size_t expected) {
  std::unique_ptr<Inflater> inflater = MakeInflater();
  std::vector<uint8_t> out(expected + 1);
  const uint8_t* in = stream.data();
  size_t in_len = stream.size(), out_len = out.size();
  uint8_t* op = out.data();
  if (inflater->Inflate(in, in_len, op, out_len) != Inflater::Status::StreamEnd) return {};
  out.resize(out.size() - out_len);
  return out;
}

}  // namespace

// Chunks of random sizes, each compressed on its own (as the second core
// does, primed with the 32 KiB before it) or all by one deflater in turn,
// join into one deflate stream at every mode and with every backend: zlib
// and our inflater restore the data, and nothing follows the stream's end.
// Backends without dictionaries make the same bytes either way, so that an
// archive does not depend on how many cores wrote it.
TEST(DeflaterTest, ChunksOfAnySizeJoinIntoOneStream) {
  std::mt19937 rng(2024);
  for (const TAFTuningSwitch fast : {tsOn, tsOff}) {
    TAFTuning tuning;
    tuning.FastDeflate = fast;
    for (int mode = 0; mode <= 9; ++mode) {
      SCOPED_TRACE(std::string(DeflaterBackendName(mode, tuning)) + " mode " + std::to_string(mode));
      const std::vector<uint8_t> data = Varied(200000 + rng() % 400000, rng());
      std::vector<size_t> bounds{0};
      while (bounds.back() < data.size())
        bounds.push_back(std::min(data.size(), bounds.back() + 1 + rng() % (rng() % 2 ? 300 : 150000)));
      std::vector<uint8_t> apart, together;
      std::unique_ptr<Deflater> one = MakeDeflater(mode, tuning);
      ASSERT_TRUE(one);
      for (size_t i = 0; i + 1 < bounds.size(); ++i) {
        const auto flush = i + 2 == bounds.size() ? Deflater::Flush::Finish : Deflater::Flush::Sync;
        const uint8_t* chunk = data.data() + bounds[i];
        const size_t n = bounds[i + 1] - bounds[i], dict = std::min<size_t>(bounds[i], 32768);
        std::unique_ptr<Deflater> own = MakeDeflater(mode, tuning);
        ASSERT_TRUE(own && own->SetDictionary(chunk - dict, dict) && own->Deflate(chunk, n, flush, apart));
        ASSERT_TRUE(one->Deflate(chunk, n, flush, together));
      }
      for (const auto* stream : {&apart, &together}) {
        bool ended = false;
        EXPECT_EQ(ZlibInflate(*stream, data.size(), ended), data);
        EXPECT_TRUE(ended);
        EXPECT_EQ(OurInflate(*stream, data.size()), data);
      }
      if (std::string(DeflaterBackendName(mode, tuning)) == "libdeflate") {
        EXPECT_EQ(apart, together);
      }
    }
  }
}

}  // namespace arcfold
