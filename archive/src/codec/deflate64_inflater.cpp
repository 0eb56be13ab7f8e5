// Deflate64 (ZIP method 9), decoded by our own code: no system library reads
// it. The format is deflate with a 64 KiB window, length code 285 meaning
// 3 plus 16 extra bits instead of 258, and distance codes 30 and 31 in use.
//
// Decoded bytes go into one buffer holding the last 64 KiB as history
// followed by the bytes of the current round; the caller's output is filled
// from there, and the history slides back to the front between rounds, so
// memory stays the same whatever the size of the item. Input may arrive in
// pieces of any size: the bits not yet used wait in a bit buffer and each
// stage of the stream resumes where it stopped.
#include <algorithm>
#include <bit>
#include <cstring>

#include "codec/inflater.h"

namespace arcfold {

namespace {

constexpr size_t kWindowSize = size_t{1} << 16;  // the farthest a match reaches back
constexpr size_t kMaxMatch = 3 + 0xFFFF;         // length code 285: 3 plus 16 extra bits
constexpr size_t kRoundSize = size_t{1} << 17;   // most output decoded between two flushes
constexpr size_t kCopySlack = 32;                // a literal before a match, and copies past its end
constexpr size_t kBufferSize = kWindowSize + kRoundSize + kMaxMatch + kCopySlack;
// The fast loop loads 8 bytes at a time, twice per pass at most.
constexpr ptrdiff_t kFastInput = 16;

constexpr unsigned kMaxCodeBits = 15;
constexpr unsigned kLitLenSymbols = 288, kDistSymbols = 32, kCodeLenSymbols = 19;
constexpr unsigned kEndOfBlockSymbol = 256, kFirstLengthSymbol = 257, kLengthSymbols = 29;

// Decoding tables: the next `root` bits of input index a primary table;
// codes longer than that continue in a subtable behind it. The sizes are
// the most any complete code of these alphabets can need at these roots.
constexpr unsigned kLitLenRootBits = 11, kDistRootBits = 8, kCodeLenRootBits = 7;
constexpr size_t kLitLenTableSize = 2048 + 916, kDistTableSize = 256 + 512, kCodeLenTableSize = 128;

// A table entry: code bits (0-4), kind (5-7), extra bits (8-12), value
// (16-31). A subtable link keeps the root bits as its code bits, the
// subtable's index bits as its extra bits and its offset as its value.
constexpr uint32_t kLiteral = 0u << 5, kBase = 1u << 5, kEndOfBlock = 2u << 5, kSubtable = 3u << 5, kInvalid = 4u << 5,
                   kKindMask = 7u << 5;

constexpr uint32_t Entry(uint32_t kind, unsigned extra, unsigned value) { return kind | extra << 8 | value << 16; }
constexpr unsigned CodeBits(uint32_t e) { return e & 31; }
constexpr uint32_t Kind(uint32_t e) { return e & kKindMask; }
constexpr unsigned ExtraBits(uint32_t e) { return (e >> 8) & 31; }
constexpr unsigned Value(uint32_t e) { return e >> 16; }
constexpr uint64_t LowBits(unsigned n) { return (uint64_t{1} << n) - 1; }

constexpr uint16_t kLengthBase[kLengthSymbols] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                                  31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 3};
constexpr uint8_t kLengthExtra[kLengthSymbols] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                                  2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 16};
constexpr uint16_t kDistBase[kDistSymbols] = {1,    2,    3,    4,    5,    7,     9,     13,    17,    25,   33,
                                              49,   65,   97,   129,  193,  257,   385,   513,   769,   1025, 1537,
                                              2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577, 32769, 49153};
constexpr uint8_t kDistExtra[kDistSymbols] = {0, 0, 0, 0, 1, 1, 2,  2,  3,  3,  4,  4,  5,  5,  6,  6,
                                              7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13, 14, 14};
// The order in which a dynamic block lists the code-length code's lengths.
constexpr uint8_t kCodeLenOrder[kCodeLenSymbols] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

