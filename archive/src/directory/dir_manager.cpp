#include "directory/dir_manager.h"

#include <algorithm>
#include <vector>

#include "arcfold/arcfold.h"
#include "arcfold/exception.h"
#include "arcfold/stream.h"
#include "directory/name_codec.h"
#include "volumes/volume_reader.h"

namespace arcfold {

namespace {
constexpr int64_t kEndWindow = 65600;
constexpr size_t kRecoveryBlock = 65535;
constexpr size_t kStubBlock = 10000;

// Items with the folder bit and no data keep their offset when a stub is
// found; an item with data is decoded, so its offset must be right.
bool OffsetLeftUnshifted(const TDirItem& item) {
  return (item.HeaderImage.ExternalAttributes() & afp::kAttrDirectory) && item.UncompressedSize() == 0;
}
}  // namespace

TAFDirManager::TAFDirManager(TStream* stream, TAFBaseArchiver* archiver, bool new_archive)
    : ArchiveStream(stream), NewArchive(new_archive), Archiver(archiver) {
  ExternalStream = stream != archiver->ArchiveStream();
  ResetDirectory();
  if (new_archive) {
    archiver->VolumeInfo().MarkFirst();
    if (!archiver->SFXStub().empty()) CopyStub();
  }
}

void TAFDirManager::ResetDirectory() {
  offsets_ready_ = false;
  ExtraEntriesFound = false;
  Items.Clear();
  Items.SetCount(0);
  EndRecord = TEndRecord();
  EndRecord.SetSignature(Archiver->Signatures().end);
}

void TAFDirManager::CopyStub() {
  TFileStream stub(Archiver->SFXStub(), fmOpenRead | fmShareDenyNone);
  int64_t size = stub.Size();
  if (Archiver->SpanningMode() != smNone) {
    int64_t limit = Archiver->SpanningOptions().LimitOf(0);
    if (limit >= 0 && limit < size) throw EAFException::Create(NativeError::kSFXStubExceedsVolume);
  }
  ArchiveStream->SetSize(0);
  ArchiveStream->SetPosition(0);
  ArchiveStream->CopyFrom(stub, 0);
  StubLength = size;
}

bool TAFDirManager::ValidateCandidate(int64_t p, int64_t stream_size) {
  if (stream_size - p < 22) return false;
  TEndRecord r;
  int64_t saved = ArchiveStream->Position();
  ArchiveStream->SetPosition(p);
  int64_t got = ArchiveStream->Read(r.data(), 22);
  ArchiveStream->SetPosition(saved);
  if (got != 22) return false;
  // A field at its escape value may stand for a value in a ZIP64 record,
  // which is looked for only once a candidate won: it is no reason to
  // pass the record over.
  if (r.DirectoryDisk() != 0xFFFF && r.ThisDisk() < r.DirectoryDisk()) return false;
  if (r.EntriesOnDisk() != 0xFFFF && r.TotalEntries() < r.EntriesOnDisk()) return false;
  if (r.DirectorySize() != 0xFFFFFFFF && !(static_cast<int64_t>(r.DirectorySize()) < p + 22)) return false;
  if (!(r.DirectoryDisk() < r.ThisDisk() || r.DirectoryOffset() == 0xFFFFFFFF ||
        static_cast<int64_t>(r.DirectoryOffset()) < p + 22 - static_cast<int64_t>(r.DirectorySize())))
    return false;
  return stream_size - p - 22 >= r.CommentLength();
}

bool TAFDirManager::FindEndRecord(uint32_t signature, int64_t& position) {
  Comment.clear();
  TEndRecord found;
  position = -1;
  int64_t size = ArchiveStream->Size();
  int64_t window = std::min<int64_t>(size, kEndWindow);
  std::vector<uint8_t> buf(static_cast<size_t>(window));
  ArchiveStream->SetPosition(size - window);
  if (window > 0 && ArchiveStream->Read(buf.data(), window) != window) return false;
  uint8_t sig[4];
  PutU32(sig, signature);
  int64_t winner = -1;
  for (int64_t i = window - 1; i >= 3; --i) {
    if (buf[i] != sig[3] || buf[i - 1] != sig[2] || buf[i - 2] != sig[1] || buf[i - 3] != sig[0]) continue;
    int64_t p = size - window + (i - 3);
    if (signature == kSigEnd) StandardEndFound = true;
    if (ValidateCandidate(p, size)) {
      winner = p;
      break;
    }
  }
  if (winner < 0 || size - winner < 22) return false;
  ArchiveStream->SetPosition(winner);
  ArchiveStream->ReadBuffer(found.data(), 22);
  if (found.CommentLength()) {
    Comment.resize(found.CommentLength());
    ArchiveStream->ReadBuffer(Comment.data(), found.CommentLength());
  }
  EndRecord = found;
  position = winner;
  return true;
}

const std::vector<int64_t>& TAFDirManager::SortedLocalOffsets() {
  if (!offsets_ready_) {
    // Folder entries are left out: their offsets are not shifted past a stub,
    // and they are never decoded.
    sorted_offsets_.clear();
    for (int i = 0; i < Items.Count(); ++i)
      if (!OffsetLeftUnshifted(Items.ItemRef(i)))
        sorted_offsets_.push_back(Items.ItemRef(i).LocalHeaderOffset());
    std::sort(sorted_offsets_.begin(), sorted_offsets_.end());
    offsets_ready_ = true;
  }
  return sorted_offsets_;
}

bool DataFitsBetween(const std::vector<int64_t>& sorted_offsets, int64_t local_offset, int64_t data_end) {
  auto same = std::equal_range(sorted_offsets.begin(), sorted_offsets.end(), local_offset);
  if (same.second - same.first > 1) return false;  // two items share one local header
  return same.second == sorted_offsets.end() || data_end <= *same.second;
}

bool TAFDirManager::CheckEndRecord() {
  int64_t pos;
  bool found = FindEndRecord(Archiver->Signatures().end, pos);
  return Archiver->OpenDamagedArchives || found;
}

uint32_t TAFDirManager::FirstDisk() const {
  if (EndRecord.DirectoryDisk() != 0xFFFF) return EndRecord.DirectoryDisk();
  return IsZip64 ? Zip64EndRecord.DirectoryDisk() : 0;
}

uint32_t TAFDirManager::LastDisk() const {
  if (EndRecord.ThisDisk() != 0xFFFF) return EndRecord.ThisDisk();
  return IsZip64 && Zip64Locator.TotalDisks() > 0 ? Zip64Locator.TotalDisks() - 1 : 0;
}

afp::WideString TAFDirManager::DecodeName(const std::string& raw, uint16_t flags) const {
  bool oem = StandardEndFound && Archiver->Options().OEMFileNames && !(flags & kFlagUtf8);
  return DecodeItemName(raw, Archiver->CodePages, oem);
}

void TAFDirManager::ReadDirectory() {
  ResetDirectory();
  StubLength = 0;
  Recovered = false;
  StandardEndFound = false;
  int64_t e = -1;
  bool found;
  if (Archiver->StandardSignatures()) {
    found = FindEndRecord(kSigEnd, e);
  } else {
    found = FindEndRecord(kAltSigEnd, e);
    if (!found) found = FindEndRecord(kSigEnd, e);
  }
  if (!found) {
    RecoveryScan(StandardEndFound);
    return;
  }
  StandardEndFound = EndRecord.Signature() == kSigEnd;
  int64_t w = e;
  IsZip64 = false;
  if (w > 20) {
    ArchiveStream->SetPosition(w - 20);
    ArchiveStream->ReadBuffer(Zip64Locator.data(), 20);
    if (Zip64Locator.Signature() == kSigZip64Locator) {
      IsZip64 = true;
      w -= 20;
    }
  }
  if (IsZip64) {
    bool ok = false;
    if (w > 56) {
      ArchiveStream->SetPosition(static_cast<int64_t>(Zip64Locator.EndRecordOffset()));
      if (ArchiveStream->Read(Zip64EndRecord.data(), 56) == 56 && Zip64EndRecord.Signature() == kSigZip64End) {
        ok = true;
        w -= 56;
      }
    }
    if (!ok) throw EAFException::Create(NativeError::kNoZip64EndRecord);
  }
  const bool volumes = Archiver->SpanningMode() != smNone;
  if (volumes && !ExternalStream) {
    ReadVolumeDirectory();
    return;
  }
  Archiver->VolumeInfo().LastVolumeNumber = static_cast<int32_t>(LastDisk());
  Archiver->VolumeInfo().SetNumber(static_cast<int32_t>(FirstDisk()));

  int64_t start, count;
  if (IsZip64) {
    start = w - static_cast<int64_t>(Zip64EndRecord.DirectorySize());
    count = static_cast<int64_t>(Zip64EndRecord.TotalEntries() & 0xFFFFFFFF);
  } else {
    // Without a ZIP64 record an all-ones count is a count: Info-ZIP writes
    // exactly 65,535 items so.
    start = e - static_cast<int64_t>(EndRecord.DirectorySize());
    count = EndRecord.TotalEntries();
  }
  try {
    // A count that the directory bytes cannot hold is a damaged record, not
    // a reason to allocate millions of items.
    if (start < 0 || count * 46 > w - start) throw EReadError("Central directory is cut short");
    ArchiveStream->SetPosition(start);
    Items.SetCount(static_cast<int>(count));
    ReadCentralHeaders(count);
    // An end record may count fewer entries than its directory holds (a
    // damaged or doctored count): every central header the directory's size
    // covers is read, so that no item hides from a listing or a test.
    const uint32_t central = Archiver->Signatures().central;
    for (;;) {
      int64_t at = ArchiveStream->Position();
      uint8_t sig[4];
      if (w - at < 46 || ArchiveStream->Read(sig, 4) != 4) break;
      ArchiveStream->SetPosition(at);
      if (GetU32(sig) != central && GetU32(sig) != kSigCentral) break;
      Items.SetCount(Items.Count() + 1);
      Items.ItemRef(Items.Count() - 1) = TDirItem();
      ReadCentralHeader(Items.Count() - 1);
      ExtraEntriesFound = true;
    }
  } catch (const std::exception&) {
    if (!Archiver->OpenDamagedArchives) throw;
    RecoveryScan(true);
    return;
  }
  if (!Archiver->OpenDamagedArchives && !volumes) {
    int64_t sum = 0;
    for (int i = 0; i < Items.Count(); ++i) sum += Items.ItemRef(i).CompressedSize();
    if (sum > ArchiveStream->Size()) throw EAFException::Create(NativeError::kItemsPastArchiveEnd);
  }
  if (LastDisk() == 0) {
    DetectStub(w);
    ShiftOffsets();
  }
}

void TAFDirManager::SwitchVolume(const TAFVolumeNumberInfo& volume) {
  if (ExternalStream) return;
  Archiver->SelectVolume(volume);
  ArchiveStream = Archiver->ArchiveStream();
}

void TAFDirManager::ReadVolumeDirectory() {
  TAFVolumeNumberInfo first;
  first.LastVolumeNumber = static_cast<int32_t>(LastDisk());
  first.SetNumber(static_cast<int32_t>(FirstDisk()));
  if (first.VolumeNumber == 0) first.MarkFirst();
  SwitchVolume(first);
  const int64_t count =
      IsZip64 ? static_cast<int64_t>(Zip64EndRecord.TotalEntries() & 0xFFFFFFFF) : EndRecord.TotalEntries();
  const int64_t start = IsZip64 ? static_cast<int64_t>(Zip64EndRecord.DirectoryOffset()) : EndRecord.DirectoryOffset();
  // The headers are read as they come, over as many volumes as they fill;
  // the array grows with them, so a count the volumes cannot hold ends in a
  // read error rather than in millions of empty items.
  TVolumeReader across(*Archiver);
  TStream* last_volume = ArchiveStream;
  ArchiveStream = &across;
  try {
    ArchiveStream->SetPosition(start);
    for (int64_t i = 0; i < count; ++i) {
      if (i >= Items.Count()) Items.SetCount(static_cast<int>(std::min<int64_t>(count, Items.Count() * 2LL + 1024)));
      if (i == 0) DirectoryOffset = start;
      ReadCentralHeader(static_cast<int>(i));
    }
  } catch (...) {
    ArchiveStream = Archiver->ArchiveStream() ? Archiver->ArchiveStream() : last_volume;
    throw;
  }
  ArchiveStream = Archiver->ArchiveStream();
}

void TAFDirManager::ReadCentralHeaders(int64_t count) {
  for (int i = 0; i < count; ++i) {
    if (i == 0) DirectoryOffset = ArchiveStream->Position();
    ReadCentralHeader(i);
  }
}

void TAFDirManager::ReadCentralHeader(int i) {
  std::string raw;
  TDirItem& item = Items.ItemRef(i);
  ArchiveStream->ReadBuffer(item.HeaderImage.data(), 46);
  const TCentralHeader& h = item.HeaderImage;
  // Bytes that are not a central header (a zeroed or overwritten directory)
  // must not become items; the caller falls back to recovery.
  if (h.Signature() != kSigCentral && h.Signature() != Archiver->Signatures().central)
    throw EReadError("Not a central directory header");
  if ((h.Flags() & kFlagEncrypted) && h.VersionNeeded() < kAltVersion) item.CryptoAlgorithm = caPkzipClassic;
  item.ActualMethod = h.Method();
  raw.resize(h.NameLength());
  if (h.NameLength()) ArchiveStream->ReadBuffer(raw.data(), h.NameLength());
  Items.RenameItem(i, h.NameLength() ? DecodeName(raw, h.Flags()) : afp::WideString());
  if (h.ExtraLength()) ReadItemExtra(i, h.ExtraLength(), raw);
  TDirItem& again = Items.ItemRef(i);
  if (again.HeaderImage.CommentLength()) {
    again.Comment.resize(again.HeaderImage.CommentLength());
    ArchiveStream->ReadBuffer(again.Comment.data(), again.HeaderImage.CommentLength());
  } else {
    again.Comment.clear();
  }
}

void TAFDirManager::ReadItemExtra(int index, uint16_t length, const std::string& raw_name) {
  std::vector<uint8_t> area(length);
  ArchiveStream->ReadBuffer(area.data(), length);
  TDirItem& item = Items.ItemRef(index);
  item.HasZip64 = false;
  item.ExtraFields = ParseExtraArea(area.data(), area.size());
  bool unicode_name_set = false;
  // The component's own unicode-name field wins over Info-ZIP's, wherever each sits.
  for (const auto& f : Items.ItemRef(index).ExtraFields)
    if (f.Id != kExtraInfoZipUnicodePath) InterpretExtra(Items.ItemRef(index), index, f, raw_name, unicode_name_set);
  if (!unicode_name_set)
    for (const auto& f : Items.ItemRef(index).ExtraFields)
      if (f.Id == kExtraInfoZipUnicodePath) InterpretExtra(Items.ItemRef(index), index, f, raw_name, unicode_name_set);
}

void TAFDirManager::InterpretExtra(TDirItem& item, int index, const TExtraField& f, const std::string& raw_name,
                                   bool& unicode_name_set) {
  const uint8_t* d = f.Data.data();
  size_t n = f.Data.size();
  switch (f.Id) {
    case kExtraZip64: {
      TZip64Values v = ReadZip64Central(d, n, item.HeaderImage);
      if (v.uncompressed) item.UncompressedSize64 = static_cast<int64_t>(*v.uncompressed);
      if (v.compressed) item.CompressedSize64 = static_cast<int64_t>(*v.compressed);
      if (v.local_offset) item.LocalHeaderOffset64 = static_cast<int64_t>(*v.local_offset);
      if (v.disk_start) item.DiskNumberStart64 = *v.disk_start;
      item.HasZip64 = true;
      break;
    }
    case kExtraUnicodeName: {
      afp::WideString name;
      if (ParseUnicodeNameField(d, n, name)) {
        Items.RenameItem(index, name);
        unicode_name_set = true;
      }
      break;
    }
    case kExtraInfoZipUnicodePath: {
      afp::WideString name;
      if (ParseInfoZipUnicodePath(d, n, raw_name, name)) {
        Items.RenameItem(index, name);
        unicode_name_set = true;
      }
      break;
    }
    case kExtraAES: {
      // A field shorter than its 7 bytes carries nothing usable.
      if (item.HeaderImage.VersionNeeded() < kAltVersion && n >= 7) {
        uint8_t strength = d[4];
        if (strength >= 1 && strength <= 3) item.CryptoAlgorithm = static_cast<TAFCryptoAlgorithm>(strength);
        item.ActualMethod = GetU16(d + 5);
      }
      break;
    }
    default: break;
  }
}

int64_t TAFDirManager::SearchSignature(uint32_t signature, int64_t from, size_t block, int64_t min_tail) {
  int64_t size = ArchiveStream->Size();
  uint8_t sig[4];
  PutU32(sig, signature);
  std::vector<uint8_t> buf(block);
  int64_t pos = std::max<int64_t>(from, 0);
  while (pos < size) {
    ArchiveStream->SetPosition(pos);
    int64_t got = ArchiveStream->Read(buf.data(), static_cast<int64_t>(block));
    if (got < 4) break;
    for (int64_t i = 0; i + 4 <= got; ++i) {
      if (buf[i] == sig[0] && buf[i + 1] == sig[1] && buf[i + 2] == sig[2] && buf[i + 3] == sig[3]) {
        if (size - (pos + i) >= min_tail) return pos + i;
      }
    }
    if (pos + got >= size) break;
    pos += got - 3;
  }
  return -1;
}

void TAFDirManager::DetectStub(int64_t w) {
  if (EndRecord.TotalEntries() == 0 || Items.Count() == 0) {
    StubLength = w;
    return;
  }
  const TDirItem& first = Items.ItemRef(0);
  const TCentralHeader& c = first.HeaderImage;
  int64_t pos = first.LocalHeaderOffset();
  int64_t size = ArchiveStream->Size();
  uint32_t local_sig = Archiver->Signatures().local;
  while (pos >= 0 && pos < size) {
    int64_t h = SearchSignature(local_sig, pos, kStubBlock, 4);
    if (h < 0) return;
    TLocalHeader l;
    ArchiveStream->SetPosition(h);
    bool ok = ArchiveStream->Read(l.data(), 30) == 30;
    if (ok) {
      std::string name(l.NameLength(), '\0');
      ok = ArchiveStream->Read(name.data(), l.NameLength()) == l.NameLength();
    }
    ok = ok && (l.Signature() == kSigLocal || l.Signature() == kAltSigLocal);
    if (ok && h != 0) {
      ok = l.VersionNeeded() == c.VersionNeeded() && l.Method() == c.Method() && l.Time() == c.Time() &&
           l.Date() == c.Date() && l.Crc32() == c.Crc32() && l.CompressedSize() == c.CompressedSize() &&
           l.UncompressedSize() == c.UncompressedSize();
    }
    if (ok) {
      StubLength = h;
      return;
    }
    pos = h + 1;
  }
}

void TAFDirManager::ShiftOffsets() {
  int first = -1;
  for (int i = 0; i < Items.Count(); ++i)
    if (Items.ItemRef(i).HeaderImage.CompressedSize() != 0) {
      first = i;
      break;
    }
  if (first < 0 || Items.ItemRef(first).LocalHeaderOffset() >= StubLength) return;
  for (int i = 0; i < Items.Count(); ++i) {
    TDirItem& item = Items.ItemRef(i);
    if (OffsetLeftUnshifted(item)) continue;
    // A ZIP64 offset lives in the 64-bit field; shifting the all-ones
    // placeholder would wrap it.
    if (item.HeaderImage.LocalHeaderOffset() == 0xFFFFFFFF) item.LocalHeaderOffset64 += StubLength;
    else item.HeaderImage.SetLocalHeaderOffset(static_cast<uint32_t>(item.HeaderImage.LocalHeaderOffset() + StubLength));
  }
}

std::vector<std::vector<int64_t>> TAFDirManager::ScanSignatures(const std::vector<uint32_t>& signatures,
                                                                const std::vector<int64_t>& min_tails) {
  std::vector<std::vector<int64_t>> hits(signatures.size());
  const int64_t size = ArchiveStream->Size();
  std::vector<uint8_t> buf(kRecoveryBlock);
  int64_t pos = 0;
  while (pos < size) {
    ArchiveStream->SetPosition(pos);
    int64_t got = ArchiveStream->Read(buf.data(), static_cast<int64_t>(buf.size()));
    if (got < 4) break;
    for (int64_t i = 0; i + 4 <= got; ++i) {
      if (buf[i] != 'P' && buf[i] != 'A') continue;  // both signature sets start so
      uint32_t v = GetU32(buf.data() + i);
      for (size_t s = 0; s < signatures.size(); ++s)
        if (v == signatures[s] && size - (pos + i) >= min_tails[s]) hits[s].push_back(pos + i);
    }
    if (pos + got >= size) break;
    pos += got - 3;
  }
  return hits;
}

// Rebuilding the directory from local headers:
//  1. One pass over the file collects every local header signature and every
//     data descriptor signature, so the work stays linear however many
//     headers a hostile file holds.
//  2. Each local header becomes an item, named by its own name bytes; a name
//     met before is a second copy (or a signature inside data) and is left
//     out, while an empty name is kept.
//  3. An item is a folder only when its name ends in a separator; an empty
//     file stays a file.
//  4. An item whose data would run past the end of the file is kept: it was
//     cut short, and decoding it reports the damage.
//  5. With flag bit 3 the first data descriptor after the header gives the
//     sizes and CRC.
void TAFDirManager::RecoveryScan(bool end_candidate_met) {
  Items.Clear();
  Items.SetCount(0);
  Recovered = true;
  if (Archiver->SpanningMode() != smNone) throw EAFException::Create(NativeError::kVolumesNotRecoverable);
  uint32_t local_sig = Archiver->Signatures().local;
  auto hits = ScanSignatures({local_sig, kSigLocal, kSigDataDescriptor}, {30, 30, 16});
  std::vector<int64_t>& headers = hits[0].empty() && !Archiver->StandardSignatures() ? hits[1] : hits[0];
  const std::vector<int64_t>& descriptors = hits[2];
  if (headers.empty()) throw EAFException::Create(NativeError::kInvalidArchiveFile);
  StandardEndFound = end_candidate_met;
  const int64_t size = ArchiveStream->Size();
  std::string raw;
  for (int64_t p : headers) {
    TLocalHeader l;
    ArchiveStream->SetPosition(p);
    ArchiveStream->ReadBuffer(l.data(), 30);
    if (l.ExtraLength() > 260) continue;
    afp::WideString name;
    raw.clear();
    if (l.NameLength() && size - (p + 30) >= l.NameLength()) {
      raw.resize(l.NameLength());
      ArchiveStream->ReadBuffer(raw.data(), l.NameLength());
      name = DecodeName(raw, l.Flags());
    }
    int existing;
    if (!name.empty() && Items.FindName(name, existing)) continue;
    int i = Items.Count();
    Items.SetCount(i + 1);
    TDirItem& item = Items.ItemRef(i);
    item = TDirItem();
    TCentralHeader& h = item.HeaderImage;
    h.SetSignature(kSigCentral);
    h.SetVersionMadeBy(l.VersionNeeded());
    h.SetVersionNeeded(l.VersionNeeded());
    h.SetFlags(l.Flags());
    h.SetMethod(l.Method());
    h.SetTime(l.Time());
    h.SetDate(l.Date());
    h.SetCrc32(l.Crc32());
    h.SetCompressedSize(l.CompressedSize());
    h.SetUncompressedSize(l.UncompressedSize());
    h.SetNameLength(l.NameLength());
    h.SetExtraLength(l.ExtraLength());
    const bool folder = !name.empty() && (name.back() == u'/' || name.back() == u'\\');
    h.SetExternalAttributes(folder ? 16 : 32);
    h.SetLocalHeaderOffset(p >= 0xFFFFFFFF ? 0xFFFFFFFF : static_cast<uint32_t>(p));
    item.LocalHeaderOffset64 = p;
    item.ActualMethod = l.Method();
    if ((l.Flags() & kFlagEncrypted) && l.VersionNeeded() < kAltVersion) item.CryptoAlgorithm = caPkzipClassic;
    Items.RenameItem(i, name);
    ArchiveStream->SetPosition(p + 30 + l.NameLength());
    if (l.ExtraLength() && size - ArchiveStream->Position() >= l.ExtraLength()) ReadItemExtra(i, l.ExtraLength(), raw);
    if (l.Flags() & kFlagDataDescriptor) {
      auto d = std::lower_bound(descriptors.begin(), descriptors.end(), p);
      if (d != descriptors.end()) {
        TDataDescriptor dd;
        ArchiveStream->SetPosition(*d);
        ArchiveStream->ReadBuffer(dd.data(), 16);
        TCentralHeader& hh = Items.ItemRef(i).HeaderImage;
        hh.SetCrc32(dd.Crc32());
        hh.SetCompressedSize(dd.CompressedSize());
        hh.SetUncompressedSize(dd.UncompressedSize());
      }
    }
  }
  DirectoryOffset = size;
}

void TAFDirManager::WriteDirectory(TStream* stream) {
  if (stream) ArchiveStream = stream;
  TStream& out = *ArchiveStream;
  int64_t s = out.Seek(0, SeekOrigin::End);
  uint32_t volume = static_cast<uint32_t>(std::max(Archiver->VolumeInfo().VolumeNumber, 0));
  EndRecord.SetDirectoryDisk(volume >= 0xFFFF ? 0xFFFF : static_cast<uint16_t>(volume));
  DirectoryOffset = s;
  std::vector<uint8_t> buf;
  buf.reserve(1 << 20);
  auto flush = [&] {
    out.WriteBuffer(buf.data(), static_cast<int64_t>(buf.size()));
    buf.clear();
  };
  const bool oem_names = Archiver->Options().OEMFileNames;
  for (int i = 0; i < Items.Count(); ++i) {
    TDirItem& item = Items.ItemRef(i);
    TCentralHeader& h = item.HeaderImage;
    size_t zip64 = Zip64CentralSize(h);
    size_t extra_len = zip64;
    for (const auto& f : item.ExtraFields)
      if (f.Id != kExtraZip64) extra_len += f.Size + 4u;
    h.SetExtraLength(static_cast<uint16_t>(extra_len));
    TStoredName stored = EncodeItemName(item.ItemName, Archiver->CodePages, oem_names, (h.Flags() & kFlagUtf8) != 0);
    if (stored.utf8) h.SetFlags(h.Flags() | kFlagUtf8);
    h.SetNameLength(static_cast<uint16_t>(stored.bytes.size()));
    h.SetCommentLength(static_cast<uint16_t>(item.Comment.size()));
    buf.insert(buf.end(), h.bytes.begin(), h.bytes.end());
    buf.insert(buf.end(), stored.bytes.begin(), stored.bytes.end());
    if (zip64) {
      auto z = BuildZip64Central(h, static_cast<uint64_t>(item.UncompressedSize64),
                                 static_cast<uint64_t>(item.CompressedSize64),
                                 static_cast<uint64_t>(item.LocalHeaderOffset64), item.DiskNumberStart64);
      buf.insert(buf.end(), z.begin(), z.end());
    }
    for (const auto& f : item.ExtraFields) {
      if (f.Id == kExtraZip64) continue;
      uint8_t fh[4];
      PutU16(fh, f.Id);
      PutU16(fh + 2, f.Size);
      buf.insert(buf.end(), fh, fh + 4);
      buf.insert(buf.end(), f.Data.begin(), f.Data.begin() + std::min<size_t>(f.Size, f.Data.size()));
    }
    buf.insert(buf.end(), item.Comment.begin(), item.Comment.end());
    if (buf.size() >= (1u << 20)) flush();
  }
  flush();
  WriteEndRecords(out, s);
}

void TAFDirManager::WriteEndRecords(TStream& out, int64_t s) {
  const uint32_t volume = static_cast<uint32_t>(std::max(Archiver->VolumeInfo().VolumeNumber, 0));
  WriteEndRecords(out, s, volume, out.Position() - s, volume);
}

void TAFDirManager::WriteEndRecords(TStream& out, int64_t s, uint32_t dir_disk, int64_t d, uint32_t volume) {
  auto disk16 = [](uint32_t v) { return v >= 0xFFFF ? uint16_t{0xFFFF} : static_cast<uint16_t>(v); };
  EndRecord.SetDirectoryDisk(disk16(dir_disk));
  DirectoryOffset = s;
  int64_t pos = out.Position();
  int64_t count = Items.Count();
  uint16_t count16 = count >= 0xFFFF ? 0xFFFF : static_cast<uint16_t>(count);
  EndRecord.SetSignature(Archiver->Signatures().end);
  EndRecord.SetEntriesOnDisk(count16);
  EndRecord.SetTotalEntries(count16);
  EndRecord.SetDirectorySize(d >= 0xFFFFFFFFLL ? 0xFFFFFFFF : static_cast<uint32_t>(d));
  EndRecord.SetDirectoryOffset(s >= 0xFFFFFFFFLL ? 0xFFFFFFFF : static_cast<uint32_t>(s));
  EndRecord.SetCommentLength(static_cast<uint16_t>(Comment.size()));
  EndRecord.SetThisDisk(disk16(volume));
  IsZip64 = false;
  if (pos >= 0xFFFFFFFFLL || count >= 0xFFFF || volume >= 0xFFFF || dir_disk >= 0xFFFF) {
    Zip64EndRecord.Set(volume, static_cast<uint64_t>(count), static_cast<uint64_t>(d), static_cast<uint64_t>(s));
    Zip64EndRecord.SetU32(20, dir_disk);
    out.WriteBuffer(Zip64EndRecord.data(), 56);
    Zip64Locator.Set(volume, static_cast<uint64_t>(pos), volume + 1);
    out.WriteBuffer(Zip64Locator.data(), 20);
    IsZip64 = true;
  }
  out.WriteBuffer(EndRecord.data(), 22);
  if (!Comment.empty()) out.WriteBuffer(Comment.data(), static_cast<int64_t>(Comment.size()));
}

}  // namespace arcfold
