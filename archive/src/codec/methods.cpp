#include "codec/methods.h"

#include "arcfold/records.h"

namespace arcfold {

namespace {

// The reader version a method needs: 2.0 for deflate, 2.1 for Deflate64,
// 4.6 for bzip2, 6.3 for LZMA, xz and zstd.
constexpr uint8_t kVersionDeflate = 20;
constexpr uint8_t kVersionDeflate64 = 21;
constexpr uint8_t kVersionBzip2 = 46;
constexpr uint8_t kVersionLzma = 63;
constexpr uint16_t kFlagLzmaEndMarker = 0x0002;

std::unique_ptr<Inflater> DeflateDecompressor(const DecompressorTerms& terms) { return MakeInflater(terms.tuning); }
std::unique_ptr<Deflater> DeflateCompressor(int mode, int64_t, const TAFTuning& tuning) {
  return MakeDeflater(mode, tuning);
}
std::unique_ptr<Inflater> Deflate64Decompressor(const DecompressorTerms&) { return MakeDeflate64Inflater(); }
// Deflate64 is read, never written: no method option stands for it.
constexpr auto kNoOption = static_cast<TAFCompressionMethod>(0xFF);

#ifdef ARCFOLD_HAVE_BZIP2
std::unique_ptr<Inflater> Bzip2Decompressor(const DecompressorTerms&) { return MakeBzip2Decompressor(); }
std::unique_ptr<Deflater> Bzip2Compressor(int mode, int64_t, const TAFTuning&) { return MakeBzip2Compressor(mode); }
#else
constexpr auto Bzip2Decompressor = nullptr;
constexpr auto Bzip2Compressor = nullptr;
#endif

#ifdef ARCFOLD_HAVE_LZMA
std::unique_ptr<Inflater> LzmaDecompressor(const DecompressorTerms& terms) { return MakeLzmaDecompressor(terms); }
std::unique_ptr<Deflater> LzmaCompressor(int mode, int64_t size, const TAFTuning&) {
  return MakeLzmaCompressor(mode, size);
}
std::unique_ptr<Inflater> XzDecompressor(const DecompressorTerms& terms) { return MakeXzDecompressor(terms); }
std::unique_ptr<Deflater> XzCompressor(int mode, int64_t size, const TAFTuning& tuning) {
  return MakeXzCompressor(mode, size, tuning);
}
#else
constexpr auto LzmaDecompressor = nullptr;
constexpr auto LzmaCompressor = nullptr;
constexpr auto XzDecompressor = nullptr;
constexpr auto XzCompressor = nullptr;
#endif

#ifdef ARCFOLD_HAVE_ZSTD
std::unique_ptr<Inflater> ZstdDecompressor(const DecompressorTerms&) { return MakeZstdDecompressor(); }
std::unique_ptr<Deflater> ZstdCompressor(int mode, int64_t size, const TAFTuning& tuning) {
  return MakeZstdCompressor(mode, size, tuning);
}
#else
constexpr auto ZstdDecompressor = nullptr;
constexpr auto ZstdCompressor = nullptr;
#endif

using DecompressorFactory = std::unique_ptr<Inflater> (*)(const DecompressorTerms&);
using CompressorFactory = std::unique_ptr<Deflater> (*)(int, int64_t, const TAFTuning&);

struct MethodRow {
  uint16_t code;
  TAFCompressionMethod option;
  uint8_t version;
  DecompressorFactory decompressor;  // null: not in this build
  CompressorFactory compressor;
};

// PPMd and the other methods are not known here.
constexpr MethodRow kMethods[] = {
    {kMethodDeflate, cmDeflate, kVersionDeflate, DeflateDecompressor, DeflateCompressor},
    {kMethodDeflate64, kNoOption, kVersionDeflate64, Deflate64Decompressor, nullptr},
    {kMethodBZip2, cmBZip2, kVersionBzip2, Bzip2Decompressor, Bzip2Compressor},
    {kMethodLZMA, cmLZMA, kVersionLzma, LzmaDecompressor, LzmaCompressor},
    {kMethodXz, cmXz, kVersionLzma, XzDecompressor, XzCompressor},
    {kMethodZstd, cmZstd, kVersionLzma, ZstdDecompressor, ZstdCompressor},
};

const MethodRow* RowOf(uint16_t code) {
  for (const MethodRow& row : kMethods)
    if (row.code == code) return &row;
  return nullptr;
}

const MethodRow* RowOf(TAFCompressionMethod option) {
  for (const MethodRow& row : kMethods)
    if (row.option == option) return &row;
  return nullptr;
}

}  // namespace

bool CompressionMethodAvailable(TAFCompressionMethod method) {
  if (method == cmStore) return true;
  const MethodRow* row = RowOf(method);
  return row && row->compressor;
}

std::unique_ptr<Inflater> MakeDecompressor(uint16_t method, const DecompressorTerms& terms) {
  const MethodRow* row = RowOf(method);
  return row && row->decompressor ? row->decompressor(terms) : nullptr;
}

bool MethodDecodable(uint16_t method) {
  const MethodRow* row = RowOf(method);
  return method == kMethodStored || (row && row->decompressor);
}

std::unique_ptr<Deflater> MakeCompressor(uint16_t method, int mode, int64_t source_size, const TAFTuning& tuning) {
  const MethodRow* row = RowOf(method);
  return row && row->compressor ? row->compressor(mode, source_size, tuning) : nullptr;
}

uint16_t MethodCode(TAFCompressionMethod method) {
  if (method == cmStore) return kMethodStored;
  return CompressionMethodAvailable(method) ? RowOf(method)->code : kMethodDeflate;
}

uint16_t VersionNeededWith(uint16_t version_needed, uint16_t method) {
  const MethodRow* row = RowOf(method);
  if (!row || version_needed >= kAltVersion) return version_needed;
  // The low byte is the version; the high one the system it counts for.
  if ((version_needed & 0xFF) >= row->version) return version_needed;
  return static_cast<uint16_t>((version_needed & 0xFF00) | row->version);
}

uint16_t FlagsWith(uint16_t flags, uint16_t method) {
  return method == kMethodLZMA ? flags | kFlagLzmaEndMarker : flags;
}

}  // namespace arcfold
