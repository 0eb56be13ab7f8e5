// The Deflate64 decoder fed as the pipelines and peers feed it: streams cut
// anywhere, output space down to one byte, and damaged streams.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "codec/inflater.h"

namespace arcfold {
namespace {

using Bytes = std::vector<uint8_t>;

// Deflate bit order: fields from their lowest bit, Huffman codes from their
// highest.
class BitWriter {
 public:
  BitWriter& Field(uint32_t value, unsigned bits) {
    for (unsigned i = 0; i < bits; ++i) Bit((value >> i) & 1);
    return *this;
  }
  BitWriter& Code(uint32_t code, unsigned bits) {
    for (unsigned i = bits; i-- > 0;) Bit((code >> i) & 1);
    return *this;
  }
  BitWriter& Align() {
    while (count_ % 8) Bit(0);
    return *this;
  }
  BitWriter& Byte(uint8_t b) { return Field(b, 8); }
  const Bytes& bytes() const { return bytes_; }

 private:
  void Bit(unsigned b) {
    if (count_ % 8 == 0) bytes_.push_back(0);
    bytes_.back() |= static_cast<uint8_t>(b << (count_ % 8));
    ++count_;
  }
  Bytes bytes_;
  size_t count_ = 0;
};

struct Outcome {
  Inflater::Status status = Inflater::Status::Ok;
  std::string out;
  size_t left = 0;  // input bytes not taken when the stream ended
};

// Feeds `stream` in pieces of `in_piece` bytes into output spaces of
// `out_piece` bytes, as the decode pass does: the same piece again while it
// has input left or the output came back full. The input the decoder hands
// back must stay inside the piece it was given.
Outcome Decode(const Bytes& stream, size_t in_piece, size_t out_piece) {
  constexpr size_t kMostCalls = size_t{1} << 22;
  auto inflater = MakeDeflate64Inflater();
  Outcome r;
  std::vector<uint8_t> space(out_piece);
  size_t calls = 0;
  for (size_t pos = 0; pos < stream.size();) {
    const uint8_t* in = stream.data() + pos;
    size_t in_len = std::min(in_piece, stream.size() - pos);
    const uint8_t* const piece_end = in + in_len;
    bool full;
    do {
      uint8_t* op = space.data();
      size_t out_len = space.size();
      r.status = inflater->Inflate(in, in_len, op, out_len);
      EXPECT_TRUE(in >= stream.data() + pos && in + in_len == piece_end);
      r.out.append(reinterpret_cast<char*>(space.data()), space.size() - out_len);
      full = out_len == 0;
    } while (r.status == Inflater::Status::Ok && (in_len > 0 || full) && ++calls < kMostCalls);
    if (r.status == Inflater::Status::Error || r.status == Inflater::Status::StreamEnd) {
      r.left = in_len + (stream.size() - static_cast<size_t>(piece_end - stream.data()));
      return r;
    }
    pos = static_cast<size_t>(piece_end - stream.data());
  }
  return r;
}

Bytes ReadFixture(const std::string& name) {
  std::ifstream f(std::string(ARCFOLD_TEST_DATA) + "/codec/" + name, std::ios::binary);
  return Bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
}

// What deflate64-sample.bin (7-Zip's Deflate64) holds: two-letter noise
// repeated 50000 and 33000 bytes back (distance codes 31 and 30), a run of
// zeros and counting.
std::string Sample() {
  uint32_t x = 1;
  auto noise = [&](size_t n) {
    std::string s;
    for (size_t i = 0; i < n; ++i) {
      x = x * 1103515245u + 12345u;
      s += "ab"[x >> 31];
    }
    return s;
  };
  const std::string a = noise(50000), b = noise(33000);
  std::string s = a + a + b + b + std::string(100000, '\0');
  for (int i = 0; i < 2000; ++i) s += std::to_string(i) + "\n";
  return s;
}

// Two stored blocks of 70000 patterned bytes, then a fixed block of matches
// that only Deflate64 has: length code 285 with its 16 extra bits (1000 and
// 65538 bytes) reaching 65536 and 32769 back.
std::pair<Bytes, std::string> LongMatches() {
  std::string expect;
  for (int i = 0; i < 70000; ++i) expect += static_cast<char>(i * 7 % 251);
  BitWriter w;
  for (auto [from, len] : {std::pair{0, 40000}, std::pair{40000, 30000}}) {
    w.Field(0, 1).Field(0, 2).Align().Field(len, 16).Field(~len & 0xFFFF, 16);
    for (int i = 0; i < len; ++i) w.Byte(static_cast<uint8_t>(expect[from + i]));
  }
  w.Field(1, 1).Field(1, 2);
  for (auto [extra, dist_code, dist_extra, dist] :
       {std::tuple{997, 31, 16383, 65536}, std::tuple{65535, 30, 0, 32769}}) {
    w.Code(0xC5, 8).Field(extra, 16).Code(dist_code, 5).Field(dist_extra, 14);
    for (int i = 0; i < extra + 3; ++i) expect += expect[expect.size() - dist];
  }
  w.Code(0, 7);
  return {w.bytes(), expect};
}

TEST(Deflate64Test, PiecesOfAnySizeGiveTheSameBytes) {
  Bytes sample = ReadFixture("deflate64-sample.bin");
  ASSERT_EQ(sample.size(), 17212u);
  // Bytes after the stream stay where they are, also those the fast loop read ahead.
  const std::string junk(40, 'J');
  sample.insert(sample.end(), junk.begin(), junk.end());
  auto [long_matches, long_expect] = LongMatches();
  for (auto [stream, expect] : {std::pair{sample, Sample()}, std::pair{long_matches, long_expect}}) {
    for (auto [in_piece, out_piece] :
         {std::pair<size_t, size_t>{1 << 20, 1 << 20}, {1, 1 << 20}, {1 << 20, 1}, {1, 1}, {7, 3}, {5000, 70000}}) {
      SCOPED_TRACE(std::to_string(in_piece) + " in, " + std::to_string(out_piece) + " out");
      const Outcome r = Decode(stream, in_piece, out_piece);
      EXPECT_EQ(r.status, Inflater::Status::StreamEnd);
      EXPECT_TRUE(r.out == expect) << r.out.size() << " bytes of " << expect.size();
      if (stream == sample) {
        EXPECT_EQ(r.left, junk.size());
      }
    }
  }
}

// Dynamic blocks whose code lengths are read with a code-length code that
// gives 2-bit codes to lengths 1 and 2, to "repeat the previous length"
// (16) and to "11 or more zeros" (18); `lens` writes the run of lengths.
Bytes DynamicBlock(void (*lens)(BitWriter&)) {
  BitWriter w;
  w.Field(1, 1).Field(2, 2).Field(0, 5).Field(0, 5).Field(18 - 4, 4);
  const int order[18] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1};
  for (int sym : order) w.Field(sym == 1 || sym == 2 || sym == 16 || sym == 18 ? 2 : 0, 3);
  lens(w);
  return w.bytes();
}
constexpr uint32_t kLen1 = 0, kLen2 = 1, kRepeat = 2, kZeros = 3;

TEST(Deflate64Test, DamagedStreamsFailWithoutHarm) {
  const std::vector<std::pair<const char*, Bytes>> damaged = {
      {"block type 3", {0x07}},
      {"stored length and complement disagree", BitWriter().Field(1, 3).Align().Field(5, 16).Field(5, 16).bytes()},
      {"a match before the first byte", BitWriter().Field(3, 3).Code(1, 7).Code(0, 5).bytes()},
      {"a distance 49153 back after one byte",
       BitWriter().Field(3, 3).Code(0x91, 8).Code(1, 7).Code(31, 5).Field(0, 14).bytes()},
      {"an over-subscribed code-length code", BitWriter().Field(5, 3).Field(0, 14).Field(0x249249, 24).bytes()},
      {"a repeat with nothing before it", DynamicBlock([](BitWriter& w) { w.Code(kRepeat, 2).Field(0, 2); })},
      {"lengths repeated past the end", DynamicBlock([](BitWriter& w) {
         w.Code(kLen1, 2).Code(kZeros, 2).Field(127, 7).Code(kZeros, 2).Field(106, 7).Code(kLen1, 2);
         w.Code(kRepeat, 2).Field(0, 2).Code(1, 1);
       })},
      {"an incomplete literal/length code", DynamicBlock([](BitWriter& w) {
         w.Code(kLen1, 2).Code(kZeros, 2).Field(127, 7).Code(kZeros, 2).Field(106, 7).Code(kLen2, 2).Code(kLen1, 2);
       })},
      {"an over-subscribed literal/length code", DynamicBlock([](BitWriter& w) {
         w.Code(kLen1, 2).Code(kLen1, 2).Code(kZeros, 2).Field(127, 7).Code(kZeros, 2).Field(105, 7).Code(kLen1, 2);
         w.Code(kLen1, 2);
       })},
      {"no end-of-block code", DynamicBlock([](BitWriter& w) {
         w.Code(kLen1, 2).Code(kLen1, 2).Code(kZeros, 2).Field(127, 7).Code(kZeros, 2).Field(106, 7).Code(kLen1, 2);
       })},
  };
  for (auto [what, stream] : damaged) {
    // Whole, bytes follow: the fast loop decodes; one by one: the careful steps.
    stream.resize(stream.size() + 32);
    for (size_t piece : {size_t{1}, stream.size()}) {
      SCOPED_TRACE(std::string(what) + ", in pieces of " + std::to_string(piece));
      EXPECT_EQ(Decode(stream, piece, 64).status, Inflater::Status::Error);
    }
  }
  // A stream cut short never claims to be whole.
  const Bytes sample = ReadFixture("deflate64-sample.bin");
  for (size_t cut : {size_t{1}, size_t{2}, size_t{40}, sample.size() / 2, sample.size() - 1}) {
    SCOPED_TRACE("cut at " + std::to_string(cut));
    const Outcome r = Decode(Bytes(sample.begin(), sample.begin() + static_cast<ptrdiff_t>(cut)), 1 << 20, 1 << 20);
    EXPECT_NE(r.status, Inflater::Status::StreamEnd);
    EXPECT_NE(r.status, Inflater::Status::Error);
  }
}

}  // namespace
}  // namespace arcfold
