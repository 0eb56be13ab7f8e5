#include "arcfold/records.h"

#include <gtest/gtest.h>

using namespace arcfold;

namespace {
std::vector<uint8_t> Bytes(std::initializer_list<int> v) { return std::vector<uint8_t>(v.begin(), v.end()); }
template <size_t N>
std::vector<uint8_t> Bytes(const TRecordImage<N>& r) {
  return std::vector<uint8_t>(r.bytes.begin(), r.bytes.end());
}
}  // namespace

TEST(Records, LocalHeaderFieldsAtTheirOffsets) {
  TLocalHeader h;
  h.SetSignature(kSigLocal);
  h.SetVersionNeeded(20);
  h.SetFlags(0x0808);
  h.SetMethod(8);
  h.SetTime(0x1234);
  h.SetDate(0x5678);
  h.SetCrc32(0xAABBCCDD);
  h.SetCompressedSize(0x01020304);
  h.SetUncompressedSize(0xFFFFFFFF);
  h.SetNameLength(5);
  h.SetExtraLength(20);
  EXPECT_EQ(Bytes(h), Bytes({0x50, 0x4B, 0x03, 0x04, 20,   0,    0x08, 0x08, 8,    0,    0x34, 0x12, 0x78, 0x56, 0xDD,
                             0xCC, 0xBB, 0xAA, 0x04, 0x03, 0x02, 0x01, 0xFF, 0xFF, 0xFF, 0xFF, 5,    0,    20,   0}));
  TLocalHeader back;
  std::copy(h.bytes.begin(), h.bytes.end(), back.bytes.begin());
  EXPECT_EQ(back.Crc32(), 0xAABBCCDDu);
  EXPECT_EQ(back.ExtraLength(), 20);
}

TEST(Records, CentralHeaderFieldsAtTheirOffsets) {
  std::vector<uint8_t> raw =
      Bytes({0x50, 0x4B, 0x01, 0x02, 0x14, 0x0B, 0x2D, 0,    0x01, 0x08, 99,   0,    1,    2,   3,  4,
             0x11, 0x22, 0x33, 0x44, 0xFF, 0xFF, 0xFF, 0xFF, 0x10, 0,    0,    0,    7,    0,   11, 0,
             3,    0,    0xFF, 0xFF, 1,    0,    0x20, 0,    0xA4, 0x81, 0x78, 0x56, 0x34, 0x12});
  TCentralHeader h;
  std::copy(raw.begin(), raw.end(), h.bytes.begin());
  EXPECT_EQ(h.Signature(), kSigCentral);
  EXPECT_EQ(h.VersionMadeBy(), 0x0B14);
  EXPECT_EQ(h.VersionNeeded(), 45);
  EXPECT_EQ(h.Flags(), 0x0801);
  EXPECT_EQ(h.Method(), 99);
  EXPECT_EQ(h.Time(), 0x0201);
  EXPECT_EQ(h.Date(), 0x0403);
  EXPECT_EQ(h.Crc32(), 0x44332211u);
  EXPECT_EQ(h.CompressedSize(), 0xFFFFFFFFu);
  EXPECT_EQ(h.UncompressedSize(), 16u);
  EXPECT_EQ(h.NameLength(), 7);
  EXPECT_EQ(h.ExtraLength(), 11);
  EXPECT_EQ(h.CommentLength(), 3);
  EXPECT_EQ(h.DiskNumberStart(), 0xFFFF);
  EXPECT_EQ(h.InternalAttributes(), 1);
  EXPECT_EQ(h.ExternalAttributes(), 0x81A40020u);
  EXPECT_EQ(h.LocalHeaderOffset(), 0x12345678u);
  TCentralHeader rebuilt;
  rebuilt.SetSignature(kSigCentral);
  rebuilt.SetVersionMadeBy(0x0B14);
  rebuilt.SetVersionNeeded(45);
  rebuilt.SetFlags(0x0801);
  rebuilt.SetMethod(99);
  rebuilt.SetTime(0x0201);
  rebuilt.SetDate(0x0403);
  rebuilt.SetCrc32(0x44332211);
  rebuilt.SetCompressedSize(0xFFFFFFFF);
  rebuilt.SetUncompressedSize(16);
  rebuilt.SetNameLength(7);
  rebuilt.SetExtraLength(11);
  rebuilt.SetCommentLength(3);
  rebuilt.SetDiskNumberStart(0xFFFF);
  rebuilt.SetInternalAttributes(1);
  rebuilt.SetExternalAttributes(0x81A40020);
  rebuilt.SetLocalHeaderOffset(0x12345678);
  EXPECT_EQ(Bytes(rebuilt), raw);
}

