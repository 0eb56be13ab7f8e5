#include "items/commit.h"

#include <algorithm>
#include <cstring>

#include "arcfold/stream.h"
#include "codec/encode.h"
#include "codec/methods.h"
#include "codec/second_core.h"
#include "directory/dir_manager.h"
#include "directory/name_codec.h"
#include "items/add_ahead.h"
#include "items/archive_writer.h"
#include "items/commit_context.h"
#include "items/commit_plan.h"
#include "items/item_retry.h"
#include "items/path_parts.h"
#include "platform/file_io.h"
#include "platform/files.h"

namespace arcfold {

namespace {

// From this many items on, only the ZIP64 end records hold the count.
constexpr int kZip64ItemCount = 0xFFFF;
// A source this large gets room for ZIP64 sizes: its data, just under 4 GiB,
// can grow past it.
constexpr int64_t kZip64SourceSize = 0xF0000000LL;
// "Version needed" of an item with ZIP64 fields.
constexpr uint16_t kVersionNeededZip64 = 45;
// Names are as long as a header's 16-bit length lets them be.
constexpr size_t kMaxNameBytes = 0xFFFF;
// Central records go out in pieces of about this size.
constexpr size_t kDirectoryChunk = 256u << 10;
// Room past a piece for the record that completes it: reserved with the piece,
// so that the buffer does not double for one last record.
constexpr size_t kDirectoryChunkSlack = kDirectoryChunk / 16;

bool IsUnicodeNameField(uint16_t id) { return id == kExtraUnicodeName || id == kExtraInfoZipUnicodePath; }

// The extra area without the unicode-name fields: they name the old name and
// would contradict a new one.
std::vector<uint8_t> WithoutUnicodeNames(const std::vector<uint8_t>& area) {
  TExtraFieldList fields = ParseExtraArea(area.data(), area.size());
  fields.erase(
      std::remove_if(fields.begin(), fields.end(), [](const TExtraField& f) { return IsUnicodeNameField(f.Id); }),
      fields.end());
  return BuildExtraArea(fields);
}

// The header bytes of a name being written. A caller that asks for Unicode
// names wants them read the same by every tool: a name beyond plain ASCII
// then goes as UTF-8 with flag bit 11 even where a code page would hold it,
// since other readers guess a code page of their own for unflagged bytes.
bool BeyondAscii(std::u16string_view name) {
  return std::any_of(name.begin(), name.end(), [](char16_t c) { return c >= 0x80; });
}

TStoredName StoredNameOf(const CommitSettings& settings, std::u16string_view name) {
  return EncodeItemName(name, settings.code_pages, settings.oem_names, settings.unicode_names && BeyondAscii(name),
                        kMaxNameBytes);
}

// Whether a new item's headers carry the unicode-name field. A plain ASCII
// name reads back the same from its header bytes in every code page, so
// the field would only repeat it (twice per item: a tree of source files
// grew by a twentieth).
bool CarriesUnicodeName(const CommitSettings& settings, std::u16string_view name) {
  return settings.unicode_names && BeyondAscii(name);
}

// The unicode-name field of a new item. It is made again for each header
// that holds it, not kept with every item until the directory is written.
TExtraField UnicodeNameField(const afp::WideString& name) {
  std::vector<uint8_t> f = BuildUnicodeNameField(name);
  return {kExtraUnicodeName, static_cast<uint16_t>(f.size() - kExtraHeaderSize),
          std::vector<uint8_t>(f.begin() + kExtraHeaderSize, f.end())};
}

void Append(std::vector<uint8_t>& out, const void* data, size_t n) {
  if (n == 0) return;
  const size_t at = out.size();
  out.resize(at + n);
  std::memcpy(out.data() + at, data, n);
}

uint16_t WithFlag(uint16_t flags, uint16_t flag, bool on) {
  return static_cast<uint16_t>(on ? flags | flag : flags & ~flag);
}

// Whether the commit would grow the archive to a count that needs the ZIP64
// end records while ZIP64 is switched off. An archive that holds that many
// already may still lose, replace or rename items.
bool GrowsPastClassicCount(TZip64Mode mode, int count, int saved_count) {
  return mode == zmDisabled && count >= kZip64ItemCount && count > saved_count;
}

}  // namespace

// A new item on its way into the archive.
struct TCommit::NewItem {
  NewItem(TDirItem& it, afp::WideString name, CommitSettings in_force)
      : item(it), shown(std::move(name)), settings(std::move(in_force)) {}
  TDirItem& item;
  afp::WideString shown;  // its name in events
  CommitSettings settings;
  bool folder = false;
  TStream* source = nullptr;
  std::unique_ptr<TStream> opened;  // source, when the commit opened it
  int64_t size = 0;                 // of the source
  int64_t at = 0;                   // where its local header goes
  bool zip64_sizes = false;         // its local header holds ZIP64 sizes
  bool aes = false;
  TStoredName stored;
  std::vector<uint8_t> deflated;  // the source deflated ahead
  bool is_deflated = false;
};

// Copying old items into the new archive reports through
// OnCopyTempFileProgress, by the share of old items copied.
class TCommit::CopyProgress {
 public:
  CopyProgress(CommitContext& context, int total) : context_(context), total_(total) {}
  void Count() { ++done_; }
  // False when the handler cancelled the run.
  bool Report(TAFProgressPhase phase) {
    if (total_ == 0) return true;
    bool cancel = false;
    context_.CopyTempProgress(100.0 * done_ / total_, phase, cancel);
    if (cancel) context_.Cancel();
    return !cancel;
  }