uint32_t LitLenEntry(unsigned sym) {
  if (sym < kEndOfBlockSymbol) return Entry(kLiteral, 0, sym);
  if (sym == kEndOfBlockSymbol) return Entry(kEndOfBlock, 0, 0);
  const unsigned i = sym - kFirstLengthSymbol;
  return i < kLengthSymbols ? Entry(kBase, kLengthExtra[i], kLengthBase[i]) : Entry(kInvalid, 0, 0);
}
uint32_t DistEntry(unsigned sym) { return Entry(kBase, kDistExtra[sym], kDistBase[sym]); }
// Code-length symbols 16, 17 and 18 repeat a length, with 2, 3 and 7 extra bits.
uint32_t CodeLenEntry(unsigned sym) { return Entry(kBase, sym == 16 ? 2 : sym == 17 ? 3 : sym == 18 ? 7 : 0, sym); }

unsigned Reversed(unsigned code, unsigned bits) {
  unsigned r = 0;
  for (unsigned i = 0; i < bits; ++i, code >>= 1) r = r << 1 | (code & 1);
  return r;
}

// The symbols that have a code, in canonical order (by length, then by
// symbol), each with its code, most significant bit first.
struct CanonicalCode {
  uint16_t sym[kLitLenSymbols];
  uint16_t code[kLitLenSymbols];
  uint8_t len[kLitLenSymbols];
  unsigned count = 0;
};

// False for lengths that over-subscribe the code, or leave it incomplete,
// which deflate allows only for a code of no symbols or of one 1-bit code
// (a block with one distance, or none).
bool SortCode(const uint8_t* lens, unsigned n, bool partial_ok, CanonicalCode& c) {
  unsigned per_len[kMaxCodeBits + 1] = {};
  for (unsigned s = 0; s < n; ++s) ++per_len[lens[s]];
  per_len[0] = 0;
  int left = 1;
  unsigned used = 0;
  for (unsigned len = 1; len <= kMaxCodeBits; ++len) {
    left = left * 2 - static_cast<int>(per_len[len]);
    if (left < 0) return false;
    used += per_len[len];
  }
  if (left > 0 && !(partial_ok && per_len[1] == used)) return false;
  unsigned next_code[kMaxCodeBits + 2] = {}, slot[kMaxCodeBits + 2] = {};
  for (unsigned len = 1, code = 0; len <= kMaxCodeBits; ++len) {
    code = (code + per_len[len - 1]) << 1;
    next_code[len] = code;
    slot[len + 1] = slot[len] + per_len[len];
  }
  for (unsigned s = 0; s < n; ++s) {
    const unsigned len = lens[s];
    if (len == 0) continue;
    const unsigned i = slot[len]++;
    c.sym[i] = static_cast<uint16_t>(s);
    c.code[i] = static_cast<uint16_t>(next_code[len]++);
    c.len[i] = static_cast<uint8_t>(len);
  }
  c.count = used;
  return true;
}

// Fills the table from a canonical code: codes up to `root` bits repeat
// through the primary table, and each root-bit prefix of longer codes gets
// one subtable as deep as its longest code. False when the subtables would
// not fit (a complete code never does that).
bool FillTable(const CanonicalCode& c, unsigned root, uint32_t* table, size_t size, uint32_t (*entry_of)(unsigned)) {
  const unsigned primary = 1u << root;
  std::fill(table, table + size, Entry(kInvalid, 0, 0) | 1);
  unsigned i = 0;
  for (; i < c.count && c.len[i] <= root; ++i) {
    for (unsigned j = Reversed(c.code[i], c.len[i]); j < primary; j += 1u << c.len[i])
      table[j] = entry_of(c.sym[i]) | c.len[i];
  }
  size_t next = primary;
  while (i < c.count) {
    const unsigned prefix = c.code[i] >> (c.len[i] - root);
    unsigned end = i;
    while (end < c.count && static_cast<unsigned>(c.code[end] >> (c.len[end] - root)) == prefix) ++end;
    const unsigned bits = c.len[end - 1] - root;
    if (next + (size_t{1} << bits) > size) return false;
    table[Reversed(prefix, root)] = Entry(kSubtable, bits, static_cast<unsigned>(next)) | root;
    for (; i < end; ++i) {
      const unsigned tail = c.len[i] - root;
      for (unsigned j = Reversed(c.code[i], c.len[i]) >> root; j < (1u << bits); j += 1u << tail)
        table[next + j] = entry_of(c.sym[i]) | tail;
    }
    next += size_t{1} << bits;
  }
  return true;
}

