#include "items/commit.h"

#include <algorithm>
#include <cstring>
#include <map>

#include "arcfold/arcfold.h"
#include "codec/decode.h"
#include "codec/encode.h"
#include "component/session.h"
#include "directory/dir_manager.h"
#include "directory/name_codec.h"
#include "items/commit_plan.h"
#include "items/path_parts.h"
#include "platform/file_io.h"
#include "platform/files.h"

namespace arcfold {

namespace {

bool IsUnicodeNameField(uint16_t id) { return id == kExtraUnicodeName || id == kExtraInfoZipUnicodePath; }

// The extra area without the unicode-name fields: they name the old name and
// would contradict a new one.
std::vector<uint8_t> WithoutUnicodeNames(const std::vector<uint8_t>& area) {
  TExtraFieldList fields = ParseExtraArea(area.data(), area.size());
  fields.erase(std::remove_if(fields.begin(), fields.end(), [](const TExtraField& f) { return IsUnicodeNameField(f.Id); }),
               fields.end());
  return BuildExtraArea(fields);
}

void Append(std::vector<uint8_t>& out, const void* data, size_t n) {
  if (n == 0) return;
  const size_t at = out.size();
  out.resize(at + n);
  std::memcpy(out.data() + at, data, n);
}

// The header bytes of a name being written. A caller that asks for Unicode
// names wants them read the same by every tool: a name beyond plain ASCII
// then goes as UTF-8 with flag bit 11 even where a code page would hold it,
// since other readers guess a code page of their own for unflagged bytes.
TStoredName StoredNameOf(const ArchiveSession& a, std::u16string_view name) {
  const bool beyond_ascii = std::any_of(name.begin(), name.end(), [](char16_t c) { return c >= 0x80; });
  return EncodeItemName(name, a.CodePages, a.options_.OEMFileNames, a.unicode_filenames_ && beyond_ascii, 0xFFFF);
}

// From this many items on, only the ZIP64 end records hold the count.
constexpr int kZip64ItemCount = 0xFFFF;

// Whether the commit would grow the archive to a count that needs the ZIP64
// end records while ZIP64 is switched off. An archive that holds that many
// already may still lose, replace or rename items.
bool GrowsPastClassicCount(const TAFBaseArchiver& a, int count, int saved_count) {
  return a.Zip64Mode() == zmDisabled && count >= kZip64ItemCount && count > saved_count;
}

}  // namespace

TCommit::TCommit(ArchiveSession& archiver) : a_(archiver), dir_(*archiver.dir_), plan_(std::make_unique<Plan>()) {}
TCommit::~TCommit() = default;

bool TCommit::FindFirstChange() {
  TAFDirArray& items = dir_.Items();
  TAFDirArray& saved = dir_.SavedItems();
  Plan& p = *plan_;
  const int n = items.Count();
  p.saved.assign(n, -1);
  p.renamed.assign(n, 0);
  p.offset.assign(n, 0);
  p.name_bytes.assign(n, std::string());
  p.utf8.assign(n, 0);
  p.first = std::min(n, saved.Count());
  for (int i = 0; i < n; ++i) {
    const TDirItem& it = items.ItemRef(i);
    const bool pending = it.Source && it.Source->IsPending;
    // The saved item this one was, by position: names may repeat (two
    // items of one name, or names that differ in case only).
    const int s = it.SavedIndex < saved.Count() ? it.SavedIndex : -1;
    if (!pending && s < 0) throw EAFException::Create(NativeError::kSavedItemOutOfBounds, &a_.facade_);
    p.renamed[i] = s >= 0 && it.ItemName != saved.ItemRef(s).ItemName;
    p.saved[i] = pending ? -1 : s;
    const bool changed = pending || p.renamed[i] || i >= saved.Count() || s != i;
    if (changed && i < p.first) p.first = i;
  }
  const bool comment_changed = a_.saved_comment_ != dir_.Comment();
  return p.first < n || n != saved.Count() || comment_changed;
}

void TCommit::ReadOldDirectory() {
  Plan& p = *plan_;
  TStream& old = *a_.stream_;
  TAFDirArray& saved = dir_.SavedItems();
  p.raw.assign(saved.Count(), {0, 0});
  const int64_t size = old.Size();
  if (dir_.Recovered()) {
    p.old_tail_at = size;
    return;
  }
  p.old_tail_at = saved.Count() ? dir_.DirectoryOffset() : dir_.StubLength();
  p.old_tail_at = std::clamp<int64_t>(p.old_tail_at, 0, size);
  p.old_tail.resize(static_cast<size_t>(size - p.old_tail_at));
  old.SetPosition(p.old_tail_at);
  old.ReadBuffer(p.old_tail.data(), static_cast<int64_t>(p.old_tail.size()));
  // The central records follow each other in item order.
  size_t at = 0;
  for (int s = 0; s < saved.Count(); ++s) {
    if (at + 46 > p.old_tail.size()) break;
    const uint8_t* h = p.old_tail.data() + at;
    if (GetU32(h) != kSigCentral && GetU32(h) != a_.signatures_.central) break;
    size_t len = 46 + GetU16(h + 28) + GetU16(h + 30) + GetU16(h + 32);
    if (at + len > p.old_tail.size()) break;
    p.raw[s] = {at, len};
    at += len;
  }
}

void TCommit::CopyOldItem(int i, TStream& out) {
  Plan& p = *plan_;
  TStream& old = *a_.stream_;
  const TDirItem& was = dir_.SavedItems().ItemRef(p.saved[i]);
  const int64_t from = was.LocalHeaderOffset();
  TLocalHeader local;
  old.SetPosition(from);
  old.ReadBuffer(local.data(), 30);
  if (local.Signature() != kSigLocal && local.Signature() != a_.signatures_.local)
    throw EAFException::Create(NativeError::kInvalidSizeOrChecksum, &a_.facade_);
  std::string name(local.NameLength(), '\0');
  std::vector<uint8_t> extra(local.ExtraLength());
  old.ReadBuffer(name.data(), static_cast<int64_t>(name.size()));
  old.ReadBuffer(extra.data(), static_cast<int64_t>(extra.size()));
  const int64_t data_at = from + 30 + static_cast<int64_t>(name.size() + extra.size());
  int64_t data = was.CompressedSize();
  if (local.Flags() & kFlagDataDescriptor) {
    // The descriptor after the data: an optional signature, the CRC, and
    // sizes of 4 bytes, or 8 when the item is ZIP64.
    const TExtraFieldList fields = ParseExtraArea(extra.data(), extra.size());
    const bool zip64 =
        std::any_of(fields.begin(), fields.end(), [](const TExtraField& f) { return f.Id == kExtraZip64; });
    uint8_t sig[4] = {0, 0, 0, 0};
    old.SetPosition(data_at + data);
    old.Read(sig, 4);
    data += (GetU32(sig) == kSigDataDescriptor ? 4 : 0) + 4 + (zip64 ? 16 : 8);
  }
  p.offset[i] = out.Position();
  if (p.renamed[i]) {
    TDirItem& it = dir_.Items().ItemRef(i);
    TStoredName stored = StoredNameOf(a_, it.ItemName);
    p.name_bytes[i] = stored.bytes;
    p.utf8[i] = stored.utf8;
    extra = WithoutUnicodeNames(extra);
    local.SetFlags(static_cast<uint16_t>(stored.utf8 ? local.Flags() | kFlagUtf8 : local.Flags() & ~kFlagUtf8));
    local.SetNameLength(static_cast<uint16_t>(stored.bytes.size()));
    local.SetExtraLength(static_cast<uint16_t>(extra.size()));
    name = stored.bytes;
  }
  out.WriteBuffer(local.data(), 30);
  out.WriteBuffer(name.data(), static_cast<int64_t>(name.size()));
  out.WriteBuffer(extra.data(), static_cast<int64_t>(extra.size()));
  old.SetPosition(data_at);
  if (data > 0) out.CopyFrom(old, data);
}

bool TCommit::WriteNewItem(int i, TStream& out) {
  Plan& p = *plan_;
  TDirItem& item = dir_.Items().ItemRef(i);
  const afp::WideString shown = paths::Backslashed(item.ItemName);
  bool cancel = a_.cancel_;
  a_.DoFileProgress(shown, 0.0, item.Operation, ppStart, cancel);
  if (cancel) {
    a_.cancel_ = true;
    return false;
  }
  const bool folder = item.IsDirectory();
  std::unique_ptr<TStream> opened;
  TStream* source = nullptr;
  int64_t size = 0;
  if (!folder) {
    if (item.Source->SourceStream) {
      source = item.Source->SourceStream;
    } else {
      const afp::WideString& path = item.Source->SourcePath;
      if (path.size() > afp::kMaxPathChars && path.find(u"\\\\?\\") == afp::WideString::npos)
        throw EAFException::CreateFmt(NativeError::kFileNameTooLong, &a_.facade_, {path});
      try {
        auto file = std::make_unique<TFileStream>(path, fmOpenRead | fmShareDenyNone);
        p.opened_stamp = afp::GetFileStampFd(file->Handle());
        opened = std::move(file);
      } catch (const EStreamError&) {
        throw EAFException::CreateFmt(NativeError::kCannotOpenFile, &a_.facade_, {path});
      }
      source = opened.get();
    }
    size = source->Size();
  }
  TCentralHeader& h = item.HeaderImage;
  const bool always = a_.zip64_mode_ == zmAlways;
  const int64_t at = out.Position();
  item.HasZip64 = false;
  if (at >= 0xFFFFFFFFLL || always) {
    item.HasZip64 = true;
    item.LocalHeaderOffset64 = at;
    h.SetLocalHeaderOffset(0xFFFFFFFF);
  } else {
    h.SetLocalHeaderOffset(static_cast<uint32_t>(at));
  }
  // Room for the ZIP64 sizes when they may be needed: the data of a source
  // just under 4 GiB can grow past it.
  const bool zip64_sizes = always || size >= 0xF0000000LL;
  if (zip64_sizes) item.HasZip64 = true;
  if (item.HasZip64 && a_.zip64_mode_ == zmDisabled)
    throw EAFException::CreateFmt(NativeError::kZip64RefusedForItem, &a_.facade_, {item.ItemName});
  const bool encrypted = !folder && !item.Source->Password.empty();
  const bool aes = encrypted && a_.encryption_method_ != caPkzipClassic;
  TStoredName stored = StoredNameOf(a_, item.ItemName);
  p.name_bytes[i] = stored.bytes;
  p.utf8[i] = stored.utf8;
  uint16_t flags = h.Flags();
  flags = static_cast<uint16_t>(stored.utf8 ? flags | kFlagUtf8 : flags & ~kFlagUtf8);
  flags = static_cast<uint16_t>(encrypted ? flags | kFlagEncrypted : flags & ~kFlagEncrypted);
  h.SetFlags(flags);
  if (item.HasZip64) h.SetVersionNeeded(45);
  if (aes) item.CryptoAlgorithm = a_.encryption_method_;

  // The local header with its extra fields; written once before the data
  // and again with the final CRC, sizes and method after it.
  auto local_bytes = [&](bool final) {
    item.ExtraFields.clear();
    if (a_.unicode_filenames_) {
      std::vector<uint8_t> f = BuildUnicodeNameField(item.ItemName);
      item.ExtraFields.push_back({kExtraUnicodeName, static_cast<uint16_t>(f.size() - 4),
                                  std::vector<uint8_t>(f.begin() + 4, f.end())});
    }
    if (aes) {
      const uint16_t m = item.ActualMethod;
      item.ExtraFields.push_back({kExtraAES, 7,
                                  {2, 0, 0x41, 0x45, static_cast<uint8_t>(item.CryptoAlgorithm),
                                   static_cast<uint8_t>(m), static_cast<uint8_t>(m >> 8)}});
    }
    std::vector<uint8_t> extra;
    if (zip64_sizes) {
      auto z = BuildZip64Local(static_cast<uint64_t>(final ? item.UncompressedSize() : size),
                               static_cast<uint64_t>(final ? item.CompressedSize() : 0));
      extra.insert(extra.end(), z.begin(), z.end());
    }
    std::vector<uint8_t> others = BuildExtraArea(item.ExtraFields);
    extra.insert(extra.end(), others.begin(), others.end());
    TLocalHeader l;
    l.SetSignature(a_.signatures_.local);
    l.SetVersionNeeded(h.VersionNeeded());
    l.SetFlags(h.Flags());
    l.SetMethod(aes ? kMethodAES : (final ? h.Method() : item.ActualMethod));
    l.SetTime(h.Time());
    l.SetDate(h.Date());
    l.SetCrc32(final ? h.Crc32() : 0);
    l.SetCompressedSize(zip64_sizes ? 0xFFFFFFFF : (final ? h.CompressedSize() : 0));
    l.SetUncompressedSize(zip64_sizes ? 0xFFFFFFFF : static_cast<uint32_t>(size));
    l.SetNameLength(static_cast<uint16_t>(stored.bytes.size()));
    l.SetExtraLength(static_cast<uint16_t>(extra.size()));
    std::vector<uint8_t> bytes;
    bytes.reserve(30 + stored.bytes.size() + extra.size());
    Append(bytes, l.data(), 30);
    Append(bytes, stored.bytes.data(), stored.bytes.size());
    Append(bytes, extra.data(), extra.size());
    return bytes;
  };
  // A source of one chunk is encoded into memory first, so that its header
  // goes out once, already final, together with its data: one write instead
  // of three for each of many small files.
  const bool small = !folder && size <= EncodeChunkSize(item.ItemCompressionMode);
  std::unique_ptr<TMemoryStream> staging;
  TStream* data_out = &out;
  if (small) {
    staging = std::make_unique<TMemoryStream>();
    data_out = staging.get();
  } else {
    std::vector<uint8_t> head = local_bytes(false);
    out.WriteBuffer(head.data(), static_cast<int64_t>(head.size()));
  }
  bool ok = true;
  if (folder) {
    h.SetMethod(kMethodStored);
    h.SetCrc32(0);
    h.SetCompressedSize(0);
    h.SetUncompressedSize(0);
    item.ActualMethod = kMethodStored;
  } else {
    source->SetPosition(0);
    ok = EncodeItemData(a_.facade_, *source, *data_out, size, item);
  }
  if (!ok) return false;
  if (zip64_sizes) {
    // The local ZIP64 field holds the true sizes; the central header marks
    // them as held there too.
    if (h.CompressedSize() != 0xFFFFFFFF) item.CompressedSize64 = h.CompressedSize();
    if (h.UncompressedSize() != 0xFFFFFFFF) item.UncompressedSize64 = h.UncompressedSize();
    h.SetCompressedSize(0xFFFFFFFF);
    h.SetUncompressedSize(0xFFFFFFFF);
  } else if (h.CompressedSize() == 0xFFFFFFFF) {
    throw EAFException::CreateFmt(NativeError::kZip64RefusedForItem, &a_.facade_,
                                  {item.ItemName});  // grew past its header
  }
  std::vector<uint8_t> final_head = local_bytes(true);
  if (folder || small) {
    if (staging) final_head.insert(final_head.end(), staging->Data().begin(), staging->Data().end());
    if (!WriteWithDiskFullRetry(a_.facade_, out, final_head.data(), static_cast<int64_t>(final_head.size())))
      return false;
  } else {
    const int64_t end = out.Position();
    out.SetPosition(at);
    out.WriteBuffer(final_head.data(), static_cast<int64_t>(final_head.size()));
    out.SetPosition(end);
  }
  p.offset[i] = at;
  item.Source->IsPending = false;
  bool after = a_.cancel_;
  a_.DoFileProgress(shown, 100.0, item.Operation, ppEnd, after);
  if (after) a_.cancel_ = true;
  return true;
}

bool TCommit::WriteItems(TStream& out, int from) {
  TAFDirArray& items = dir_.Items();
  Plan& p = *plan_;
  // Copying old items into the new archive reports through
  // OnCopyTempFileProgress, by the share of old items copied.
  int old_total = 0, old_done = 0;
  for (int i = from; i < items.Count(); ++i) old_total += p.saved[i] >= 0;
  auto copy_progress = [&](TAFProgressPhase phase) {
    if (old_total == 0) return true;
    bool cancel = false;
    a_.DoCopyTempFileProgress(100.0 * old_done / old_total, phase, cancel);
    if (cancel) a_.cancel_ = true;
    return !cancel;
  };
  if (!copy_progress(ppStart)) return false;
  for (int i = from; i < items.Count() && !a_.cancel_;) {
    const bool fresh = p.saved[i] < 0;
    TAFAction action;
    bool ok;
    do {
      action = fxaIgnore;
      ok = true;
      const int64_t start = out.Position();
      try {
        if (fresh) {
          ok = WriteNewItem(i, out);
        } else {
          CopyOldItem(i, out);
          ++old_done;
          if (!copy_progress(ppProcess)) return false;
        }
      } catch (const EAFException& e) {
        ok = false;
        out.SetSize(start);
        out.SetPosition(start);
        const TDirItem& it = items.ItemRef(i);
        afp::WideString shown = it.Source && !it.Source->SourcePath.empty() ? it.Source->SourcePath
                                                                             : paths::Backslashed(it.ItemName);
        a_.DoProcessFileFailure(shown, it.Operation, e.NativeError(), e.ErrorCode(), afp::FromUtf8(e.what()),
                                action);
      }
    } while (action == fxaRetry);
    if (action == fxaAbort) {
      a_.last_run_aborted_ = true;
      return false;
    }
    if (a_.cancel_) return false;
    if (ok) {
      const TDirItem& it = items.ItemRef(i);
      if (it.Operation == poMove && it.Source && !it.Source->SourcePath.empty()) {
        if (it.IsDirectory()) p.moved_folders.push_back(it.Source->SourcePath);
        else p.moved_files.push_back({it.Source->SourcePath, p.opened_stamp});
      }
      if (fresh) ++a_.processed_count_;  // the overall progress counts the items written anew
      ++i;
      continue;
    }
    // An item that could not be added is left out; one that could not be
    // replaced keeps its old data.
    const int old_index = items.ItemRef(i).SavedIndex;
    if (p.saved[i] < 0 && old_index >= 0 && old_index < dir_.SavedItems().Count()) {
      TDirItem old;
      dir_.SavedItems().GetItem(old_index, old);
      old.SavedIndex = old_index;
      items.PutItem(i, old);
      p.saved[i] = old_index;
      p.renamed[i] = 0;
      continue;
    }
    items.Delete(i);
    p.saved.erase(p.saved.begin() + i);
    p.renamed.erase(p.renamed.begin() + i);
    p.offset.erase(p.offset.begin() + i);
    p.name_bytes.erase(p.name_bytes.begin() + i);
    p.utf8.erase(p.utf8.begin() + i);
  }
  return !a_.cancel_ && copy_progress(ppEnd);
}

std::vector<uint8_t> TCommit::CentralRecord(int i) {
  Plan& p = *plan_;
  TDirItem& item = dir_.Items().ItemRef(i);
  const int64_t off = p.offset[i];
  const int s = p.saved[i];
  if (s >= 0 && !p.renamed[i] && p.raw[s].second) {
    std::vector<uint8_t> r(p.old_tail.begin() + static_cast<std::ptrdiff_t>(p.raw[s].first),
                           p.old_tail.begin() + static_cast<std::ptrdiff_t>(p.raw[s].first + p.raw[s].second));
    const uint32_t field = GetU32(r.data() + 42);
    if (field != 0xFFFFFFFF && off < 0xFFFFFFFFLL) {
      PutU32(r.data() + 42, static_cast<uint32_t>(off));
      return r;
    }
    if (field == 0xFFFFFFFF) {
      // The offset lives in the ZIP64 field, after the sizes it also holds.
      size_t at = 46 + GetU16(r.data() + 28), end = at + GetU16(r.data() + 30);
      while (at + 4 <= end) {
        uint16_t id = GetU16(r.data() + at), len = GetU16(r.data() + at + 2);
        if (id == kExtraZip64) {
          size_t pos = at + 4 + (GetU32(r.data() + 24) == 0xFFFFFFFF ? 8 : 0) +
                       (GetU32(r.data() + 20) == 0xFFFFFFFF ? 8 : 0);
          if (pos + 8 <= at + 4 + len && pos + 8 <= end) {
            PutU64(r.data() + pos, static_cast<uint64_t>(off));
            return r;
          }
          break;
        }
        at += 4 + len;
      }
    }
    // Otherwise the record is built anew below.
  }
  TCentralHeader h = item.HeaderImage;
  if (off >= 0xFFFFFFFFLL || (p.saved[i] < 0 && h.LocalHeaderOffset() == 0xFFFFFFFF)) {
    h.SetLocalHeaderOffset(0xFFFFFFFF);
    item.LocalHeaderOffset64 = off;
  } else {
    h.SetLocalHeaderOffset(static_cast<uint32_t>(off));
  }
  std::string name = p.name_bytes[i];
  bool utf8 = p.utf8[i];
  if (s >= 0 && !p.renamed[i]) {
    TStoredName stored = EncodeItemName(item.ItemName, a_.CodePages, a_.options_.OEMFileNames,
                                        (h.Flags() & kFlagUtf8) != 0, 0xFFFF);
    name = stored.bytes;
    utf8 = stored.utf8;
  }
  h.SetFlags(static_cast<uint16_t>(utf8 ? h.Flags() | kFlagUtf8 : h.Flags() & ~kFlagUtf8));
  TExtraFieldList others;
  for (const auto& f : item.ExtraFields)
    if (f.Id != kExtraZip64 && !(p.renamed[i] && IsUnicodeNameField(f.Id))) others.push_back(f);
  std::vector<uint8_t> extra;
  if (Zip64CentralSize(h)) {
    extra = BuildZip64Central(h, static_cast<uint64_t>(item.UncompressedSize64),
                              static_cast<uint64_t>(item.CompressedSize64), static_cast<uint64_t>(off),
                              item.DiskNumberStart64);
  }
  std::vector<uint8_t> rest = BuildExtraArea(others);
  extra.insert(extra.end(), rest.begin(), rest.end());
  h.SetSignature(a_.signatures_.central);
  h.SetNameLength(static_cast<uint16_t>(name.size()));
  h.SetExtraLength(static_cast<uint16_t>(extra.size()));
  h.SetCommentLength(static_cast<uint16_t>(item.Comment.size()));
  std::vector<uint8_t> r(h.bytes.begin(), h.bytes.end());
  Append(r, name.data(), name.size());
  Append(r, extra.data(), extra.size());
  Append(r, item.Comment.data(), item.Comment.size());
  return r;
}

void TCommit::WriteCentralDirectory(TStream& out) {
  const int64_t start = out.Position();
  std::vector<uint8_t> buf;
  for (int i = 0; i < dir_.Items().Count(); ++i) {
    std::vector<uint8_t> r = CentralRecord(i);
    buf.insert(buf.end(), r.begin(), r.end());
    if (buf.size() >= (1u << 20)) {
      out.WriteBuffer(buf.data(), static_cast<int64_t>(buf.size()));
      buf.clear();
    }
  }
  out.WriteBuffer(buf.data(), static_cast<int64_t>(buf.size()));
  dir_.WriteEndRecords(out, start);
}

void TCommit::Reload() { dir_.ReadDirectory(); }

void TCommit::Run() {
  TAFDirArray& items = dir_.Items();
  a_.processed_count_ = 0;
  a_.total_count_ = 0;
  a_.cancel_ = false;
  a_.progress_active_ = true;
  a_.last_run_aborted_ = false;
  Plan& p = *plan_;
  const std::string new_comment = dir_.Comment();
  auto restore = [&] {
    a_.AbandonTransaction();
    a_.progress_active_ = false;
  };
  if (!FindFirstChange()) {
    a_.progress_active_ = false;
    return;
  }
  if (GrowsPastClassicCount(a_.facade_, items.Count(), dir_.SavedItems().Count())) {
    restore();
    throw EAFException::CreateFmt(NativeError::kZip64Refused, &a_.facade_, {a_.file_name_});
  }
  TAFProcessOperation op = poDelete;
  for (int i = 0; i < items.Count(); ++i)
    if (p.saved[i] < 0) {
      if (a_.total_count_ == 0) op = items.ItemRef(i).Operation;
      ++a_.total_count_;
    }
  bool cancel = false;
  a_.DoOverallProgress(0.0, op, ppStart, cancel);
  if (cancel) {
    a_.cancel_ = true;
    restore();
    return;
  }
  ReadOldDirectory();
  TStream& old = *a_.stream_;
  const TAFDirArray& saved = dir_.SavedItems();
  // A split or spanned set is written whole, once: the archive is made in a
  // temporary file first and then laid over the volumes.
  const bool volumes = a_.spanning_mode_ != smNone && !a_.in_memory_;
  const bool memory = a_.in_memory_;
  // Written through a symbolic link, the archive it points to changes.
  const afp::WideString target = afp::FinalLinkTarget(a_.file_name_);

  try {
    if (memory) {
      p.out = std::make_unique<TMemoryStream>();
    } else {
      // Beside the archive, so that the rename is one step; a set's volumes
      // may be on disks that are changed, so its temporary file is not.
      const afp::WideString folder = volumes ? (a_.temp_dir_.empty() ? afp::TempDirectory() : a_.temp_dir_)
                                             : paths::FolderPart(paths::Backslashed(target));
      afp::RemoveDeadTempFiles(folder);
      // The copy of an archive that exists is for its owner's eyes until it
      // takes the archive's place (and its permissions) by the rename.
      const uint16_t create = a_.unwritten_ || volumes ? fmCreateNew : fmCreateNewPrivate;
      for (int attempt = 0; !p.out && attempt < 16; ++attempt) {
        p.temp_name = afp::UniqueTempName(folder);
        try {
          p.out = std::make_unique<TFileStream>(p.temp_name, create);
        } catch (const EStreamError&) {
          if (afp::GetPathType(p.temp_name) == afp::PathType::None)
            throw EAFException::CreateFmt(NativeError::kCannotCreateFile, &a_.facade_, {p.temp_name});
        }
      }
      if (!p.out) throw EAFException::CreateFmt(NativeError::kCannotCreateFile, &a_.facade_, {a_.file_name_});
    }
    // What precedes the first item (a self-extractor stub) comes along; a
    // recovered archive's items start where their headers were found.
    int64_t prefix = saved.Count() ? saved.ItemRef(0).LocalHeaderOffset() : dir_.StubLength();
    for (int s = 0; s < saved.Count(); ++s) prefix = std::min(prefix, saved.ItemRef(s).LocalHeaderOffset());
    if (dir_.Recovered()) prefix = 0;
    prefix = std::clamp<int64_t>(prefix, 0, old.Size());
    if (prefix > 0) {
      old.SetPosition(0);
      p.out->CopyFrom(old, prefix);
    }
    TStream* out = p.out.get();
    if (!WriteItems(*out, 0)) {
      RollBackBytes();
      restore();
      return;
    }
    dir_.SetComment(new_comment);
    WriteCentralDirectory(*out);
    if (volumes) {
      WriteVolumes();
      p.out.reset();
      afp::DeleteFile(p.temp_name);
      // A split set is read back from its volumes; a spanned one keeps what
      // was just written, rather than asking for its first disk again.
      if (a_.spanning_mode_ == smSplitting) Reload();
    } else if (memory) {
      a_.stream_ = std::move(p.out);
      Reload();
    } else {
      PutInPlace(target);
    }
  } catch (...) {
    RollBackBytes();
    if (a_.stream_) restore();
    throw;
  }
  RemoveMovedSources();
  bool end_cancel = false;
  a_.DoOverallProgress(100.0, op, ppEnd, end_cancel);
  a_.progress_active_ = false;
}

void TCommit::PutInPlace(const afp::WideString& target) {
  Plan& p = *plan_;
  // Complete on the disk before it takes the archive's name: a power loss
  // leaves the old archive or the new one, never a part of either.
  p.out->Flush();
  p.out.reset();
  if (a_.unwritten_) {
    // A new archive never replaces one that another program created
    // meanwhile.
    if (!afp::RenameNoReplace(p.temp_name, target)) {
      afp::DeleteFile(p.temp_name);
      throw EAFException::CreateFmt(NativeError::kCannotCreateOutputFile, &a_.facade_, {a_.file_name_});
    }
    a_.unwritten_ = false;
  } else {
    // Still the archive whose directory this commit read (a program that
    // takes no lock may have replaced it): its items would be lost.
    auto* file = dynamic_cast<TFileStream*>(a_.stream_.get());
    if (file && !afp::IsSameFile(file->Handle(), target)) {
      afp::DeleteFile(p.temp_name);
      throw EAFException::CreateFmt(NativeError::kCannotCreateOutputFile, &a_.facade_, {a_.file_name_});
    }
    afp::CopyPermissions(target, p.temp_name);
    // Where an open file cannot be replaced, the lock moves to the new file
    // first.
    if (afp::kOpenFilesBlockReplace) a_.MoveWriteLockTo(p.temp_name);
    a_.stream_.reset();
    if (!afp::ReplaceFile(p.temp_name, target)) {
      afp::DeleteFile(p.temp_name);
      a_.stream_ = std::make_unique<TFileStream>(a_.file_name_, a_.open_mode_);
      Reload();
      throw EAFException::CreateFmt(NativeError::kCannotCreateFile, &a_.facade_, {a_.file_name_});
    }
  }
  afp::SyncFolderOf(target);
  a_.stream_.reset();
  a_.open_mode_ = fmOpenReadWrite | fmShareDenyWrite;
  a_.stream_ = std::make_unique<TFileStream>(a_.file_name_, a_.open_mode_);
  Reload();
}

void TCommit::RollBackBytes() noexcept {
  Plan& p = *plan_;
  if (p.out && !a_.in_memory_) {
    p.out.reset();
    afp::DeleteFile(p.temp_name);
  }
  p.out.reset();
}

void TCommit::RemoveMovedSources() {
  Plan& p = *plan_;
  // Files first, then the folders they leave empty, deepest first. A folder
  // that still holds something (a file left out by a mask, say) stays: its
  // content was never put in the archive.
  // A file written to since it was opened for its item (a growing log, say)
  // is kept: the archive holds it only as it was read.
  auto attempt = [&](const afp::WideString& path, bool folder, const afp::FileStamp& stamp) {
    TAFAction action;
    do {
      action = fxaIgnore;
      bool gone, changed = false;
      if (folder) {
        gone = afp::RemoveDir(path) || !afp::ListDirectory(path).empty() || !afp::DirectoryExists(path);
      } else {
        const afp::FileStamp now = afp::GetFileStamp(path);
        changed = now.size >= 0 && !(now == stamp);
        gone = !changed && (afp::DeleteFile(path) || (afp::SetFileAttributes(path, 0) && afp::DeleteFile(path)) ||
                            afp::GetPathType(path) == afp::PathType::None);
      }
      if (gone) return true;
      EAFException e = EAFException::CreateFmt(folder ? 60 : 27, &a_.facade_, {path});
      afp::WideString message = afp::FromUtf8(e.what());
      if (changed) message += u": it changed after it was read into the archive, so it was kept";
      a_.DoProcessFileFailure(path, poMove, e.NativeError(), e.ErrorCode(), message, action);
    } while (action == fxaRetry);
    return action != fxaAbort;
  };
  for (const auto& f : p.moved_files)
    if (!attempt(f.path, false, f.stamp)) return;
  std::sort(p.moved_folders.begin(), p.moved_folders.end(),
            [](const afp::WideString& x, const afp::WideString& y) { return x.size() > y.size(); });
  for (const auto& d : p.moved_folders)
    if (!attempt(d, true, afp::FileStamp())) return;
}

}  // namespace arcfold
