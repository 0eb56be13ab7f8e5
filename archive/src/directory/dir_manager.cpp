#include "directory/dir_manager.h"

#include <algorithm>
#include <string>
#include <vector>

#include "arcfold/exception.h"
#include "arcfold/stream.h"
#include "directory/name_codec.h"
#include "platform/files.h"
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

TAFDirManager::TAFDirManager(TAFVolumeSource& volumes, const TAFDirSettings& settings, bool new_archive)
    : volumes_(volumes), settings_(settings) {
  ResetDirectory();
  if (new_archive) {
    volumes_.VolumeInfo().MarkFirst();
    if (!settings_.StubFile().empty()) CopyStub();
  }
}

TStream& TAFDirManager::In() {
  if (reading_) return *reading_;
  TStream* current = volumes_.CurrentStream();
  if (!current) throw EReadError("No volume is open");
  return *current;
}

void TAFDirManager::ResetDirectory() {
  offsets_ready_ = false;
  extra_entries_found_ = false;
  items_.Clear();
  items_.SetCount(0);
  end_record_ = TEndRecord();
  end_record_.SetSignature(settings_.Signatures().end);
}

void TAFDirManager::CopyStub() {
  TFileStream stub(settings_.StubFile(), fmOpenRead | fmShareDenyNone);
  int64_t size = stub.Size();
  if (volumes_.VolumeSpanning() != smNone) {
    int64_t limit = settings_.FirstVolumeLimit();
    if (limit >= 0 && limit < size) throw EAFException::Create(NativeError::kSFXStubExceedsVolume);
  }
  In().SetSize(0);
  In().SetPosition(0);
  In().CopyFrom(stub, 0);
  stub_length_ = size;
}

bool TAFDirManager::ValidateCandidate(int64_t p, int64_t stream_size) {
  if (stream_size - p < 22) return false;
  TEndRecord r;
  int64_t saved = In().Position();
  In().SetPosition(p);
  int64_t got = In().Read(r.data(), 22);
  In().SetPosition(saved);
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
  comment_.clear();
  TEndRecord found;
  position = -1;
  int64_t size = In().Size();
  int64_t window = std::min<int64_t>(size, kEndWindow);
  std::vector<uint8_t> buf(static_cast<size_t>(window));
  In().SetPosition(size - window);
  if (window > 0 && In().Read(buf.data(), window) != window) return false;
  uint8_t sig[4];
  PutU32(sig, signature);
  int64_t winner = -1;
  for (int64_t i = window - 1; i >= 3; --i) {
    if (buf[i] != sig[3] || buf[i - 1] != sig[2] || buf[i - 2] != sig[1] || buf[i - 3] != sig[0]) continue;
    int64_t p = size - window + (i - 3);
    if (signature == kSigEnd) standard_end_found_ = true;
    if (ValidateCandidate(p, size)) {
      winner = p;
      break;
    }
  }
  if (winner < 0 || size - winner < 22) return false;
  In().SetPosition(winner);
  In().ReadBuffer(found.data(), 22);
  if (found.CommentLength()) {
    comment_.resize(found.CommentLength());
    In().ReadBuffer(comment_.data(), found.CommentLength());
  }
  end_record_ = found;
  position = winner;
  return true;
}