bool BuildTable(const uint8_t* lens, unsigned n, bool partial_ok, unsigned root, uint32_t* table, size_t size,
                uint32_t (*entry_of)(unsigned)) {
  CanonicalCode code;
  return SortCode(lens, n, partial_ok, code) && FillTable(code, root, table, size, entry_of);
}

// The tables of the fixed code, built once.
struct FixedTables {
  uint32_t lit[kLitLenTableSize];
  uint32_t dist[kDistTableSize];
  FixedTables() {
    uint8_t lens[kLitLenSymbols];
    std::fill(lens, lens + 144, 8);
    std::fill(lens + 144, lens + 256, 9);
    std::fill(lens + 256, lens + 280, 7);
    std::fill(lens + 280, lens + kLitLenSymbols, 8);
    BuildTable(lens, kLitLenSymbols, false, kLitLenRootBits, lit, kLitLenTableSize, LitLenEntry);
    std::fill(lens, lens + kDistSymbols, 5);
    BuildTable(lens, kDistSymbols, false, kDistRootBits, dist, kDistTableSize, DistEntry);
  }
};

const FixedTables& Fixed() {
  static const FixedTables tables;
  return tables;
}

uint64_t LoadLittleEndian64(const uint8_t* p) {
  uint64_t v;
  std::memcpy(&v, p, sizeof v);
  if constexpr (std::endian::native == std::endian::big) {
    uint64_t r = 0;
    for (int i = 7; i >= 0; --i) r = r << 8 | p[i];
    v = r;
  }
  return v;
}

// Tops the bit buffer up to at least 56 bits from input that has 8 bytes
// to read. Bits above the count may hold the next bytes' bits: the next top-up
// puts the same bits there.
inline void RefillBits(uint64_t& bits, unsigned& count, const uint8_t*& p) {
  bits |= LoadLittleEndian64(p) << count;
  p += (63 - count) >> 3;
  count |= 56;
}

// The bit buffer of the fast loop, kept in registers.
struct FastBits {
  uint64_t bits;
  unsigned count;

  void Refill(const uint8_t*& p) { RefillBits(bits, count, p); }
  void Consume(unsigned n) {
    bits >>= n;
    count -= n;
  }
  uint32_t Decode(const uint32_t* table, unsigned root) {
    uint32_t e = table[bits & LowBits(root)];
    if (Kind(e) == kSubtable) {
      Consume(root);
      e = table[Value(e) + (bits & LowBits(ExtraBits(e)))];
    }
    Consume(CodeBits(e));
    return e;
  }
  size_t BasePlusExtra(uint32_t e) {
    const size_t v = Value(e) + static_cast<size_t>(bits & LowBits(ExtraBits(e)));
    Consume(ExtraBits(e));
    return v;
  }
};

// Copies a match of `len` bytes from `dist` back; may write up to
// 15 bytes past the end.
inline void CopyMatch(uint8_t* dst, size_t dist, size_t len) {
  const uint8_t* src = dst - dist;
  uint8_t* const end = dst + len;
  if (dist >= 16) {
    do {
      std::memcpy(dst, src, 16);
      dst += 16;
      src += 16;
    } while (dst < end);
  } else if (dist >= 8) {
    do {
      std::memcpy(dst, src, 8);
      dst += 8;
      src += 8;
    } while (dst < end);
  } else if (dist == 1) {
    std::memset(dst, *src, len);
  } else {
    while (dst < end) *dst++ = *src++;
  }
}

class Deflate64Inflater : public Inflater {
 public:
  Deflate64Inflater() : buf_(new uint8_t[kBufferSize]) {}
  Status Inflate(const uint8_t*& in, size_t& in_len, uint8_t*& out, size_t& out_len) override;

 private:
  enum class Stage {
    kBlockHeader,
    kStoredHeader,
    kStoredCopy,
    kTableCounts,
    kCodeLenLens,
    kCodeLens,
    kLitLen,
    kDistance,
    kDone,
    kFailed
  };
  // What a stage did: went on (call it, or the next, again), ran out of
  // input, filled the round, or met damage.
  enum class Step { kGoOn, kStarved, kFull, kBad };

