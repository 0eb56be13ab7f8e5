// LZMA (method 14) and xz (method 95) on liblzma. An LZMA item holds a
// 4-byte header (the writer's LZMA version, then the size of the properties
// that follow: 5 bytes of literal/position bits and dictionary size) before
// raw LZMA1 data, which may end with an end marker (general purpose bit 1
// says so). An xz item holds one whole .xz stream.
#include <lzma.h>

#include <algorithm>
#include <cstdlib>

#include "codec/codec_buffers.h"
#include "codec/methods.h"
#include "codec/second_core.h"

namespace arcfold {

namespace {

constexpr size_t kZipLzmaHeader = 4;
constexpr size_t kLzmaProperties = 5;
constexpr size_t kZipLzmaPrefix = kZipLzmaHeader + kLzmaProperties;
// The largest dictionary a stream may ask for (7-Zip's largest setting).
constexpr uint64_t kMaxDictionary = 1536ull << 20;
// The memory an xz stream may ask for to be decoded.
constexpr uint64_t kXzMemoryLimit = 1ull << 30;
// The xz encoder works on two cores for sources larger than this, while
// its threads need no more than kXzThreadsMemory; so does the decoder, for
// streams of several blocks.
constexpr int64_t kXzThreadedFrom = 8 << 20;
constexpr uint64_t kXzThreadsMemory = 512ull << 20;
constexpr uint32_t kXzThreads = 2;
constexpr size_t kOutputSlack = 65536;

// Decoding through an lzma_stream set up by a subclass.
class LzmaStreamDecoder : public Inflater {
 public:
  ~LzmaStreamDecoder() override { lzma_end(&s_); }

  Status Inflate(const uint8_t*& in, size_t& in_len, uint8_t*& out, size_t& out_len) override {
    if (ended_) return Status::StreamEnd;
    size_t made = 0;
    const size_t had = in_len;
    auto r = RunOnBuffers(s_, in, in_len, out, out_len, made, [&] { return lzma_code(&s_, LZMA_RUN); });
    if (!r) return Status::Error;
    if (*r == LZMA_STREAM_END) {
      ended_ = true;
      return Status::StreamEnd;
    }
    if (*r == LZMA_BUF_ERROR) return Status::NeedInput;
    if (*r != LZMA_OK) return Status::Error;
    if (had == in_len && made == 0) return in_len == 0 ? Status::NeedInput : Status::Error;
    return in_len == 0 ? Status::NeedInput : Status::Ok;
  }

 protected:
  lzma_stream s_ = LZMA_STREAM_INIT;

 private:
  bool ended_ = false;
};

// The ZIP form of LZMA: the header and properties first (gathered across
// calls), then the raw stream.
class ZipLzmaDecoder : public LzmaStreamDecoder {
 public:
  explicit ZipLzmaDecoder(const DecompressorTerms& terms) : terms_(terms) {}

  Status Inflate(const uint8_t*& in, size_t& in_len, uint8_t*& out, size_t& out_len) override {
    while (prefix_len_ < kZipLzmaPrefix && in_len > 0) {
      prefix_[prefix_len_++] = *in++;
      --in_len;
      if (prefix_len_ == kZipLzmaPrefix && !Start()) return Status::Error;
    }
    if (prefix_len_ < kZipLzmaPrefix) return Status::NeedInput;
    return LzmaStreamDecoder::Inflate(in, in_len, out, out_len);
  }

 private:
  bool Start() {
    if (prefix_[2] != kLzmaProperties || prefix_[3] != 0) return false;
    lzma_filter filter{LZMA_FILTER_LZMA1, nullptr};
    if (lzma_properties_decode(&filter, nullptr, prefix_ + kZipLzmaHeader, kLzmaProperties) != LZMA_OK) return false;
    lzma_options_lzma options = *static_cast<lzma_options_lzma*>(filter.options);
    std::free(filter.options);
    if (options.dict_size > kMaxDictionary) return false;
    // No match reaches further back than the item is long.
    const uint64_t size = static_cast<uint64_t>(terms_.uncompressed_size);
    options.dict_size =
        static_cast<uint32_t>(std::max<uint64_t>(std::min<uint64_t>(options.dict_size, size), LZMA_DICT_SIZE_MIN));
    lzma_filter chain[] = {{LZMA_FILTER_LZMA1, &options}, {LZMA_VLI_UNKNOWN, nullptr}};
#ifdef LZMA_FILTER_LZMA1EXT
    // With the size known the stream ends there, with or without the end
    // marker: writers that forget to set the flag are read too.
    chain[0].id = LZMA_FILTER_LZMA1EXT;
    options.ext_flags = LZMA_LZMA1EXT_ALLOW_EOPM;
    options.ext_size_low = static_cast<uint32_t>(size);
    options.ext_size_high = static_cast<uint32_t>(size >> 32);
#endif
    return lzma_raw_decoder(&s_, chain) == LZMA_OK;
  }

  DecompressorTerms terms_;
  uint8_t prefix_[kZipLzmaPrefix] = {};
  size_t prefix_len_ = 0;
};

// Encoding through an lzma_stream set up by a subclass.
class LzmaStreamEncoder : public Deflater {
 public:
  ~LzmaStreamEncoder() override { lzma_end(&s_); }
  bool SetDictionary(const uint8_t*, size_t len) override { return len == 0; }