const std::vector<int64_t>& TAFDirManager::SortedLocalOffsets() {
  if (!offsets_ready_) {
    // Folder entries are left out: their offsets are not shifted past a stub,
    // and they are never decoded.
    sorted_offsets_.clear();
    for (int i = 0; i < items_.Count(); ++i)
      if (!OffsetLeftUnshifted(items_.ItemRef(i))) sorted_offsets_.push_back(items_.ItemRef(i).LocalHeaderOffset());
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
  bool found = FindEndRecord(settings_.Signatures().end, pos);
  return settings_.OpenDamaged() || found;
}

uint32_t TAFDirManager::FirstDisk() const {
  if (end_record_.DirectoryDisk() != 0xFFFF) return end_record_.DirectoryDisk();
  return is_zip64_ ? zip64_end_record_.DirectoryDisk() : 0;
}

uint32_t TAFDirManager::LastDisk() const {
  if (end_record_.ThisDisk() != 0xFFFF) return end_record_.ThisDisk();
  return is_zip64_ && zip64_locator_.TotalDisks() > 0 ? zip64_locator_.TotalDisks() - 1 : 0;
}

afp::WideString TAFDirManager::DecodeName(const std::string& raw, uint16_t flags) const {
  bool oem = standard_end_found_ && settings_.OemNames() && !(flags & kFlagUtf8);
  return DecodeItemName(raw, settings_.NameCodePages(), oem);
}

bool TAFDirManager::LocateEndRecord(int64_t& position) {
  if (settings_.StandardSignatures()) return FindEndRecord(kSigEnd, position);
  return FindEndRecord(kAltSigEnd, position) || FindEndRecord(kSigEnd, position);
}

bool TAFDirManager::StartReading(int64_t& e) {
  ResetDirectory();
  stub_length_ = 0;
  recovered_ = false;
  standard_end_found_ = false;
  e = -1;
  if (!LocateEndRecord(e)) return false;
  standard_end_found_ = end_record_.Signature() == kSigEnd;
  return true;
}

void TAFDirManager::ReadDirectory() {
  int64_t e = -1;
  if (!StartReading(e)) {
    RecoveryScan(standard_end_found_);
    return;
  }
  const int64_t w = ReadZip64Records(e);
  if (volumes_.VolumeSpanning() != smNone) {
    ReadVolumeDirectory();
    return;
  }
  ReadSingleDirectory(e, w);
}

int64_t TAFDirManager::ReadZip64Records(int64_t e) {
  int64_t w = e;
  is_zip64_ = false;
  if (w > 20) {
    In().SetPosition(w - 20);
    In().ReadBuffer(zip64_locator_.data(), 20);
    if (zip64_locator_.Signature() == kSigZip64Locator) {
      is_zip64_ = true;
      w -= 20;
    }
  }
  if (!is_zip64_) return w;
  if (w > 56) {
    In().SetPosition(static_cast<int64_t>(zip64_locator_.EndRecordOffset()));
    if (In().Read(zip64_end_record_.data(), 56) == 56 && zip64_end_record_.Signature() == kSigZip64End) return w - 56;
  }
  throw EAFException::Create(NativeError::kNoZip64EndRecord);
}

bool TAFDirManager::DirectoryExtent(int64_t e, int64_t w, int64_t& start, int64_t& count) const {
  if (is_zip64_) {
    start = w - static_cast<int64_t>(zip64_end_record_.DirectorySize());
    count = static_cast<int64_t>(zip64_end_record_.TotalEntries() & 0xFFFFFFFF);
  } else {
    // Without a ZIP64 record an all-ones count is a count: Info-ZIP writes
    // exactly 65,535 items so.
    start = e - static_cast<int64_t>(end_record_.DirectorySize());
    count = end_record_.TotalEntries();
  }
  // A count that the directory bytes cannot hold is a damaged record, not
  // a reason to allocate millions of items.
  return start >= 0 && count * 46 <= w - start;
}

void TAFDirManager::ReadSingleDirectory(int64_t e, int64_t w) {
  volumes_.VolumeInfo().LastVolumeNumber = static_cast<int32_t>(LastDisk());
  volumes_.VolumeInfo().SetNumber(static_cast<int32_t>(FirstDisk()));
  int64_t start = 0, count = 0;
  const bool fits = DirectoryExtent(e, w, start, count);
  try {
    if (!fits) throw EReadError("Central directory is cut short");
    In().SetPosition(start);
    items_.SetCount(static_cast<int>(count));
    ReadCentralHeaders(count);
    ReadUncountedHeaders(w);
  } catch (const std::exception&) {
    if (!settings_.OpenDamaged()) throw;
    RecoveryScan(true);
    return;
  }
  if (!settings_.OpenDamaged()) {
    int64_t sum = 0;
    for (int i = 0; i < items_.Count(); ++i) sum += items_.ItemRef(i).CompressedSize();
    if (sum > In().Size()) throw EAFException::Create(NativeError::kItemsPastArchiveEnd);
  }
  if (LastDisk() == 0) {
    DetectStub(w);
    ShiftOffsets();
  }
}

void TAFDirManager::ReadUncountedHeaders(int64_t w) {
  // An end record may count fewer entries than its directory holds (a
  // damaged or doctored count): every central header the directory's size
  // covers is read, so that no item hides from a listing or a test.
  while (CentralHeaderFollows(w)) {
    items_.SetCount(items_.Count() + 1);
    items_.ItemRef(items_.Count() - 1) = TDirItem();
    ReadCentralHeader(items_.Count() - 1);
    extra_entries_found_ = true;
  }
}

bool TAFDirManager::CentralHeaderFollows(int64_t w) {
  const uint32_t central = settings_.Signatures().central;
  const int64_t at = In().Position();
  uint8_t sig[4];
  if (w - at < 46 || In().Read(sig, 4) != 4) return false;
  In().SetPosition(at);
  return GetU32(sig) == central || GetU32(sig) == kSigCentral;
}

bool TAFDirManager::WalkableDirectory(int64_t& w, int64_t& count) {
  int64_t e = -1;
  // Without leave to open a damaged archive the whole directory is checked
  // before any item counts, which a walk cannot do.
  if (!StartReading(e) || volumes_.VolumeSpanning() != smNone || !settings_.OpenDamaged()) return false;
  try {
    w = ReadZip64Records(e);
  } catch (const std::exception&) {
    return false;
  }
  int64_t start = 0;
  if (LastDisk() != 0 || !DirectoryExtent(e, w, start, count) || count == 0) return false;
  directory_offset_ = start;
  return true;
}

bool TAFDirManager::WalkDirectory(const std::function<bool(const TDirItem&)>& visit) {
  int64_t w = 0, count = 0;
  if (!WalkableDirectory(w, count)) return false;
  TDirItem item;
  try {
    In().SetPosition(directory_offset_);
    ReadCentralRecord(item);
  } catch (const std::exception&) {
    return false;  // no usable directory: the whole read rebuilds it
  }
  // Bytes before the first item move every offset; such archives are read
  // whole, where all offsets are shifted together.
  const int64_t next = In().Position();
  DetectStubBefore(item);
  if (stub_length_ != 0) return false;
  In().SetPosition(next);
  if (visit(item)) WalkRemainingHeaders(count, w, item, visit);
  return true;
}

bool TAFDirManager::WalkRemainingHeaders(int64_t count, int64_t w, TDirItem& item,
                                         const std::function<bool(const TDirItem&)>& visit) {
  int64_t index = 1;
  try {
    for (; index < count; ++index) {
      item = TDirItem();
      ReadCentralRecord(item);
      if (!visit(item)) return false;
    }
    for (; CentralHeaderFollows(w); ++index) {
      item = TDirItem();
      ReadCentralRecord(item);
      extra_entries_found_ = true;
      if (!visit(item)) return false;
    }
  } catch (const EReadError& e) {
    throw EReadError("Central directory damaged at item " + std::to_string(index + 1) + ": " + e.what());
  }
  return true;
}

void TAFDirManager::SwitchVolume(const TAFVolumeNumberInfo& volume) { volumes_.SelectVolume(volume); }

void TAFDirManager::ReadVolumeDirectory() {
  TAFVolumeNumberInfo first;
  first.LastVolumeNumber = static_cast<int32_t>(LastDisk());
  first.SetNumber(static_cast<int32_t>(FirstDisk()));
  if (first.VolumeNumber == 0) first.MarkFirst();
  SwitchVolume(first);
  const int64_t count =
      is_zip64_ ? static_cast<int64_t>(zip64_end_record_.TotalEntries() & 0xFFFFFFFF) : end_record_.TotalEntries();
  const int64_t start =
      is_zip64_ ? static_cast<int64_t>(zip64_end_record_.DirectoryOffset()) : end_record_.DirectoryOffset();
  // The headers are read as they come, over as many volumes as they fill;
  // the array grows with them, so a count the volumes cannot hold ends in a
  // read error rather than in millions of empty items.
  TVolumeReader across(volumes_);
  reading_ = &across;
  try {
    In().SetPosition(start);
    for (int64_t i = 0; i < count; ++i) {
      if (i >= items_.Count()) items_.SetCount(static_cast<int>(std::min<int64_t>(count, items_.Count() * 2LL + 1024)));
      if (i == 0) directory_offset_ = start;
      ReadCentralHeader(static_cast<int>(i));
    }
  } catch (...) {
    reading_ = nullptr;
    throw;
  }
  reading_ = nullptr;
}

void TAFDirManager::ReadCentralHeaders(int64_t count) {
  for (int i = 0; i < count; ++i) {
    if (i == 0) directory_offset_ = In().Position();
    ReadCentralHeader(i);
  }
}

void TAFDirManager::ReadCentralHeader(int i) {
  TDirItem& item = items_.ItemRef(i);
  ReadCentralRecord(item);
  const afp::WideString name = std::move(item.ItemName);
  item.ItemName.clear();
  items_.RenameItem(i, name);
}

void TAFDirManager::ReadCentralRecord(TDirItem& item) {
  In().ReadBuffer(item.HeaderImage.data(), 46);
  const TCentralHeader& h = item.HeaderImage;
  // Bytes that are not a central header (a zeroed or overwritten directory)
  // must not become items; the caller falls back to recovery.
  if (h.Signature() != kSigCentral && h.Signature() != settings_.Signatures().central)
    throw EReadError("Not a central directory header");
  if ((h.Flags() & kFlagEncrypted) && h.VersionNeeded() < kAltVersion) item.CryptoAlgorithm = caPkzipClassic;
  item.ActualMethod = h.Method();
  std::string raw(h.NameLength(), '\0');
  if (h.NameLength()) In().ReadBuffer(raw.data(), h.NameLength());
  item.ItemName = h.NameLength() ? DecodeName(raw, h.Flags()) : afp::WideString();
  if (h.ExtraLength()) {
    if (auto unicode = ReadItemExtra(item, h.ExtraLength(), raw)) item.ItemName = std::move(*unicode);
  }
  if (item.HeaderImage.CommentLength()) {
    std::string comment(item.HeaderImage.CommentLength(), '\0');
    In().ReadBuffer(comment.data(), item.HeaderImage.CommentLength());
    item.Comment = std::move(comment);
  } else {
    item.Comment.clear();
  }
}

std::optional<afp::WideString> TAFDirManager::ReadItemExtra(TDirItem& item, uint16_t length,
                                                            const std::string& raw_name) {
  std::vector<uint8_t> area(length);
  In().ReadBuffer(area.data(), length);
  item.HasZip64 = false;
  item.ExtraFields = ParseExtraArea(area.data(), area.size());
  std::optional<afp::WideString> unicode_name;
  // The component's own unicode-name field wins over Info-ZIP's, wherever each sits.
  for (const auto& f : item.ExtraFields)
    if (f.Id != kExtraInfoZipUnicodePath) InterpretExtra(item, f, raw_name, unicode_name);
  if (!unicode_name)
    for (const auto& f : item.ExtraFields)
      if (f.Id == kExtraInfoZipUnicodePath) InterpretExtra(item, f, raw_name, unicode_name);
  return unicode_name;
}

void TAFDirManager::InterpretExtra(TDirItem& item, const TExtraField& f, const std::string& raw_name,
                                   std::optional<afp::WideString>& unicode_name) {
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
      if (ParseUnicodeNameField(d, n, name)) unicode_name = std::move(name);
      break;
    }
    case kExtraInfoZipUnicodePath: {
      afp::WideString name;
      if (ParseInfoZipUnicodePath(d, n, raw_name, name)) unicode_name = std::move(name);
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
  int64_t size = In().Size();
  uint8_t sig[4];
  PutU32(sig, signature);
  std::vector<uint8_t> buf(block);
  int64_t pos = std::max<int64_t>(from, 0);
  while (pos < size) {
    In().SetPosition(pos);
    int64_t got = In().Read(buf.data(), static_cast<int64_t>(block));
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
  if (end_record_.TotalEntries() == 0 || items_.Count() == 0) {
    stub_length_ = w;
    return;
  }
  DetectStubBefore(items_.ItemRef(0));
}

void TAFDirManager::DetectStubBefore(const TDirItem& first) {
  const TCentralHeader& c = first.HeaderImage;
  int64_t pos = first.LocalHeaderOffset();
  int64_t size = In().Size();
  uint32_t local_sig = settings_.Signatures().local;
  while (pos >= 0 && pos < size) {
    int64_t h = SearchSignature(local_sig, pos, kStubBlock, 4);
    if (h < 0) return;
    TLocalHeader l;
    In().SetPosition(h);
    bool ok = In().Read(l.data(), 30) == 30;
    if (ok) {
      std::string name(l.NameLength(), '\0');
      ok = In().Read(name.data(), l.NameLength()) == l.NameLength();
    }
    ok = ok && (l.Signature() == kSigLocal || l.Signature() == kAltSigLocal);
    if (ok && h != 0) {
      ok = l.VersionNeeded() == c.VersionNeeded() && l.Method() == c.Method() && l.Time() == c.Time() &&
           l.Date() == c.Date() && l.Crc32() == c.Crc32() && l.CompressedSize() == c.CompressedSize() &&
           l.UncompressedSize() == c.UncompressedSize();
    }
    if (ok) {
      stub_length_ = h;
      return;
    }
    pos = h + 1;
  }
}

void TAFDirManager::ShiftOffsets() {
  int first = -1;
  for (int i = 0; i < items_.Count(); ++i)
    if (items_.ItemRef(i).HeaderImage.CompressedSize() != 0) {
      first = i;
      break;
    }
  if (first < 0 || items_.ItemRef(first).LocalHeaderOffset() >= stub_length_) return;
  for (int i = 0; i < items_.Count(); ++i) {
    TDirItem& item = items_.ItemRef(i);
    if (OffsetLeftUnshifted(item)) continue;
    // A ZIP64 offset lives in the 64-bit field; shifting the all-ones
    // placeholder would wrap it.
    if (item.HeaderImage.LocalHeaderOffset() == 0xFFFFFFFF)
      item.LocalHeaderOffset64 += stub_length_;
    else
      item.HeaderImage.SetLocalHeaderOffset(static_cast<uint32_t>(item.HeaderImage.LocalHeaderOffset() + stub_length_));
  }
}

std::vector<std::vector<int64_t>> TAFDirManager::ScanSignatures(const std::vector<uint32_t>& signatures,
                                                                const std::vector<int64_t>& min_tails) {
  std::vector<std::vector<int64_t>> hits(signatures.size());
  const int64_t size = In().Size();
  std::vector<uint8_t> buf(kRecoveryBlock);
  int64_t pos = 0;
  while (pos < size) {
    In().SetPosition(pos);
    int64_t got = In().Read(buf.data(), static_cast<int64_t>(buf.size()));
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
  items_.Clear();
  items_.SetCount(0);
  recovered_ = true;
  if (volumes_.VolumeSpanning() != smNone) throw EAFException::Create(NativeError::kVolumesNotRecoverable);
  uint32_t local_sig = settings_.Signatures().local;
  auto hits = ScanSignatures({local_sig, kSigLocal, kSigDataDescriptor}, {30, 30, 16});
  std::vector<int64_t>& headers = hits[0].empty() && !settings_.StandardSignatures() ? hits[1] : hits[0];
  const std::vector<int64_t>& descriptors = hits[2];
  if (headers.empty()) throw EAFException::Create(NativeError::kInvalidArchiveFile);
  standard_end_found_ = end_candidate_met;
  for (int64_t p : headers) RecoverItem(p, descriptors);
  directory_offset_ = In().Size();
}

namespace {

// The central header of an item known only by its local header at pos.
void FillRecoveredHeader(TDirItem& item, const TLocalHeader& l, int64_t pos, const afp::WideString& name) {
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
  h.SetLocalHeaderOffset(pos >= 0xFFFFFFFF ? 0xFFFFFFFF : static_cast<uint32_t>(pos));
  item.LocalHeaderOffset64 = pos;
  item.ActualMethod = l.Method();
  if ((l.Flags() & kFlagEncrypted) && l.VersionNeeded() < kAltVersion) item.CryptoAlgorithm = caPkzipClassic;
}

}  // namespace

bool TAFDirManager::RecoverItem(int64_t p, const std::vector<int64_t>& descriptors) {
  const int64_t size = In().Size();
  TLocalHeader l;
  In().SetPosition(p);
  In().ReadBuffer(l.data(), 30);
  if (l.ExtraLength() > 260) return false;
  afp::WideString name;
  std::string raw;
  if (l.NameLength() && size - (p + 30) >= l.NameLength()) {
    raw.resize(l.NameLength());
    In().ReadBuffer(raw.data(), l.NameLength());
    name = DecodeName(raw, l.Flags());
  }
  int existing;
  if (!name.empty() && items_.FindName(name, existing)) return false;
  int i = items_.Count();
  items_.SetCount(i + 1);
  TDirItem& item = items_.ItemRef(i);
  item = TDirItem();
  FillRecoveredHeader(item, l, p, name);
  items_.RenameItem(i, name);
  In().SetPosition(p + 30 + l.NameLength());
  if (l.ExtraLength() && size - In().Position() >= l.ExtraLength()) {
    if (auto unicode = ReadItemExtra(items_.ItemRef(i), l.ExtraLength(), raw)) items_.RenameItem(i, *unicode);
  }
  if (l.Flags() & kFlagDataDescriptor) ApplyDataDescriptor(i, p, descriptors);
  return true;
}

void TAFDirManager::ApplyDataDescriptor(int index, int64_t p, const std::vector<int64_t>& descriptors) {
  auto d = std::lower_bound(descriptors.begin(), descriptors.end(), p);
  if (d == descriptors.end()) return;
  TDataDescriptor dd;
  In().SetPosition(*d);
  In().ReadBuffer(dd.data(), 16);
  TCentralHeader& hh = items_.ItemRef(index).HeaderImage;
  hh.SetCrc32(dd.Crc32());
  hh.SetCompressedSize(dd.CompressedSize());
  hh.SetUncompressedSize(dd.UncompressedSize());
}

void TAFDirManager::WriteDirectory(TStream* stream) {
  TStream& out = stream ? *stream : In();
  int64_t s = out.Seek(0, SeekOrigin::End);
  uint32_t volume = static_cast<uint32_t>(std::max(volumes_.VolumeInfo().VolumeNumber, 0));
  end_record_.SetDirectoryDisk(volume >= 0xFFFF ? 0xFFFF : static_cast<uint16_t>(volume));
  directory_offset_ = s;
  std::vector<uint8_t> buf;
  buf.reserve(1 << 20);
  auto flush = [&] {
    out.WriteBuffer(buf.data(), static_cast<int64_t>(buf.size()));
    buf.clear();
  };
  const bool oem_names = settings_.OemNames();
  for (int i = 0; i < items_.Count(); ++i) {
    TDirItem& item = items_.ItemRef(i);
    TCentralHeader& h = item.HeaderImage;
    size_t zip64 = Zip64CentralSize(h);
    size_t extra_len = zip64;
    for (const auto& f : item.ExtraFields)
      if (f.Id != kExtraZip64) extra_len += f.Size + 4u;
    h.SetExtraLength(static_cast<uint16_t>(extra_len));
    TStoredName stored =
        EncodeItemName(item.ItemName, settings_.NameCodePages(), oem_names, (h.Flags() & kFlagUtf8) != 0);
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
  const uint32_t volume = static_cast<uint32_t>(std::max(volumes_.VolumeInfo().VolumeNumber, 0));
  WriteEndRecords(out, s, volume, out.Position() - s, volume);
}

void TAFDirManager::WriteEndRecords(TStream& out, int64_t s, uint32_t dir_disk, int64_t d, uint32_t volume) {
  auto disk16 = [](uint32_t v) { return v >= 0xFFFF ? uint16_t{0xFFFF} : static_cast<uint16_t>(v); };
  end_record_.SetDirectoryDisk(disk16(dir_disk));
  directory_offset_ = s;
  int64_t pos = out.Position();
  int64_t count = items_.Count();
  uint16_t count16 = count >= 0xFFFF ? 0xFFFF : static_cast<uint16_t>(count);
  end_record_.SetSignature(settings_.Signatures().end);
  end_record_.SetEntriesOnDisk(count16);
  end_record_.SetTotalEntries(count16);
  end_record_.SetDirectorySize(d >= 0xFFFFFFFFLL ? 0xFFFFFFFF : static_cast<uint32_t>(d));
  end_record_.SetDirectoryOffset(s >= 0xFFFFFFFFLL ? 0xFFFFFFFF : static_cast<uint32_t>(s));
  end_record_.SetCommentLength(static_cast<uint16_t>(comment_.size()));
  end_record_.SetThisDisk(disk16(volume));
  is_zip64_ = false;
  if (pos >= 0xFFFFFFFFLL || count >= 0xFFFF || volume >= 0xFFFF || dir_disk >= 0xFFFF) {
    zip64_end_record_.Set(volume, static_cast<uint64_t>(count), static_cast<uint64_t>(d), static_cast<uint64_t>(s));
    zip64_end_record_.SetU32(20, dir_disk);
    out.WriteBuffer(zip64_end_record_.data(), 56);
    zip64_locator_.Set(volume, static_cast<uint64_t>(pos), volume + 1);
    out.WriteBuffer(zip64_locator_.data(), 20);
    is_zip64_ = true;
  }
  out.WriteBuffer(end_record_.data(), 22);
  if (!comment_.empty()) out.WriteBuffer(comment_.data(), static_cast<int64_t>(comment_.size()));
}

}  // namespace arcfold