 private:
  CommitContext& context_;
  const int total_;
  int done_ = 0;
};

TCommit::TCommit(CommitContext& context) : ctx_(context), dir_(context.Directory()), plan_(std::make_unique<Plan>()) {}
TCommit::~TCommit() = default;

bool TCommit::FindFirstChange() {
  TAFDirArray& items = dir_.Items();
  TAFDirArray& saved = dir_.SavedItems();
  Plan& p = *plan_;
  const int n = items.Count();
  p.items.assign(n, PlannedItem());
  p.first = std::min(n, saved.Count());
  for (int i = 0; i < n; ++i) {
    const TDirItem& it = items.ItemRef(i);
    PlannedItem& planned = p.items[i];
    const bool pending = it.Source && it.Source->IsPending;
    // The saved item this one was, by position: names may repeat (two
    // items of one name, or names that differ in case only).
    const int s = it.SavedIndex < saved.Count() ? it.SavedIndex : -1;
    if (!pending && s < 0) throw ctx_.Error(NativeError::kSavedItemOutOfBounds);
    planned.renamed = s >= 0 && it.ItemName != saved.ItemRef(s).ItemName;
    planned.saved = pending ? -1 : s;
    const bool changed = pending || planned.renamed || i >= saved.Count() || s != i;
    if (changed && i < p.first) p.first = i;
  }
  const bool comment_changed = ctx_.SavedComment() != dir_.Comment();
  return p.first < n || n != saved.Count() || comment_changed;
}

TAFProcessOperation TCommit::CountItemsToWrite() {
  TAFProcessOperation op = poDelete;
  for (int i = 0; i < dir_.Items().Count(); ++i)
    if (plan_->items[i].saved < 0) {
      if (!ctx_.AnyToWrite()) op = dir_.Items().ItemRef(i).Operation;
      ctx_.CountToWrite();
    }
  return op;
}

void TCommit::ReadOldDirectory() {
  Plan& p = *plan_;
  TStream& old = *ctx_.Stream();
  p.raw.assign(dir_.SavedItems().Count(), {0, 0});
  const int64_t size = old.Size();
  if (dir_.Recovered()) {
    p.old_tail_at = size;
    return;
  }
  p.old_tail_at = dir_.SavedItems().Count() ? dir_.DirectoryOffset() : dir_.StubLength();
  p.old_tail_at = std::clamp<int64_t>(p.old_tail_at, 0, size);
  p.old_tail.resize(static_cast<size_t>(size - p.old_tail_at));
  old.SetPosition(p.old_tail_at);
  old.ReadBuffer(p.old_tail.data(), static_cast<int64_t>(p.old_tail.size()));
  IndexOldCentralRecords();
}

void TCommit::IndexOldCentralRecords() {
  Plan& p = *plan_;
  const uint32_t signature = ctx_.Settings().signatures.central;
  // The central records follow each other in item order.
  size_t at = 0;
  for (int s = 0; s < dir_.SavedItems().Count(); ++s) {
    if (at + TCentralHeader::kSize > p.old_tail.size()) break;
    TCentralHeader h;
    h.Load(p.old_tail.data() + at);
    if (h.Signature() != kSigCentral && h.Signature() != signature) break;
    const size_t len = h.RecordLength();
    if (at + len > p.old_tail.size()) break;
    p.raw[s] = {at, len};
    at += len;
  }
}

std::unique_ptr<ArchiveWriter> TCommit::ChooseWriter() {
  const CommitSettings settings = ctx_.Settings();
  if (settings.in_memory) return MakeMemoryWriter(ctx_);
  // A split or spanned set is written whole, once: the archive is made in a
  // temporary file first and then laid over the volumes.
  if (settings.spanning != smNone)
    return MakeVolumeSetWriter(ctx_, plan_->items, [this](int i) { return CentralRecord(i); });
  // Written through a symbolic link, the archive it points to changes.
  return MakeFileWriter(ctx_, afp::FinalLinkTarget(ctx_.FileName()));
}

void TCommit::CopyPrefix(TStream& out) {
  // What precedes the first item (a self-extractor stub) comes along; a
  // recovered archive's items start where their headers were found.
  const TAFDirArray& saved = dir_.SavedItems();
  TStream& old = *ctx_.Stream();
  int64_t prefix = saved.Count() ? saved.ItemRef(0).LocalHeaderOffset() : dir_.StubLength();
  for (int s = 0; s < saved.Count(); ++s) prefix = std::min(prefix, saved.ItemRef(s).LocalHeaderOffset());
  if (dir_.Recovered()) prefix = 0;
  prefix = std::clamp<int64_t>(prefix, 0, old.Size());
  if (prefix > 0) {
    old.SetPosition(0);
    out.CopyFrom(old, prefix);
  }
}

void TCommit::CopyOldItem(int i, TStream& out) {
  PlannedItem& planned = plan_->items[i];
  TStream& old = *ctx_.Stream();
  const TDirItem& was = dir_.SavedItems().ItemRef(planned.saved);
  const int64_t from = was.LocalHeaderOffset();
  TLocalHeader local;
  old.SetPosition(from);
  old.ReadBuffer(local.data(), TLocalHeader::kSize);
  const CommitSettings settings = ctx_.Settings();
  if (local.Signature() != kSigLocal && local.Signature() != settings.signatures.local)
    throw ctx_.Error(NativeError::kInvalidSizeOrChecksum);
  std::string name(local.NameLength(), '\0');
  std::vector<uint8_t> extra(local.ExtraLength());
  old.ReadBuffer(name.data(), static_cast<int64_t>(name.size()));
  old.ReadBuffer(extra.data(), static_cast<int64_t>(extra.size()));
  const int64_t data_at = from + static_cast<int64_t>(local.RecordLength());
  int64_t data = was.CompressedSize();
  if (local.Flags() & kFlagDataDescriptor) {
    // The descriptor after the data, its sizes of 8 bytes when the item is
    // ZIP64.
    const TExtraFieldList fields = ParseExtraArea(extra.data(), extra.size());
    const bool zip64 =
        std::any_of(fields.begin(), fields.end(), [](const TExtraField& f) { return f.Id == kExtraZip64; });
    uint8_t sig[sizeof(uint32_t)] = {};
    old.SetPosition(data_at + data);
    old.Read(sig, sizeof sig);
    data += static_cast<int64_t>(DataDescriptorLength(GetU32(sig) == kSigDataDescriptor, zip64));
  }
  planned.offset = out.Position();
  if (planned.renamed) {
    TStoredName stored = StoredNameOf(settings, dir_.Items().ItemRef(i).ItemName);
    extra = WithoutUnicodeNames(extra);
    local.SetFlags(WithFlag(local.Flags(), kFlagUtf8, stored.utf8));
    local.SetNameLength(static_cast<uint16_t>(stored.bytes.size()));
    local.SetExtraLength(static_cast<uint16_t>(extra.size()));
    name = stored.bytes;
  }
  out.WriteBuffer(local.data(), TLocalHeader::kSize);
  out.WriteBuffer(name.data(), static_cast<int64_t>(name.size()));
  out.WriteBuffer(extra.data(), static_cast<int64_t>(extra.size()));
  old.SetPosition(data_at);
  if (data > 0) out.CopyFrom(old, data);
}

bool TCommit::WriteNewItem(int i, TStream& out) {
  TDirItem& item = dir_.Items().ItemRef(i);
  NewItem n{item, paths::Backslashed(item.ItemName), ctx_.Settings()};
  bool cancel = ctx_.Cancelled();
  ctx_.FileProgress(n.shown, 0.0, item.Operation, ppStart, cancel);
  if (cancel) {
    ctx_.Cancel();
    return false;
  }
  n.folder = item.IsDirectory();
  if (!n.folder && !TakeReadAhead(n, i)) OpenSource(n);
  n.at = out.Position();
  PrepareNewHeader(n);
  PlannedItem& planned = plan_->items[i];
  if (!EncodeNewItem(n, out)) return false;
  planned.offset = n.at;
  item.Source->IsPending = false;
  bool after = ctx_.Cancelled();
  ctx_.FileProgress(n.shown, 100.0, item.Operation, ppEnd, after);
  if (after) ctx_.Cancel();
  return true;
}

void TCommit::OpenSource(NewItem& n) {
  if (n.item.Source->SourceStream) {
    n.source = n.item.Source->SourceStream;
  } else {
    const afp::WideString& path = n.item.Source->SourcePath;
    if (path.size() > afp::kMaxPathChars && path.find(u"\\\\?\\") == afp::WideString::npos)
      throw ctx_.Error(NativeError::kFileNameTooLong, {path});
    try {
      auto file = std::make_unique<TFileStream>(path, fmOpenRead | fmShareDenyNone);
      plan_->opened_stamp = afp::GetFileStampFd(file->Handle());
      n.opened = std::move(file);
    } catch (const EStreamError&) {
      throw ctx_.Error(NativeError::kCannotOpenFile, {path});
    }
    n.source = n.opened.get();
  }
  n.size = n.source->Size();
}

// The item's file as the helper read (and deflated) it, when it did;
// false: the item is read here.
bool TCommit::TakeReadAhead(NewItem& n, int index) {
  if (!ahead_) return false;
  ahead_->QueueFrom(dir_.Items(), index);
  std::unique_ptr<TAddAhead::Ready> ready = ahead_->Take(n.item);
  if (!ready) return false;
  auto data = std::make_unique<TMemoryStream>();
  data->Data().swap(ready->data);
  plan_->opened_stamp = ready->stamp;
  n.size = data->Size();
  n.opened = std::move(data);
  n.source = n.opened.get();
  n.deflated.swap(ready->deflated);
  // Compressed as the item is to be, unless a handler changed that since.
  n.is_deflated =
      ready->is_deflated && ready->method == n.item.ActualMethod && ready->mode == n.item.ItemCompressionMode;
  return true;
}

void TCommit::PrepareNewHeader(NewItem& n) {
  TDirItem& item = n.item;
  TCentralHeader& h = item.HeaderImage;
  const bool always = n.settings.zip64 == zmAlways;
  item.HasZip64 = false;
  if (n.at >= kZip64Marker || always) {
    item.HasZip64 = true;
    item.LocalHeaderOffset64 = n.at;
    h.SetLocalHeaderOffset(kZip64Marker);
  } else {
    h.SetLocalHeaderOffset(static_cast<uint32_t>(n.at));
  }
  n.zip64_sizes = always || n.size >= kZip64SourceSize;
  if (n.zip64_sizes) item.HasZip64 = true;
  if (item.HasZip64 && n.settings.zip64 == zmDisabled)
    throw ctx_.Error(NativeError::kZip64RefusedForItem, {item.ItemName});
  const bool encrypted = !n.folder && !item.Source->Password.empty();
  n.aes = encrypted && n.settings.encryption != caPkzipClassic;
  n.stored = StoredNameOf(n.settings, item.ItemName);
  h.SetFlags(WithFlag(WithFlag(h.Flags(), kFlagUtf8, n.stored.utf8), kFlagEncrypted, encrypted));
  if (item.HasZip64) h.SetVersionNeeded(VersionNeededWith(kVersionNeededZip64, item.ActualMethod));
  if (n.aes) item.CryptoAlgorithm = n.settings.encryption;
}

// The local header with its extra fields; written once before the data and
// again with the final CRC, sizes and method after it.
std::vector<uint8_t> TCommit::LocalHeaderBytes(NewItem& n, bool final) {
  TDirItem& item = n.item;
  const TCentralHeader& h = item.HeaderImage;
  item.ExtraFields.clear();
  TExtraFieldList fields;
  if (CarriesUnicodeName(n.settings, item.ItemName)) fields.push_back(UnicodeNameField(item.ItemName));
  if (n.aes) {
    item.ExtraFields.push_back(AesExtraField(static_cast<uint8_t>(item.CryptoAlgorithm), item.ActualMethod));
    fields.push_back(item.ExtraFields.back());
  }
  std::vector<uint8_t> extra;
  if (n.zip64_sizes) {
    auto z = BuildZip64Local(static_cast<uint64_t>(final ? item.UncompressedSize() : n.size),
                             static_cast<uint64_t>(final ? item.CompressedSize() : 0));
    extra.insert(extra.end(), z.begin(), z.end());
  }
  std::vector<uint8_t> others = BuildExtraArea(fields);
  extra.insert(extra.end(), others.begin(), others.end());
  TLocalHeader l;
  l.SetSignature(n.settings.signatures.local);
  l.SetVersionNeeded(h.VersionNeeded());
  l.SetFlags(h.Flags());
  l.SetMethod(n.aes ? kMethodAES : (final ? h.Method() : item.ActualMethod));
  l.SetTime(h.Time());
  l.SetDate(h.Date());
  l.SetCrc32(final ? h.Crc32() : 0);
  l.SetCompressedSize(n.zip64_sizes ? kZip64Marker : (final ? h.CompressedSize() : 0));
  l.SetUncompressedSize(n.zip64_sizes ? kZip64Marker : static_cast<uint32_t>(n.size));
  l.SetNameLength(static_cast<uint16_t>(n.stored.bytes.size()));
  l.SetExtraLength(static_cast<uint16_t>(extra.size()));
  std::vector<uint8_t> bytes;
  bytes.reserve(l.RecordLength());
  Append(bytes, l.data(), TLocalHeader::kSize);
  Append(bytes, n.stored.bytes.data(), n.stored.bytes.size());
  Append(bytes, extra.data(), extra.size());
  return bytes;
}

bool TCommit::EncodeNewItem(NewItem& n, TStream& out) {
  TDirItem& item = n.item;
  TCentralHeader& h = item.HeaderImage;
  // A source of one chunk is encoded into memory first, so that its header
  // goes out once, already final, together with its data: one write instead
  // of three for each of many small files. A folder has no data at all.
  const bool small = n.folder || n.size <= EncodeChunkSize(item.ItemCompressionMode);
  std::unique_ptr<TMemoryStream> staging;
  TStream* data_out = &out;
  if (small) {
    staging = std::make_unique<TMemoryStream>();
    data_out = staging.get();
  } else {
    std::vector<uint8_t> head = LocalHeaderBytes(n, false);
    out.WriteBuffer(head.data(), static_cast<int64_t>(head.size()));
  }
  if (n.folder) {
    h.SetMethod(kMethodStored);
    h.SetCrc32(0);
    h.SetCompressedSize(0);
    h.SetUncompressedSize(0);
    item.ActualMethod = kMethodStored;
  } else {
    n.source->SetPosition(0);
    if (!ctx_.EncodeItem(*n.source, *data_out, n.size, item, n.is_deflated ? &n.deflated : nullptr)) return false;
  }
  SettleZip64Sizes(n);
  std::vector<uint8_t> final_head = LocalHeaderBytes(n, true);
  if (small) {
    final_head.insert(final_head.end(), staging->Data().begin(), staging->Data().end());
    return ctx_.WriteAsking(out, final_head.data(), static_cast<int64_t>(final_head.size()));
  }
  const int64_t end = out.Position();
  out.SetPosition(n.at);
  out.WriteBuffer(final_head.data(), static_cast<int64_t>(final_head.size()));
  out.SetPosition(end);
  return true;
}

void TCommit::SettleZip64Sizes(NewItem& n) {
  TDirItem& item = n.item;
  TCentralHeader& h = item.HeaderImage;
  if (n.zip64_sizes) {
    // The local ZIP64 field holds the true sizes; the central header marks
    // them as held there too.
    if (h.CompressedSize() != kZip64Marker) item.CompressedSize64 = h.CompressedSize();
    if (h.UncompressedSize() != kZip64Marker) item.UncompressedSize64 = h.UncompressedSize();
    h.SetCompressedSize(kZip64Marker);
    h.SetUncompressedSize(kZip64Marker);
  } else if (h.CompressedSize() == kZip64Marker) {
    throw ctx_.Error(NativeError::kZip64RefusedForItem, {item.ItemName});  // grew past its header
  }
}

bool TCommit::WriteItems(TStream& out, int from) {
  // What the items of several chunks share goes when the items are written.
  struct ReleasedAtEnd {
    ~ReleasedAtEnd() { ReleaseEncodeWorkspace(); }
  } released_at_end;
  TAFDirArray& items = dir_.Items();
  int old_total = 0;
  for (int i = from; i < items.Count(); ++i) old_total += plan_->items[i].saved >= 0;
  CopyProgress progress(ctx_, old_total);
  if (!progress.Report(ppStart)) return false;
  const TAFTuning tuning = ctx_.Settings().tuning;
  if (SecondCoreAllowed(tuning)) ahead_ = std::make_unique<TAddAhead>(tuning);
  for (int i = from; i < items.Count() && !ctx_.Cancelled();) {
    switch (WriteOneItem(i, out, progress)) {
      case ItemOutcome::kStopped: return false;
      case ItemOutcome::kWritten: ++i; break;
      case ItemOutcome::kFailed: DropFailedItem(i); break;
    }
  }
  return !ctx_.Cancelled() && progress.Report(ppEnd);
}

TCommit::ItemOutcome TCommit::WriteOneItem(int i, TStream& out, CopyProgress& progress) {
  const bool fresh = plan_->items[i].saved < 0;
  bool ok = true, stopped = false;
  int64_t start = 0;
  const TAFAction action = RetryWhileAsked(
      [&] {
        start = out.Position();
        if (fresh) {
          ok = WriteNewItem(i, out);
          return;
        }
        CopyOldItem(i, out);
        ok = true;
        progress.Count();
        stopped = !progress.Report(ppProcess);
      },
      [&](const EAFException& e, TAFAction& answer) {
        ok = false;
        out.SetSize(start);
        out.SetPosition(start);
        const TDirItem& it = dir_.Items().ItemRef(i);
        afp::WideString shown =
            it.Source && !it.Source->SourcePath.empty() ? it.Source->SourcePath : paths::Backslashed(it.ItemName);
        ctx_.AskOnFailure(shown, it.Operation, e.NativeError(), e.ErrorCode(), afp::FromUtf8(e.what()), answer);
      });
  if (stopped) return ItemOutcome::kStopped;
  if (action == fxaAbort) {
    ctx_.MarkAborted();
    return ItemOutcome::kStopped;
  }
  if (ctx_.Cancelled()) return ItemOutcome::kStopped;
  if (!ok) return ItemOutcome::kFailed;
  NoteMovedSource(i);
  if (fresh) ctx_.CountWritten();  // the overall progress counts the items written anew
  return ItemOutcome::kWritten;
}

void TCommit::NoteMovedSource(int i) {
  const TDirItem& it = dir_.Items().ItemRef(i);
  if (it.Operation != poMove || !it.Source || it.Source->SourcePath.empty()) return;
  if (it.IsDirectory())
    plan_->moved_folders.push_back(it.Source->SourcePath);
  else
    plan_->moved_files.push_back({it.Source->SourcePath, plan_->opened_stamp});
}

void TCommit::DropFailedItem(int i) {
  // An item that could not be added is left out; one that could not be
  // replaced keeps its old data.
  TAFDirArray& items = dir_.Items();
  PlannedItem& planned = plan_->items[i];
  const int old_index = items.ItemRef(i).SavedIndex;
  if (planned.saved < 0 && old_index >= 0 && old_index < dir_.SavedItems().Count()) {
    TDirItem old;
    dir_.SavedItems().GetItem(old_index, old);
    old.SavedIndex = old_index;
    items.PutItem(i, old);
    planned.saved = old_index;
    planned.renamed = false;
    return;
  }
  items.Delete(i);
  plan_->items.erase(plan_->items.begin() + i);
  if (ahead_) ahead_->ItemRemoved(i);
}

std::vector<uint8_t> TCommit::CentralRecord(int i) {
  const Plan& p = *plan_;
  const PlannedItem& planned = p.items[i];
  if (planned.saved >= 0 && !planned.renamed && p.raw[planned.saved].second) {
    const auto [at, length] = p.raw[planned.saved];
    std::vector<uint8_t> r(p.old_tail.begin() + static_cast<std::ptrdiff_t>(at),
                           p.old_tail.begin() + static_cast<std::ptrdiff_t>(at + length));
    if (SetCentralRecordOffset(r.data(), r.size(), static_cast<uint64_t>(planned.offset))) return r;
    // Otherwise the record is built anew.
  }
  return BuildCentralRecord(i);
}

std::vector<uint8_t> TCommit::BuildCentralRecord(int i) {
  const PlannedItem& planned = plan_->items[i];
  TDirItem& item = dir_.Items().ItemRef(i);
  const CommitSettings settings = ctx_.Settings();
  const int64_t off = planned.offset;
  TCentralHeader h = item.HeaderImage;
  if (off >= kZip64Marker || (planned.saved < 0 && h.LocalHeaderOffset() == kZip64Marker)) {
    h.SetLocalHeaderOffset(kZip64Marker);
    item.LocalHeaderOffset64 = off;
  } else {
    h.SetLocalHeaderOffset(static_cast<uint32_t>(off));
  }
  // A new or renamed item's name is encoded again as it was for its local
  // header.
  const bool as_saved = planned.saved >= 0 && !planned.renamed;
  const TStoredName name = as_saved ? EncodeItemName(item.ItemName, settings.code_pages, settings.oem_names,
                                                     (h.Flags() & kFlagUtf8) != 0, kMaxNameBytes)
                                    : StoredNameOf(settings, item.ItemName);
  h.SetFlags(WithFlag(h.Flags(), kFlagUtf8, name.utf8));
  TExtraFieldList others;
  if (planned.saved < 0 && CarriesUnicodeName(settings, item.ItemName))
    others.push_back(UnicodeNameField(item.ItemName));
  for (const auto& f : item.ExtraFields)
    if (f.Id != kExtraZip64 && !(planned.renamed && IsUnicodeNameField(f.Id))) others.push_back(f);
  std::vector<uint8_t> extra;
  if (Zip64CentralSize(h)) {
    extra = BuildZip64Central(h, static_cast<uint64_t>(item.UncompressedSize64),
                              static_cast<uint64_t>(item.CompressedSize64), static_cast<uint64_t>(off),
                              item.DiskNumberStart64);
  }
  std::vector<uint8_t> rest = BuildExtraArea(others);
  extra.insert(extra.end(), rest.begin(), rest.end());
  h.SetSignature(settings.signatures.central);
  h.SetNameLength(static_cast<uint16_t>(name.bytes.size()));
  h.SetExtraLength(static_cast<uint16_t>(extra.size()));
  h.SetCommentLength(static_cast<uint16_t>(item.Comment.size()));
  std::vector<uint8_t> r(h.bytes.begin(), h.bytes.end());
  Append(r, name.bytes.data(), name.bytes.size());
  Append(r, extra.data(), extra.size());
  Append(r, item.Comment.data(), item.Comment.size());
  return r;
}

void TCommit::WriteCentralDirectory(TStream& out) {
  const int64_t start = out.Position();
  std::vector<uint8_t> buf;
  buf.reserve(kDirectoryChunk + kDirectoryChunkSlack);
  for (int i = 0; i < dir_.Items().Count(); ++i) {
    std::vector<uint8_t> r = CentralRecord(i);
    buf.insert(buf.end(), r.begin(), r.end());
    if (buf.size() >= kDirectoryChunk) {
      out.WriteBuffer(buf.data(), static_cast<int64_t>(buf.size()));
      buf.clear();
    }
  }
  out.WriteBuffer(buf.data(), static_cast<int64_t>(buf.size()));
  dir_.WriteEndRecords(out, start);
}

void TCommit::Reload() { ReadDirectoryAgain(ctx_); }

// Items that are not read again from the written directory hold what was
// written for them, their unicode-name fields too.
void TCommit::KeepUnicodeNameFields() {
  if (!ctx_.Settings().unicode_names) return;
  for (int i = 0; i < dir_.Items().Count(); ++i) {
    if (plan_->items[i].saved >= 0) continue;
    TDirItem& item = dir_.Items().ItemRef(i);
    if (!CarriesUnicodeName(ctx_.Settings(), item.ItemName)) continue;
    TExtraFieldList& fields = item.ExtraFields.Mutable();
    fields.insert(fields.begin(), UnicodeNameField(item.ItemName));
  }
}

void TCommit::Restore() {
  ctx_.AbandonChanges();
  ctx_.EndProgress();
}

void TCommit::RollBack(ArchiveWriter& writer) {
  writer.Rollback();
  if (ctx_.Stream()) Restore();
}

void TCommit::Run() {
  ctx_.StartRun();
  const std::string new_comment = dir_.Comment();
  if (!FindFirstChange()) {
    ctx_.EndProgress();
    return;
  }
  if (GrowsPastClassicCount(ctx_.Settings().zip64, dir_.Items().Count(), dir_.SavedItems().Count())) {
    Restore();
    throw ctx_.Error(NativeError::kZip64Refused, {ctx_.FileName()});
  }
  const TAFProcessOperation op = CountItemsToWrite();
  bool cancel = false;
  ctx_.OverallProgress(0.0, op, ppStart, cancel);
  if (cancel) {
    ctx_.Cancel();
    Restore();
    return;
  }
  ReadOldDirectory();
  std::unique_ptr<ArchiveWriter> writer = ChooseWriter();
  if (!WriteArchive(*writer, new_comment)) return;
  RemoveMovedSources();
  bool end_cancel = false;
  ctx_.OverallProgress(100.0, op, ppEnd, end_cancel);
  ctx_.EndProgress();
}

bool TCommit::WriteArchive(ArchiveWriter& writer, const std::string& comment) {
  try {
    writer.Begin();
    CopyPrefix(writer.Stream());
    if (WriteItems(writer.Stream(), 0)) {
      dir_.SetComment(comment);
      WriteCentralDirectory(writer.Stream());
      if (writer.Commit())
        Reload();
      else
        KeepUnicodeNameFields();
      return true;
    }
  } catch (...) {
    RollBack(writer);
    throw;
  }
  // Cancelled or aborted: the archive stays as it was.
  RollBack(writer);
  return false;
}

void TCommit::RemoveMovedSources() {
  Plan& p = *plan_;
  // Files first, then the folders they leave empty, deepest first.
  for (const auto& f : p.moved_files)
    if (!RemoveMovedSource(f.path, false, f.stamp)) return;
  std::sort(p.moved_folders.begin(), p.moved_folders.end(),
            [](const afp::WideString& x, const afp::WideString& y) { return x.size() > y.size(); });
  for (const auto& d : p.moved_folders)
    if (!RemoveMovedSource(d, true, afp::FileStamp())) return;
}

// False when the failure question was answered Abort. A folder that still
// holds something (a file left out by a mask, say) stays: its content was
// never put in the archive. A file written to since it was opened for its
// item (a growing log, say) is kept: the archive holds it only as it was
// read.
bool TCommit::RemoveMovedSource(const afp::WideString& path, bool folder, const afp::FileStamp& stamp) {
  bool changed = false;
  const TAFAction action = RetryWhileAsked(
      [&] {
        bool gone;
        changed = false;
        if (folder) {
          gone = afp::RemoveDir(path) || !afp::ListDirectory(path).empty() || !afp::DirectoryExists(path);
        } else {
          const afp::FileStamp now = afp::GetFileStamp(path);
          changed = now.size >= 0 && !(now == stamp);
          gone = !changed && (afp::DeleteFile(path) || (afp::SetFileAttributes(path, 0) && afp::DeleteFile(path)) ||
                              afp::GetPathType(path) == afp::PathType::None);
        }
        if (!gone) throw ctx_.Error(folder ? NativeError::kCannotDeleteFolder : NativeError::kCannotDeleteFile, {path});
      },
      [&](const EAFException& e, TAFAction& answer) {
        afp::WideString message = afp::FromUtf8(e.what());
        if (changed) message += u": it changed after it was read into the archive, so it was kept";
        ctx_.AskOnFailure(path, poMove, e.NativeError(), e.ErrorCode(), message, answer);
      });
  return action != fxaAbort;
}

}  // namespace arcfold
