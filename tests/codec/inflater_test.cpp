#include "codec/inflater.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace arcfold {
namespace {

std::vector<uint8_t> RawDeflate(const std::string& text) {
  z_stream z{};
  deflateInit2(&z, 6, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
  std::vector<uint8_t> out(deflateBound(&z, text.size()));
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
  z.avail_in = static_cast<uInt>(text.size());
  z.next_out = out.data();
  z.avail_out = static_cast<uInt>(out.size());
  deflate(&z, Z_FINISH);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

// The input arrives in two buffers, the first ending a few bytes before the
// end of the stream, as when a chunk boundary falls there. Bytes a backend
// kept from the first buffer are not in the second one and must not be
// handed back inside it.
void ExpectSplitInputStaysInItsBuffer(std::unique_ptr<Inflater> inflater, size_t split_back, size_t trailing) {
  std::string text;
  for (int i = 0; i < 400; ++i) text += std::to_string(i * 7919 % 1000) + " ";
  std::vector<uint8_t> stream = RawDeflate(text);
  ASSERT_GT(stream.size(), split_back);
  stream.insert(stream.end(), trailing, 0xA5);
  const size_t split = stream.size() - trailing - split_back;
  std::vector<uint8_t> first(stream.begin(), stream.begin() + split);
  std::vector<uint8_t> second(stream.begin() + split, stream.end());
  std::vector<uint8_t> out(text.size() + 64);
  uint8_t* op = out.data();
  size_t out_len = out.size();

  const uint8_t* in = first.data();
  size_t in_len = first.size();
  Inflater::Status st = inflater->Inflate(in, in_len, op, out_len);
  ASSERT_NE(st, Inflater::Status::Error);
  if (st != Inflater::Status::StreamEnd) {
    EXPECT_EQ(in + in_len, first.data() + first.size());
    in = second.data();
    in_len = second.size();
    st = inflater->Inflate(in, in_len, op, out_len);
    EXPECT_EQ(st, Inflater::Status::StreamEnd);
    EXPECT_GE(in, second.data());
    EXPECT_EQ(in + in_len, second.data() + second.size());
  }
  EXPECT_EQ(std::string(reinterpret_cast<char*>(out.data()), out.size() - out_len), text);
}

// An output buffer of one byte, as for an item whose declared size is 0:
// every call stops on a full output, and the input is given once.
void ExpectTinyOutputKeepsInputInBounds(std::unique_ptr<Inflater> inflater, size_t trailing) {
  const std::string text = "abcabcabcabc the quick brown fox jumps over the lazy dog";
  std::vector<uint8_t> stream = RawDeflate(text);
  stream.insert(stream.end(), trailing, 0xA5);
  const uint8_t* in = stream.data();
  size_t in_len = stream.size();
  std::string got;
  Inflater::Status st = Inflater::Status::Ok;
  for (int calls = 0; st != Inflater::Status::StreamEnd && calls < 200; ++calls) {
    uint8_t byte;
    uint8_t* op = &byte;
    size_t out_len = 1;
    const uint8_t* before = in;
    st = inflater->Inflate(in, in_len, op, out_len);
    ASSERT_NE(st, Inflater::Status::Error);
    ASSERT_GE(in, before);
    ASSERT_EQ(in + in_len, stream.data() + stream.size());
    if (out_len == 0) got += static_cast<char>(byte);
  }
  EXPECT_EQ(st, Inflater::Status::StreamEnd);
  EXPECT_EQ(got, text);
}

TEST(InflaterTest, AStreamThatEndsInALaterCallKeepsItsInputInBounds) {
  for (size_t trailing : {0, 1, 9}) {
    ExpectTinyOutputKeepsInputInBounds(MakeZlibInflater(), trailing);
    ExpectTinyOutputKeepsInputInBounds(MakeInflater(), trailing);
  }
  for (size_t split_back = 1; split_back <= 12; ++split_back) {
    for (size_t trailing : {0, 1, 2, 5}) {
      SCOPED_TRACE(std::to_string(split_back) + " bytes before the end, " + std::to_string(trailing) + " after");
      ExpectSplitInputStaysInItsBuffer(MakeZlibInflater(), split_back, trailing);
      ExpectSplitInputStaysInItsBuffer(MakeInflater(), split_back, trailing);
    }
  }
}

// A corrupt stream (a distance reaching before the start) on which ISA-L
// reports its input count wrapped below zero when the stream is fed in
// 14-byte pieces, as the last piece of an item can be. The error must come
// back as an error, with the input left inside its buffer.
TEST(InflaterTest, ACorruptStreamFedInPiecesFailsWithItsInputInBounds) {
  std::ifstream f(ARCFOLD_TEST_DATA "/codec/corrupt-deflate-lookback.bin", std::ios::binary);
  const std::vector<uint8_t> stream((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  ASSERT_EQ(stream.size(), 998u);
  for (auto make : {MakeZlibInflater, +[] { return MakeInflater(); }}) {
    for (size_t piece : {14, 29, 377, 998}) {
      SCOPED_TRACE(piece);
      auto inflater = make();
      std::vector<uint8_t> out(4096);
      Inflater::Status st = Inflater::Status::Ok;
      for (size_t pos = 0; pos < stream.size() && st != Inflater::Status::Error && st != Inflater::Status::StreamEnd;
           pos += piece) {
        const uint8_t* in = stream.data() + pos;
        size_t in_len = std::min(piece, stream.size() - pos);
        const uint8_t* end = in + in_len;
        do {
          uint8_t* op = out.data();
          size_t out_len = out.size();
          st = inflater->Inflate(in, in_len, op, out_len);
          ASSERT_GE(in, stream.data() + pos);
          ASSERT_EQ(in + in_len, end);
        } while (st == Inflater::Status::Ok && in_len > 0);
      }
      EXPECT_EQ(st, Inflater::Status::Error);
    }
  }
}

}  // namespace
}  // namespace arcfold
