#include "arcfold/records.h"

#include <algorithm>
#include <cstring>

namespace arcfold {

void TZip64EndRecord::Set(uint32_t disk, uint64_t entries, uint64_t dir_size, uint64_t dir_offset) {
  SetU32(0, kSigZip64End);
  SetU64(4, 44);
  SetU16(12, 45);
  SetU16(14, 45);
  SetU32(16, disk);
  SetU32(20, disk);
  SetU64(24, entries);
  SetU64(32, entries);
  SetU64(40, dir_size);
  SetU64(48, dir_offset);
}

void TZip64Locator::Set(uint32_t disk, uint64_t end_record_offset, uint32_t total_disks) {
  SetU32(0, kSigZip64Locator);
  SetU32(4, disk);
  SetU64(8, end_record_offset);
  SetU32(16, total_disks);
}

bool SetCentralRecordOffset(uint8_t* record, size_t length, uint64_t offset) {
  if (length < TCentralHeader::kSize) return false;
  TCentralHeader h;
  h.Load(record);
  if (h.LocalHeaderOffset() != kZip64Marker) {
    if (offset >= kZip64Marker) return false;
    h.SetLocalHeaderOffset(static_cast<uint32_t>(offset));
    std::memcpy(record, h.data(), TCentralHeader::kSize);
    return true;
  }
  // In the ZIP64 field the offset follows the sizes the field also holds.
  size_t at = TCentralHeader::kSize + h.NameLength();
  const size_t end = std::min(length, at + h.ExtraLength());
  while (at + kExtraHeaderSize <= end) {
    const uint16_t id = GetU16(record + at), size = GetU16(record + at + 2);
    const size_t data = at + kExtraHeaderSize;
    if (id == kExtraZip64) {
      const size_t pos =
          data + (h.UncompressedSize() == kZip64Marker ? 8 : 0) + (h.CompressedSize() == kZip64Marker ? 8 : 0);
      if (pos + 8 > data + size || pos + 8 > end) return false;
      PutU64(record + pos, offset);
      return true;
    }
    at = data + size;
  }
  return false;
}

TExtraField AesExtraField(uint8_t strength, uint16_t method) {
  constexpr uint8_t kVendorVersion = 2;
  return {kExtraAES,
          7,
          {kVendorVersion, 0, 'A', 'E', strength, static_cast<uint8_t>(method), static_cast<uint8_t>(method >> 8)}};
}

bool TExtraField::operator==(const TExtraField& o) const { return Id == o.Id && Size == o.Size && Data == o.Data; }

TExtraFieldList ParseExtraArea(const uint8_t* data, size_t length) {
  TExtraFieldList list;
  size_t k = 0;
  while (k + 4 <= length) {
    TExtraField f;
    f.Id = GetU16(data + k);
    f.Size = GetU16(data + k + 2);
    k += 4;
    if (f.Size > length - k) f.Size = static_cast<uint16_t>(length - k);
    f.Data.assign(data + k, data + k + f.Size);
    k += f.Size;
    list.push_back(std::move(f));
  }
  return list;
}

std::vector<uint8_t> BuildExtraArea(const TExtraFieldList& fields) {
  std::vector<uint8_t> out;
  for (const auto& f : fields) {
    uint8_t h[4];
    PutU16(h, f.Id);
    PutU16(h + 2, f.Size);
    out.insert(out.end(), h, h + 4);
    out.insert(out.end(), f.Data.begin(), f.Data.begin() + std::min<size_t>(f.Size, f.Data.size()));
  }
  return out;
}

TZip64Values ReadZip64Central(const uint8_t* data, size_t size, const TCentralHeader& header) {
  TZip64Values v;
  size_t pos = 0;
  auto take8 = [&](std::optional<uint64_t>& dst) {
    if (pos + 8 <= size) dst = GetU64(data + pos);
    pos += 8;
  };
  if (header.UncompressedSize() == 0xFFFFFFFF) take8(v.uncompressed);
  if (header.CompressedSize() == 0xFFFFFFFF) take8(v.compressed);
  if (header.LocalHeaderOffset() == 0xFFFFFFFF) take8(v.local_offset);
  if (header.DiskNumberStart() == 0xFFFF && pos + 2 <= size) v.disk_start = GetU16(data + pos);
  return v;
}

size_t Zip64CentralSize(const TCentralHeader& header) {
  size_t n = 0;
  if (header.UncompressedSize() == 0xFFFFFFFF) n += 8;
  if (header.CompressedSize() == 0xFFFFFFFF) n += 8;
  if (header.LocalHeaderOffset() == 0xFFFFFFFF) n += 8;
  if (header.DiskNumberStart() == 0xFFFF) n += 4;
  return n ? n + 4 : 0;
}

std::vector<uint8_t> BuildZip64Central(const TCentralHeader& header, uint64_t uncompressed, uint64_t compressed,
                                       uint64_t local_offset, uint32_t disk_start) {
  size_t total = Zip64CentralSize(header);
  std::vector<uint8_t> out(total);
  if (!total) return out;
  PutU16(out.data(), kExtraZip64);
  PutU16(out.data() + 2, static_cast<uint16_t>(total - 4));
  size_t pos = 4;
  if (header.UncompressedSize() == 0xFFFFFFFF) PutU64(&out[pos], uncompressed), pos += 8;
  if (header.CompressedSize() == 0xFFFFFFFF) PutU64(&out[pos], compressed), pos += 8;
  if (header.LocalHeaderOffset() == 0xFFFFFFFF) PutU64(&out[pos], local_offset), pos += 8;
  if (header.DiskNumberStart() == 0xFFFF) PutU32(&out[pos], disk_start);
  return out;
}

std::array<uint8_t, 20> BuildZip64Local(uint64_t uncompressed, uint64_t compressed) {
  std::array<uint8_t, 20> out{};
  PutU16(out.data(), kExtraZip64);
  PutU16(out.data() + 2, 16);
  PutU64(out.data() + 4, uncompressed);
  PutU64(out.data() + 12, compressed);
  return out;
}

}  // namespace arcfold