  bool Flush(uint8_t*& out, size_t& out_len);
  void MakeRoom(size_t want);
  Step Run(const uint8_t*& p, const uint8_t* end, size_t target);
  Step RunStage(const uint8_t*& p, const uint8_t* end, size_t target);
  Step ReadBlockHeader(const uint8_t*& p, const uint8_t* end);
  Step ReadStoredHeader(const uint8_t*& p, const uint8_t* end);
  Step CopyStored(const uint8_t*& p, const uint8_t* end, size_t target);
  Step ReadTableCounts(const uint8_t*& p, const uint8_t* end);
  Step ReadCodeLenLens(const uint8_t*& p, const uint8_t* end);
  Step ReadCodeLens(const uint8_t*& p, const uint8_t* end);
  bool RepeatCodeLen(unsigned sym, unsigned extra);
  bool BuildBlockTables();
  Step DecodeSymbols(const uint8_t*& p, const uint8_t* end, size_t target);
  Step FastLoop(const uint8_t*& p, const uint8_t* end, size_t target);
  Step SlowLitLen(const uint8_t*& p, const uint8_t* end);
  Step SlowDistance(const uint8_t*& p, const uint8_t* end);
  void EndBlock();
  void GiveBackWholeBytes(const uint8_t*& p);

  // Bit input for the careful stages, one byte at a time.
  bool Have(unsigned n, const uint8_t*& p, const uint8_t* end);
  bool PullByte(const uint8_t*& p, const uint8_t* end);
  unsigned Take(unsigned n);
  bool Peek(const uint32_t* table, unsigned root, uint32_t& entry, unsigned& bits) const;
  Step Starved(const uint8_t*& p, const uint8_t* end) { return PullByte(p, end) ? Step::kGoOn : Step::kStarved; }

  std::unique_ptr<uint8_t[]> buf_;
  size_t pos_ = 0;      // where the next decoded byte goes
  size_t flushed_ = 0;  // what the caller has been given
  uint64_t bitbuf_ = 0;
  unsigned bitcnt_ = 0;
  const uint8_t* call_start_ = nullptr;
  Stage stage_ = Stage::kBlockHeader;
  bool final_ = false;
  size_t stored_left_ = 0;
  size_t match_len_ = 0;
  unsigned lit_count_ = 0, dist_count_ = 0, code_len_count_ = 0, index_ = 0;
  uint8_t lens_[kLitLenSymbols + kDistSymbols] = {};
  uint8_t code_len_lens_[kCodeLenSymbols] = {};
  const uint32_t* lit_ = nullptr;
  const uint32_t* dist_ = nullptr;
  uint32_t code_len_table_[kCodeLenTableSize];
  uint32_t lit_table_[kLitLenTableSize];
  uint32_t dist_table_[kDistTableSize];
};

Inflater::Status Deflate64Inflater::Inflate(const uint8_t*& in, size_t& in_len, uint8_t*& out, size_t& out_len) {
  if (stage_ == Stage::kFailed) return Status::Error;
  call_start_ = in;
  const uint8_t* p = in;
  const uint8_t* const end = in + in_len;
  bool moved = false;
  for (;;) {
    moved |= Flush(out, out_len);
    if (pos_ != flushed_ || out_len == 0 || stage_ == Stage::kDone) break;
    const size_t want = std::min(out_len, kRoundSize);
    MakeRoom(want);
    const uint8_t* before = p;
    const Step step = Run(p, end, flushed_ + want);
    moved |= p != before;
    if (step == Step::kBad) {
      stage_ = Stage::kFailed;
      return Status::Error;
    }
    if (step == Step::kStarved) {
      moved |= Flush(out, out_len);
      break;
    }
  }
  in = p;
  in_len = static_cast<size_t>(end - p);
  if (stage_ == Stage::kDone && pos_ == flushed_) return Status::StreamEnd;
  return moved ? Status::Ok : Status::NeedInput;
}

bool Deflate64Inflater::Flush(uint8_t*& out, size_t& out_len) {
  const size_t n = std::min(pos_ - flushed_, out_len);
  if (n == 0) return false;
  std::memcpy(out, buf_.get() + flushed_, n);
  flushed_ += n;
  out += n;
  out_len -= n;
  return true;
}

// Everything is flushed: keeps the last window of history at the front when
// the round would not fit behind it.
void Deflate64Inflater::MakeRoom(size_t want) {
  if (pos_ + want <= kWindowSize + kRoundSize) return;
  std::memmove(buf_.get(), buf_.get() + pos_ - kWindowSize, kWindowSize);
  pos_ = flushed_ = kWindowSize;
}

