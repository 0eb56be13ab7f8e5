// The compression methods the pipelines know, in one table: each method's
// decompressor and compressor (behind the Inflater and Deflater seams), and
// the reader version it needs.
#pragma once

#include <cstdint>
#include <memory>

#include "arcfold/types.h"
#include "codec/deflater.h"
#include "codec/inflater.h"

namespace arcfold {

// What a decompressor is told about the item besides its data.
struct DecompressorTerms {
  int64_t uncompressed_size = 0;
  TAFTuning tuning;
};

// The decompressor of a method's data (after decryption), or null when the
// method is unknown to this build or its library cannot start. Stored data
// has none: it is copied.
std::unique_ptr<Inflater> MakeDecompressor(uint16_t method, const DecompressorTerms& terms);
bool MethodDecodable(uint16_t method);

// The compressor of a method at a compression mode (1-9, mapped onto the
// method's own levels) for a source of source_size bytes, or null when this
// build lacks the method or its library cannot start.
std::unique_ptr<Deflater> MakeCompressor(uint16_t method, int mode, int64_t source_size, const TAFTuning& tuning);

// The method code new items get for a method option; deflate where the
// build lacks the method's library.
uint16_t MethodCode(TAFCompressionMethod method);

// The version-needed field of an item written with method: the reader
// version the method needs where it is more than the field says. Fields
// of entries under the alternative signature set keep their marker.
uint16_t VersionNeededWith(uint16_t version_needed, uint16_t method);

// The general purpose flags of an item written with method: LZMA data
// ends with an end marker, which bit 1 announces.
uint16_t FlagsWith(uint16_t flags, uint16_t method);

// The backends, where the build has their libraries (method_codecs
// files); each returns null when its library cannot start.
std::unique_ptr<Inflater> MakeBzip2Decompressor();
std::unique_ptr<Deflater> MakeBzip2Compressor(int mode);
std::unique_ptr<Inflater> MakeLzmaDecompressor(const DecompressorTerms& terms);
std::unique_ptr<Deflater> MakeLzmaCompressor(int mode, int64_t source_size);
std::unique_ptr<Inflater> MakeXzDecompressor(const DecompressorTerms& terms);
std::unique_ptr<Deflater> MakeXzCompressor(int mode, int64_t source_size, const TAFTuning& tuning);
std::unique_ptr<Inflater> MakeZstdDecompressor();
std::unique_ptr<Deflater> MakeZstdCompressor(int mode, int64_t source_size, const TAFTuning& tuning);

}  // namespace arcfold