  bool Deflate(const uint8_t* in, size_t in_len, Flush flush, std::vector<uint8_t>& out) override {
    out.insert(out.end(), prefix_.begin(), prefix_.end());
    prefix_.clear();
    s_.next_in = in;
    s_.avail_in = in_len;
    const lzma_action action = flush == Flush::Finish ? LZMA_FINISH : LZMA_RUN;
    for (;;) {
      const size_t had = out.size();
      const size_t room = s_.avail_in / 4 + kOutputSlack;
      out.resize(had + room);
      s_.next_out = out.data() + had;
      s_.avail_out = room;
      const lzma_ret r = lzma_code(&s_, action);
      out.resize(had + (room - s_.avail_out));
      if (r == LZMA_STREAM_END) return true;
      if (r != LZMA_OK) return false;
      if (action == LZMA_RUN && s_.avail_in == 0) return true;
    }
  }

 protected:
  lzma_stream s_ = LZMA_STREAM_INIT;
  std::vector<uint8_t> prefix_;  // written before the first output
};

uint32_t PresetFor(int mode) { return static_cast<uint32_t>(std::clamp(mode, 0, 9)); }

// The preset's options, with a dictionary no larger than a source of
// source_size bytes (when known) can use: the match finder's tables grow
// with the dictionary and are cleared for every item, which costs a small
// item more than its compression; readers, too, allocate what it says.
bool OptionsFor(int mode, int64_t source_size, lzma_options_lzma& options) {
  if (lzma_lzma_preset(&options, PresetFor(mode))) return false;
  if (source_size <= 0) return true;
  uint32_t fit = LZMA_DICT_SIZE_MIN;
  while (fit < source_size && fit < options.dict_size) fit <<= 1;
  options.dict_size = std::min(options.dict_size, fit);
  return true;
}

// Raw LZMA1 with the end marker (the form 7-Zip and Python write), behind
// the ZIP header.
class ZipLzmaEncoder : public LzmaStreamEncoder {
 public:
  bool Start(int mode, int64_t source_size) {
    if (!OptionsFor(mode, source_size, options_)) return false;
    lzma_filter chain[] = {{LZMA_FILTER_LZMA1, &options_}, {LZMA_VLI_UNKNOWN, nullptr}};
    uint8_t properties[kLzmaProperties];
    if (lzma_properties_encode(chain, properties) != LZMA_OK) return false;
    prefix_ = {LZMA_VERSION_MAJOR, LZMA_VERSION_MINOR, kLzmaProperties, 0};
    prefix_.insert(prefix_.end(), properties, properties + kLzmaProperties);
    return lzma_raw_encoder(&s_, chain) == LZMA_OK;
  }

 private:
  lzma_options_lzma options_{};
};

class XzDecoder : public LzmaStreamDecoder {
 public:
  // A large stream written in several blocks (as the threaded encoders
  // write them) is decoded on two cores, where liblzma can (5.4.0 on); one
  // block stays on one.
  bool Start(bool threaded) {
#if LZMA_VERSION >= 50040002
    if (threaded) {
      lzma_mt mt{};
      mt.threads = kXzThreads;
      mt.memlimit_threading = kXzThreadsMemory;
      mt.memlimit_stop = kXzMemoryLimit;
      return lzma_stream_decoder_mt(&s_, &mt) == LZMA_OK;
    }
#else
    static_cast<void>(threaded);
#endif
    return lzma_stream_decoder(&s_, kXzMemoryLimit, 0) == LZMA_OK;
  }
};

class XzEncoder : public LzmaStreamEncoder {
 public:
  bool Start(int mode, int64_t source_size, bool threaded) {
    if (!OptionsFor(mode, source_size, options_)) return false;
    lzma_mt mt{};
    mt.threads = kXzThreads;
    mt.filters = chain_;
    mt.check = LZMA_CHECK_CRC32;
    if (threaded && lzma_stream_encoder_mt_memusage(&mt) <= kXzThreadsMemory)
      return lzma_stream_encoder_mt(&s_, &mt) == LZMA_OK;
    return lzma_stream_encoder(&s_, chain_, mt.check) == LZMA_OK;
  }

 private:
  lzma_options_lzma options_{};
  lzma_filter chain_[2] = {{LZMA_FILTER_LZMA2, &options_}, {LZMA_VLI_UNKNOWN, nullptr}};
};

}  // namespace

std::unique_ptr<Inflater> MakeLzmaDecompressor(const DecompressorTerms& terms) {
  return std::make_unique<ZipLzmaDecoder>(terms);
}

// Mode n is liblzma's preset n, as xz -n.
std::unique_ptr<Deflater> MakeLzmaCompressor(int mode, int64_t source_size) {
  auto c = std::make_unique<ZipLzmaEncoder>();
  if (!c->Start(mode, source_size)) return nullptr;
  return c;
}

std::unique_ptr<Inflater> MakeXzDecompressor(const DecompressorTerms& terms) {
  auto d = std::make_unique<XzDecoder>();
  if (!d->Start(terms.uncompressed_size > kXzThreadedFrom && SecondCoreAllowed(terms.tuning))) return nullptr;
  return d;
}

std::unique_ptr<Deflater> MakeXzCompressor(int mode, int64_t source_size, const TAFTuning& tuning) {
  auto c = std::make_unique<XzEncoder>();
  if (!c->Start(mode, source_size, source_size > kXzThreadedFrom && SecondCoreAllowed(tuning))) return nullptr;
  return c;
}

}  // namespace arcfold