// Decodes until the round holds `target` bytes, the input runs out or the
// stream ends (kGoOn).
Deflate64Inflater::Step Deflate64Inflater::Run(const uint8_t*& p, const uint8_t* end, size_t target) {
  for (;;) {
    if (stage_ == Stage::kDone) return Step::kGoOn;
    const Step step = RunStage(p, end, target);
    if (step != Step::kGoOn) return step;
  }
}

Deflate64Inflater::Step Deflate64Inflater::RunStage(const uint8_t*& p, const uint8_t* end, size_t target) {
  switch (stage_) {
    case Stage::kBlockHeader: return ReadBlockHeader(p, end);
    case Stage::kStoredHeader: return ReadStoredHeader(p, end);
    case Stage::kStoredCopy: return CopyStored(p, end, target);
    case Stage::kTableCounts: return ReadTableCounts(p, end);
    case Stage::kCodeLenLens: return ReadCodeLenLens(p, end);
    case Stage::kCodeLens: return ReadCodeLens(p, end);
    case Stage::kLitLen:
    case Stage::kDistance: return DecodeSymbols(p, end, target);
    case Stage::kDone: return Step::kGoOn;
    case Stage::kFailed: break;
  }
  return Step::kBad;
}

bool Deflate64Inflater::PullByte(const uint8_t*& p, const uint8_t* end) {
  if (p == end) return false;
  bitbuf_ |= static_cast<uint64_t>(*p++) << bitcnt_;
  bitcnt_ += 8;
  return true;
}

bool Deflate64Inflater::Have(unsigned n, const uint8_t*& p, const uint8_t* end) {
  while (bitcnt_ < n)
    if (!PullByte(p, end)) return false;
  return true;
}

unsigned Deflate64Inflater::Take(unsigned n) {
  const unsigned v = static_cast<unsigned>(bitbuf_ & LowBits(n));
  bitbuf_ >>= n;
  bitcnt_ -= n;
  return v;
}

// The entry of the code at the front of the bit buffer, and the bits its
// code takes; false when the bits at hand do not settle which code it is.
bool Deflate64Inflater::Peek(const uint32_t* table, unsigned root, uint32_t& entry, unsigned& bits) const {
  entry = table[bitbuf_ & LowBits(root)];
  bits = 0;
  if (Kind(entry) == kSubtable) {
    if (bitcnt_ < root) return false;
    bits = root;
    entry = table[Value(entry) + ((bitbuf_ >> root) & LowBits(ExtraBits(entry)))];
  }
  bits += CodeBits(entry);
  return bits <= bitcnt_;
}

Deflate64Inflater::Step Deflate64Inflater::ReadBlockHeader(const uint8_t*& p, const uint8_t* end) {
  constexpr unsigned kStored = 0, kFixed = 1, kDynamic = 2;
  if (!Have(3, p, end)) return Step::kStarved;
  final_ = Take(1) != 0;
  const unsigned type = Take(2);
  if (type == kStored) {
    stage_ = Stage::kStoredHeader;
  } else if (type == kFixed) {
    lit_ = Fixed().lit;
    dist_ = Fixed().dist;
    stage_ = Stage::kLitLen;
  } else if (type == kDynamic) {
    stage_ = Stage::kTableCounts;
  } else {
    return Step::kBad;
  }
  return Step::kGoOn;
}

// A stored block starts at the next byte with its length and the
// length's complement, 16 bits each.
Deflate64Inflater::Step Deflate64Inflater::ReadStoredHeader(const uint8_t*& p, const uint8_t* end) {
  Take(bitcnt_ % 8);
  if (!Have(32, p, end)) return Step::kStarved;
  const unsigned len = Take(16), complement = Take(16);
  if (len != (~complement & 0xFFFF)) return Step::kBad;
  stored_left_ = len;
  stage_ = Stage::kStoredCopy;
  return Step::kGoOn;
}

// The bytes left in the bit buffer come first, then the input's.
Deflate64Inflater::Step Deflate64Inflater::CopyStored(const uint8_t*& p, const uint8_t* end, size_t target) {
  while (stored_left_ > 0 && bitcnt_ >= 8 && pos_ < target) {
    buf_[pos_++] = static_cast<uint8_t>(Take(8));
    --stored_left_;
  }
  if (pos_ < target) {
    const size_t n = std::min({stored_left_, static_cast<size_t>(end - p), target - pos_});
    std::memcpy(buf_.get() + pos_, p, n);
    p += n;
    pos_ += n;
    stored_left_ -= n;
  }
  if (stored_left_ == 0) {
    EndBlock();
    return Step::kGoOn;
  }
  return pos_ >= target ? Step::kFull : Step::kStarved;
}