TEST(Records, EndRecordsAndLocator) {
  TEndRecord e;
  e.SetSignature(kSigEnd);
  e.SetEntriesOnDisk(0xFFFF);
  e.SetTotalEntries(0xFFFF);
  e.SetDirectorySize(0x100);
  e.SetDirectoryOffset(0x200);
  e.SetCommentLength(4);
  EXPECT_EQ(Bytes(e), Bytes({0x50, 0x4B, 5, 6, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0, 1, 0, 0, 0, 2, 0, 0, 4, 0}));

  TZip64EndRecord z;
  z.Set(0, 65535, 0x1000, 0x123456789ULL);
  EXPECT_EQ(Bytes(z), Bytes({0x50, 0x4B, 6, 6,    44, 0,    0,    0, 0, 0, 0,    0,    45,   0,    45,   0, 0, 0, 0,
                             0,    0,    0, 0,    0,  0xFF, 0xFF, 0, 0, 0, 0,    0,    0,    0xFF, 0xFF, 0, 0, 0, 0,
                             0,    0,    0, 0x10, 0,  0,    0,    0, 0, 0, 0x89, 0x67, 0x45, 0x23, 1,    0, 0, 0}));
  EXPECT_EQ(z.TotalEntries(), 65535u);
  EXPECT_EQ(z.DirectoryOffset(), 0x123456789ULL);

  TZip64Locator l;
  l.Set(0, 0x1122334455ULL, 1);
  EXPECT_EQ(Bytes(l), Bytes({0x50, 0x4B, 6, 7, 0, 0, 0, 0, 0x55, 0x44, 0x33, 0x22, 0x11, 0, 0, 0, 1, 0, 0, 0}));

  TDataDescriptor d;
  d.Set(1, 2, 3);
  EXPECT_EQ(Bytes(d), Bytes({0x50, 0x4B, 7, 8, 1, 0, 0, 0, 2, 0, 0, 0, 3, 0, 0, 0}));
}

TEST(Records, ExtraAreaFramingKeepsUnknownFieldsAndCutsOverruns) {
  std::vector<uint8_t> area = Bytes({0x34, 0x12, 2, 0, 0xAA, 0xBB, 0x78, 0x56, 10, 0, 1, 2, 3});
  TExtraFieldList list = ParseExtraArea(area.data(), area.size());
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list[0].Id, 0x1234);
  EXPECT_EQ(list[0].Data, Bytes({0xAA, 0xBB}));
  EXPECT_EQ(list[1].Size, 3);  // announced 10, only 3 left
  EXPECT_EQ(BuildExtraArea({list[0]}), Bytes({0x34, 0x12, 2, 0, 0xAA, 0xBB}));

  std::vector<uint8_t> trailing = Bytes({0x34, 0x12, 0, 0, 9, 9, 9});
  EXPECT_EQ(ParseExtraArea(trailing.data(), trailing.size()).size(), 1u);
}

TEST(Records, Zip64CentralOnlyValuesPresent) {
  TCentralHeader h;
  h.SetUncompressedSize(0xFFFFFFFF);
  h.SetCompressedSize(100);
  h.SetLocalHeaderOffset(0xFFFFFFFF);
  h.SetDiskNumberStart(0xFFFF);
  EXPECT_EQ(Zip64CentralSize(h), 4u + 8 + 8 + 4);
  auto field = BuildZip64Central(h, 0x100000000ULL, 100, 0x200000000ULL, 7);
  EXPECT_EQ(field, Bytes({1, 0, 20, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 2, 0, 0, 0, 7, 0, 0, 0}));
  TZip64Values v = ReadZip64Central(field.data() + 4, field.size() - 4, h);
  EXPECT_EQ(v.uncompressed, 0x100000000ULL);
  EXPECT_FALSE(v.compressed.has_value());
  EXPECT_EQ(v.local_offset, 0x200000000ULL);
  EXPECT_EQ(v.disk_start, 7u);

  // A field too short for what the header announces supplies only what fits.
  TZip64Values cut = ReadZip64Central(field.data() + 4, 12, h);
  EXPECT_TRUE(cut.uncompressed.has_value());
  EXPECT_FALSE(cut.local_offset.has_value());
  EXPECT_FALSE(cut.disk_start.has_value());

  TCentralHeader none;
  EXPECT_EQ(Zip64CentralSize(none), 0u);
  EXPECT_TRUE(BuildZip64Central(none, 1, 2, 3, 4).empty());
  TZip64Values nothing = ReadZip64Central(field.data() + 4, field.size() - 4, none);
  EXPECT_FALSE(nothing.uncompressed || nothing.compressed || nothing.local_offset || nothing.disk_start);
}

