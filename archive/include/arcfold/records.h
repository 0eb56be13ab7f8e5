/// @file
/// Byte layouts of the ZIP records: the one place that knows where each field
/// of a local header, central header, data descriptor, end record, ZIP64 end
/// record and locator, and of the extra fields, lives.
#pragma once

#include <array>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "arcfold/export.h"

namespace arcfold {

/// @cond INTERNAL
// The records are the library's own business: TDirItem shows what a caller
// reads of them, and the reference leaves them out.

inline uint16_t GetU16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline uint32_t GetU32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
         (static_cast<uint32_t>(p[3]) << 24);
}
inline uint64_t GetU64(const uint8_t* p) { return GetU32(p) | (static_cast<uint64_t>(GetU32(p + 4)) << 32); }
inline void PutU16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
inline void PutU32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
inline void PutU64(uint8_t* p, uint64_t v) {
  for (int i = 0; i < 8; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

/// Signatures of the standard set and the ones that do not change between sets.
constexpr uint32_t kSigLocal = 0x04034B50;
constexpr uint32_t kSigCentral = 0x02014B50;
constexpr uint32_t kSigDataDescriptor = 0x08074B50;
constexpr uint32_t kSigZip64End = 0x06064B50;
constexpr uint32_t kSigZip64Locator = 0x07064B50;
constexpr uint32_t kSigEnd = 0x06054B50;
/// The base archiver's alternative set.
constexpr uint32_t kAltSigLocal = 0x05045C61;
constexpr uint32_t kAltSigCentral = 0x03025C61;
constexpr uint32_t kAltSigEnd = 0x06054141;
constexpr uint16_t kAltVersion = 0x4114;       ///< 16660: entries written under the alternative set
constexpr uint16_t kAltVersionZip64 = 0x412D;  ///< 16685: the same, needing ZIP64
/// The host in the high byte of "version made by" whose items carry a Unix
/// mode in the upper half of their external attributes.
constexpr uint16_t kUnixHost = 3;

struct ARCFOLD_API TAFSignatureSet {
  uint32_t local;
  uint32_t central;
  uint32_t end;
  static TAFSignatureSet Standard() { return {kSigLocal, kSigCentral, kSigEnd}; }
  static TAFSignatureSet Alternative() { return {kAltSigLocal, kAltSigCentral, kAltSigEnd}; }
};

/// A 32-bit size or offset field (16-bit for a disk number) that holds all
/// ones keeps its value in the ZIP64 extra field.
constexpr uint32_t kZip64Marker = 0xFFFFFFFF;
constexpr uint16_t kZip64Marker16 = 0xFFFF;

/// General purpose flag bits.
constexpr uint16_t kFlagEncrypted = 0x0001;
constexpr uint16_t kFlagDirectory = 0x0002;
constexpr uint16_t kFlagDataDescriptor = 0x0008;
constexpr uint16_t kFlagUtf8 = 0x0800;

/// Methods.
constexpr uint16_t kMethodStored = 0;
constexpr uint16_t kMethodDeflate = 8;
constexpr uint16_t kMethodDeflate64 = 9;
constexpr uint16_t kMethodBZip2 = 12;
constexpr uint16_t kMethodLZMA = 14;
constexpr uint16_t kMethodZstd = 93;
constexpr uint16_t kMethodXz = 95;
constexpr uint16_t kMethodAES = 99;

/// Extra field IDs.
constexpr uint16_t kExtraZip64 = 0x0001;
constexpr uint16_t kExtraAES = 0x9901;
constexpr uint16_t kExtraUnicodeName = 0x554E;
constexpr uint16_t kExtraInfoZipUnicodePath = 0x7075;

/// A fixed-size record held as its bytes, with typed field access.
template <size_t N>
struct ARCFOLD_API TRecordImage {
  std::array<uint8_t, N> bytes{};
  static constexpr size_t kSize = N;
  uint16_t U16(size_t off) const { return GetU16(bytes.data() + off); }
  uint32_t U32(size_t off) const { return GetU32(bytes.data() + off); }
  uint64_t U64(size_t off) const { return GetU64(bytes.data() + off); }
  void SetU16(size_t off, uint16_t v) { PutU16(bytes.data() + off, v); }
  void SetU32(size_t off, uint32_t v) { PutU32(bytes.data() + off, v); }
  void SetU64(size_t off, uint64_t v) { PutU64(bytes.data() + off, v); }
  uint8_t* data() { return bytes.data(); }
  const uint8_t* data() const { return bytes.data(); }
  /// Takes the fixed part from the first N bytes at p.
  void Load(const uint8_t* p) { std::memcpy(bytes.data(), p, N); }
  bool operator==(const TRecordImage&) const = default;
};

/// Local file header, 30 bytes (then name and extra field).
struct ARCFOLD_API TLocalHeader : TRecordImage<30> {
  uint32_t Signature() const { return U32(0); }
  uint16_t VersionNeeded() const { return U16(4); }
  uint16_t Flags() const { return U16(6); }
  uint16_t Method() const { return U16(8); }
  uint16_t Time() const { return U16(10); }
  uint16_t Date() const { return U16(12); }
  uint32_t Crc32() const { return U32(14); }
  uint32_t CompressedSize() const { return U32(18); }
  uint32_t UncompressedSize() const { return U32(22); }
  uint16_t NameLength() const { return U16(26); }
  uint16_t ExtraLength() const { return U16(28); }
  void SetSignature(uint32_t v) { SetU32(0, v); }
  void SetVersionNeeded(uint16_t v) { SetU16(4, v); }
  void SetFlags(uint16_t v) { SetU16(6, v); }
  void SetMethod(uint16_t v) { SetU16(8, v); }
  void SetTime(uint16_t v) { SetU16(10, v); }
  void SetDate(uint16_t v) { SetU16(12, v); }
  void SetCrc32(uint32_t v) { SetU32(14, v); }
  void SetCompressedSize(uint32_t v) { SetU32(18, v); }
  void SetUncompressedSize(uint32_t v) { SetU32(22, v); }
  void SetNameLength(uint16_t v) { SetU16(26, v); }
  void SetExtraLength(uint16_t v) { SetU16(28, v); }
  /// The header with its name and extra field.
  size_t RecordLength() const { return kSize + NameLength() + ExtraLength(); }
};

/// Central directory file header, 46 bytes (then name, extra field, comment).
struct ARCFOLD_API TCentralHeader : TRecordImage<46> {
  uint32_t Signature() const { return U32(0); }
  uint16_t VersionMadeBy() const { return U16(4); }
  uint16_t VersionNeeded() const { return U16(6); }
  uint16_t Flags() const { return U16(8); }
  uint16_t Method() const { return U16(10); }
  uint16_t Time() const { return U16(12); }
  uint16_t Date() const { return U16(14); }
  uint32_t Crc32() const { return U32(16); }
  uint32_t CompressedSize() const { return U32(20); }
  uint32_t UncompressedSize() const { return U32(24); }
  uint16_t NameLength() const { return U16(28); }
  uint16_t ExtraLength() const { return U16(30); }
  uint16_t CommentLength() const { return U16(32); }
  uint16_t DiskNumberStart() const { return U16(34); }
  uint16_t InternalAttributes() const { return U16(36); }
  uint32_t ExternalAttributes() const { return U32(38); }
  uint32_t LocalHeaderOffset() const { return U32(42); }
  void SetSignature(uint32_t v) { SetU32(0, v); }
  void SetVersionMadeBy(uint16_t v) { SetU16(4, v); }
  void SetVersionNeeded(uint16_t v) { SetU16(6, v); }
  void SetFlags(uint16_t v) { SetU16(8, v); }
  void SetMethod(uint16_t v) { SetU16(10, v); }
  void SetTime(uint16_t v) { SetU16(12, v); }
  void SetDate(uint16_t v) { SetU16(14, v); }
  void SetCrc32(uint32_t v) { SetU32(16, v); }
  void SetCompressedSize(uint32_t v) { SetU32(20, v); }
  void SetUncompressedSize(uint32_t v) { SetU32(24, v); }
  void SetNameLength(uint16_t v) { SetU16(28, v); }
  void SetExtraLength(uint16_t v) { SetU16(30, v); }
  void SetCommentLength(uint16_t v) { SetU16(32, v); }
  void SetDiskNumberStart(uint16_t v) { SetU16(34, v); }
  void SetInternalAttributes(uint16_t v) { SetU16(36, v); }
  void SetExternalAttributes(uint32_t v) { SetU32(38, v); }
  void SetLocalHeaderOffset(uint32_t v) { SetU32(42, v); }
  /// The header with its name, extra field and comment.
  size_t RecordLength() const { return kSize + NameLength() + ExtraLength() + CommentLength(); }
};

/// Puts offset as the local header offset into a whole central record (the
/// header, then its name, extra field and comment, length bytes in all): in
/// the header's own field, or in the record's ZIP64 field when the header
/// holds the marker there. False, with the record unchanged, where it has no
/// room for the offset as it is.
ARCFOLD_API bool SetCentralRecordOffset(uint8_t* record, size_t length, uint64_t offset);

/// Data descriptor, 16 bytes with its signature.
struct ARCFOLD_API TDataDescriptor : TRecordImage<16> {
  uint32_t Signature() const { return U32(0); }
  uint32_t Crc32() const { return U32(4); }
  uint32_t CompressedSize() const { return U32(8); }
  uint32_t UncompressedSize() const { return U32(12); }
  void Set(uint32_t crc, uint32_t csize, uint32_t usize) {
    SetU32(0, kSigDataDescriptor);
    SetU32(4, crc);
    SetU32(8, csize);
    SetU32(12, usize);
  }
};

/// Length of the data descriptor that follows an item's data: an optional
/// signature, the CRC, and two sizes of 4 bytes, or of 8 for a ZIP64 item.
constexpr size_t DataDescriptorLength(bool with_signature, bool zip64) {
  return (with_signature ? 4 : 0) + 4 + (zip64 ? 16 : 8);
}

/// End of central directory record, 22 bytes (then the comment).
struct ARCFOLD_API TEndRecord : TRecordImage<22> {
  uint32_t Signature() const { return U32(0); }
  uint16_t ThisDisk() const { return U16(4); }
  uint16_t DirectoryDisk() const { return U16(6); }
  uint16_t EntriesOnDisk() const { return U16(8); }
  uint16_t TotalEntries() const { return U16(10); }
  uint32_t DirectorySize() const { return U32(12); }
  uint32_t DirectoryOffset() const { return U32(16); }
  uint16_t CommentLength() const { return U16(20); }
  void SetSignature(uint32_t v) { SetU32(0, v); }
  void SetThisDisk(uint16_t v) { SetU16(4, v); }
  void SetDirectoryDisk(uint16_t v) { SetU16(6, v); }
  void SetEntriesOnDisk(uint16_t v) { SetU16(8, v); }
  void SetTotalEntries(uint16_t v) { SetU16(10, v); }
  void SetDirectorySize(uint32_t v) { SetU32(12, v); }
  void SetDirectoryOffset(uint32_t v) { SetU32(16, v); }
  void SetCommentLength(uint16_t v) { SetU16(20, v); }
};

/// ZIP64 end of central directory record, 56 bytes (no extensible data).
struct ARCFOLD_API TZip64EndRecord : TRecordImage<56> {
  uint32_t Signature() const { return U32(0); }
  uint64_t RecordSize() const { return U64(4); }
  uint16_t VersionMadeBy() const { return U16(12); }
  uint16_t VersionNeeded() const { return U16(14); }
  uint32_t ThisDisk() const { return U32(16); }
  uint32_t DirectoryDisk() const { return U32(20); }
  uint64_t EntriesOnDisk() const { return U64(24); }
  uint64_t TotalEntries() const { return U64(32); }
  uint64_t DirectorySize() const { return U64(40); }
  uint64_t DirectoryOffset() const { return U64(48); }
  /// Fills every field as the component writes them.
  void Set(uint32_t disk, uint64_t entries, uint64_t dir_size, uint64_t dir_offset);
};

/// ZIP64 end of central directory locator, 20 bytes.
struct ARCFOLD_API TZip64Locator : TRecordImage<20> {
  uint32_t Signature() const { return U32(0); }
  uint32_t EndRecordDisk() const { return U32(4); }
  uint64_t EndRecordOffset() const { return U64(8); }
  uint32_t TotalDisks() const { return U32(16); }
  void Set(uint32_t disk, uint64_t end_record_offset, uint32_t total_disks);
};

/// Each extra field starts with its ID and the size of its data, 2 bytes each.
constexpr size_t kExtraHeaderSize = 4;

/// One extra field entry: ID, size and its data (kept byte for byte).
struct ARCFOLD_API TExtraField {
  uint16_t Id = 0;
  uint16_t Size = 0;
  std::vector<uint8_t> Data;  ///< Size bytes (empty when none)
  bool operator==(const TExtraField& o) const;
};
using TExtraFieldList = std::vector<TExtraField>;

/// The AES field of an encrypted item (vendor version 2, vendor "AE"):
/// strength 1, 2 or 3 for 128, 192 or 256-bit keys, method the compression
/// its data had before the encryption.
ARCFOLD_API TExtraField AesExtraField(uint8_t strength, uint16_t method);

/// Splits an extra area into entries: a declared size that runs past the end
/// is cut to what is left; a trailing 1 to 3 bytes are skipped.
ARCFOLD_API TExtraFieldList ParseExtraArea(const uint8_t* data, size_t length);
/// Frames entries back into bytes (ID, size, data).
ARCFOLD_API std::vector<uint8_t> BuildExtraArea(const TExtraFieldList& fields);

/// The 64-bit values of a ZIP64 extended information field.
struct ARCFOLD_API TZip64Values {
  std::optional<uint64_t> uncompressed;
  std::optional<uint64_t> compressed;
  std::optional<uint64_t> local_offset;
  std::optional<uint32_t> disk_start;  ///< low 16 bits of the stored 4 bytes
};

/// Central form: each value present only when the fixed header holds all-ones
/// in its field, and taken only when it lies entirely inside the data.
ARCFOLD_API TZip64Values ReadZip64Central(const uint8_t* data, size_t size, const TCentralHeader& header);
/// Builds the whole central field (header included) for the all-ones fields of
/// header; empty when none is all-ones.
ARCFOLD_API std::vector<uint8_t> BuildZip64Central(const TCentralHeader& header, uint64_t uncompressed,
                                                   uint64_t compressed, uint64_t local_offset, uint32_t disk_start);
/// Size of that field with its 4-byte header (0 when none needed).
ARCFOLD_API size_t Zip64CentralSize(const TCentralHeader& header);
/// Local form: 20 bytes, both sizes present.
ARCFOLD_API std::array<uint8_t, 20> BuildZip64Local(uint64_t uncompressed, uint64_t compressed);

/// @endcond

}  // namespace arcfold