Deflate64Inflater::Step Deflate64Inflater::ReadTableCounts(const uint8_t*& p, const uint8_t* end) {
  if (!Have(14, p, end)) return Step::kStarved;
  lit_count_ = Take(5) + kFirstLengthSymbol;
  dist_count_ = Take(5) + 1;
  code_len_count_ = Take(4) + 4;
  index_ = 0;
  std::fill(std::begin(code_len_lens_), std::end(code_len_lens_), 0);
  stage_ = Stage::kCodeLenLens;
  return Step::kGoOn;
}

Deflate64Inflater::Step Deflate64Inflater::ReadCodeLenLens(const uint8_t*& p, const uint8_t* end) {
  for (; index_ < code_len_count_; ++index_) {
    if (!Have(3, p, end)) return Step::kStarved;
    code_len_lens_[kCodeLenOrder[index_]] = static_cast<uint8_t>(Take(3));
  }
  if (!BuildTable(code_len_lens_, kCodeLenSymbols, false, kCodeLenRootBits, code_len_table_, kCodeLenTableSize,
                  CodeLenEntry))
    return Step::kBad;
  index_ = 0;
  stage_ = Stage::kCodeLens;
  return Step::kGoOn;
}

// The literal/length and distance code lengths, one run of symbols.
Deflate64Inflater::Step Deflate64Inflater::ReadCodeLens(const uint8_t*& p, const uint8_t* end) {
  while (index_ < lit_count_ + dist_count_) {
    uint32_t e;
    unsigned bits;
    if (!Peek(code_len_table_, kCodeLenRootBits, e, bits) || bits + ExtraBits(e) > bitcnt_) {
      if (!PullByte(p, end)) return Step::kStarved;
      continue;
    }
    if (Kind(e) != kBase) return Step::kBad;
    Take(bits);
    const unsigned sym = Value(e);
    if (!RepeatCodeLen(sym, Take(ExtraBits(e)))) return Step::kBad;
  }
  if (!BuildBlockTables()) return Step::kBad;
  stage_ = Stage::kLitLen;
  return Step::kGoOn;
}

// Symbols 0-15 are a length; 16 repeats the previous one 3-6 times, 17 and
// 18 give 3-10 and 11-138 zeros. False for a repeat with nothing before it
// or past the last length.
bool Deflate64Inflater::RepeatCodeLen(unsigned sym, unsigned extra) {
  constexpr unsigned kRepeatPrevious = 16, kShortZeros = 17;
  if (sym < kRepeatPrevious) {
    lens_[index_++] = static_cast<uint8_t>(sym);
    return true;
  }
  if (sym == kRepeatPrevious && index_ == 0) return false;
  const uint8_t len = sym == kRepeatPrevious ? lens_[index_ - 1] : 0;
  const unsigned times = (sym == kShortZeros || sym == kRepeatPrevious ? 3 : 11) + extra;
  if (index_ + times > lit_count_ + dist_count_) return false;
  std::fill(lens_ + index_, lens_ + index_ + times, len);
  index_ += times;
  return true;
}

bool Deflate64Inflater::BuildBlockTables() {
  if (lens_[kEndOfBlockSymbol] == 0) return false;
  if (!BuildTable(lens_, lit_count_, true, kLitLenRootBits, lit_table_, kLitLenTableSize, LitLenEntry)) return false;
  if (!BuildTable(lens_ + lit_count_, dist_count_, true, kDistRootBits, dist_table_, kDistTableSize, DistEntry))
    return false;
  lit_ = lit_table_;
  dist_ = dist_table_;
  return true;
}

// The compressed symbols of a block: the fast loop while input lasts for
// any symbol, then one careful step at a time.
Deflate64Inflater::Step Deflate64Inflater::DecodeSymbols(const uint8_t*& p, const uint8_t* end, size_t target) {
  for (;;) {
    if (pos_ >= target) return Step::kFull;
    Step step;
    if (stage_ == Stage::kLitLen && end - p >= kFastInput)
      step = FastLoop(p, end, target);
    else
      step = stage_ == Stage::kLitLen ? SlowLitLen(p, end) : SlowDistance(p, end);
    if (step != Step::kGoOn) return step;
    if (stage_ != Stage::kLitLen && stage_ != Stage::kDistance) return Step::kGoOn;
  }
}