TEST(Records, Zip64LocalFormAndSignatureSets) {
  auto l = BuildZip64Local(5, 6);
  EXPECT_EQ(std::vector<uint8_t>(l.begin(), l.end()),
            Bytes({1, 0, 16, 0, 5, 0, 0, 0, 0, 0, 0, 0, 6, 0, 0, 0, 0, 0, 0, 0}));
  auto alt = TAFSignatureSet::Alternative();
  uint8_t b[4];
  PutU32(b, alt.local);
  EXPECT_EQ(Bytes({b[0], b[1], b[2], b[3]}), Bytes({0x61, 0x5C, 0x04, 0x05}));
  PutU32(b, alt.end);
  EXPECT_EQ(Bytes({b[0], b[1], b[2], b[3]}), Bytes({0x41, 0x41, 0x05, 0x06}));
}

TEST(Records, CentralRecordOffsetGoesWhereTheRecordKeepsIt) {
  // A record with a 2-byte name, then a ZIP64 field holding the compressed
  // size and the offset, then a 1-byte comment.
  TCentralHeader h;
  h.SetSignature(kSigCentral);
  h.SetCompressedSize(kZip64Marker);
  h.SetLocalHeaderOffset(kZip64Marker);
  h.SetNameLength(2);
  h.SetExtraLength(20);
  h.SetCommentLength(1);
  std::vector<uint8_t> record = Bytes(h);
  for (int b : {int{'a'}, int{'b'}, 0x01, 0, 16, 0}) record.push_back(static_cast<uint8_t>(b));
  record.resize(record.size() + 16, 0);
  record.push_back('c');
  ASSERT_EQ(record.size(), h.RecordLength());
  ASSERT_TRUE(SetCentralRecordOffset(record.data(), record.size(), 0x123456789ULL));
  EXPECT_EQ(GetU64(record.data() + TCentralHeader::kSize + 2 + 4 + 8), 0x123456789ULL);
  EXPECT_EQ(GetU64(record.data() + TCentralHeader::kSize + 2 + 4), 0u);  // the size stays
  EXPECT_EQ(GetU32(record.data() + 42), kZip64Marker);

  // Without the marker the header's own field takes the offset, while it
  // fits in 32 bits; a larger one needs a record built anew.
  TCentralHeader plain;
  plain.SetLocalHeaderOffset(7);
  std::vector<uint8_t> small = Bytes(plain);
  ASSERT_TRUE(SetCentralRecordOffset(small.data(), small.size(), 0x1000));
  EXPECT_EQ(GetU32(small.data() + 42), 0x1000u);
  const std::vector<uint8_t> before = small;
  EXPECT_FALSE(SetCentralRecordOffset(small.data(), small.size(), 0x100000000ULL));
  EXPECT_EQ(small, before);

  // A marker with no ZIP64 field, or one too short for the offset.
  TCentralHeader marked;
  marked.SetLocalHeaderOffset(kZip64Marker);
  marked.SetExtraLength(8);
  std::vector<uint8_t> short_field = Bytes(marked);
  for (int b : {0x01, 0, 4, 0, 0, 0, 0, 0}) short_field.push_back(static_cast<uint8_t>(b));
  EXPECT_FALSE(SetCentralRecordOffset(short_field.data(), short_field.size(), 5));
  std::vector<uint8_t> no_field = Bytes(marked);
  for (int b : {0x0A, 0, 4, 0, 0, 0, 0, 0}) no_field.push_back(static_cast<uint8_t>(b));
  EXPECT_FALSE(SetCentralRecordOffset(no_field.data(), no_field.size(), 5));
}