// A symbol or two per pass, with at least 56 bits at hand after each
// top-up: a length's code and extra bits take 31 at most, a distance's 29.
Deflate64Inflater::Step Deflate64Inflater::FastLoop(const uint8_t*& p, const uint8_t* end, size_t target) {
  FastBits in{bitbuf_, bitcnt_};
  size_t pos = pos_;
  uint8_t* const buf = buf_.get();
  Step step = Step::kGoOn;
  bool block_end = false;
  while (end - p >= kFastInput && pos < target) {
    in.Refill(p);
    uint32_t e = in.Decode(lit_, kLitLenRootBits);
    if (Kind(e) == kLiteral) {
      // A literal leaves at least 41 bits: enough for the next symbol, even
      // a length with its extra bits.
      buf[pos++] = static_cast<uint8_t>(Value(e));
      e = in.Decode(lit_, kLitLenRootBits);
      if (Kind(e) == kLiteral) {
        buf[pos++] = static_cast<uint8_t>(Value(e));
        continue;
      }
    }
    if (Kind(e) != kBase) {
      block_end = Kind(e) == kEndOfBlock;
      if (!block_end) step = Step::kBad;
      break;
    }
    const size_t len = in.BasePlusExtra(e);
    in.Refill(p);
    e = in.Decode(dist_, kDistRootBits);
    const size_t distance = Kind(e) == kBase ? in.BasePlusExtra(e) : 0;
    if (distance == 0 || distance > pos) {
      step = Step::kBad;
      break;
    }
    CopyMatch(buf + pos, distance, len);
    pos += len;
  }
  bitbuf_ = in.bits & LowBits(in.count);
  bitcnt_ = in.count;
  pos_ = pos;
  GiveBackWholeBytes(p);
  if (block_end) EndBlock();
  return step;
}

Deflate64Inflater::Step Deflate64Inflater::SlowLitLen(const uint8_t*& p, const uint8_t* end) {
  uint32_t e;
  unsigned bits;
  if (!Peek(lit_, kLitLenRootBits, e, bits) || bits + ExtraBits(e) > bitcnt_) return Starved(p, end);
  Take(bits);
  switch (Kind(e)) {
    case kLiteral: buf_[pos_++] = static_cast<uint8_t>(Value(e)); break;
    case kEndOfBlock: EndBlock(); break;
    case kBase:
      match_len_ = Value(e) + Take(ExtraBits(e));
      stage_ = Stage::kDistance;
      break;
    default: return Step::kBad;
  }
  return Step::kGoOn;
}

Deflate64Inflater::Step Deflate64Inflater::SlowDistance(const uint8_t*& p, const uint8_t* end) {
  uint32_t e;
  unsigned bits;
  if (!Peek(dist_, kDistRootBits, e, bits) || bits + ExtraBits(e) > bitcnt_) return Starved(p, end);
  if (Kind(e) != kBase) return Step::kBad;
  Take(bits);
  const size_t distance = Value(e) + Take(ExtraBits(e));
  if (distance > pos_) return Step::kBad;
  CopyMatch(buf_.get() + pos_, distance, match_len_);
  pos_ += match_len_;
  stage_ = Stage::kLitLen;
  return Step::kGoOn;
}

void Deflate64Inflater::EndBlock() { stage_ = final_ ? Stage::kDone : Stage::kBlockHeader; }

// Whole bytes the fast loop read ahead go back to the input they came from
// (as far as this call's input reaches; the careful steps read no further
// than they need): after the last block they are not the stream's, and a
// caller that looks at what is left must find them there.
void Deflate64Inflater::GiveBackWholeBytes(const uint8_t*& p) {
  const unsigned bytes = static_cast<unsigned>(std::min<size_t>(bitcnt_ / 8, static_cast<size_t>(p - call_start_)));
  p -= bytes;
  bitcnt_ -= 8 * bytes;
  bitbuf_ &= LowBits(bitcnt_);
}

}  // namespace

std::unique_ptr<Inflater> MakeDeflate64Inflater() { return std::make_unique<Deflate64Inflater>(); }

}  // namespace arcfold
