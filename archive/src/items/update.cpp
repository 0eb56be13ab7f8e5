// Update transactions and the operations that change an archive: items are
// added, replaced, deleted and renamed in the item array, and the commit
// (items/commit.cpp) writes the result.
#include <algorithm>
#include <memory>
#include <vector>

#include "arcfold/arcfold.h"
#include "codec/methods.h"
#include "component/session.h"
#include "directory/dir_manager.h"
#include "directory/item_time.h"
#include "items/overwrite_rule.h"
#include "items/path_parts.h"
#include "items/stored_name.h"
#include "platform/files.h"

namespace arcfold {

using paths::Backslashed;

namespace {
// Volumes of a set are numbered in 16 bits.
constexpr int kMaxVolumes = 0xFFFF;

// Where a file's Unix mode is kept, Unix tools look for it: the Unix host in
// "version made by" and the mode in the upper half of the external
// attributes, the DOS bits (folder, read-only) staying in the lower half.
void SetUnixMade(TCentralHeader& h, uint32_t unix_mode) {
  h.SetVersionMadeBy(static_cast<uint16_t>((kUnixHost << 8) | (h.VersionMadeBy() & 0xFF)));
  h.SetExternalAttributes((h.ExternalAttributes() & 0xFFFF) | (unix_mode << 16));
}

// How many folders above its start a relative path climbs before it goes
// down again: "../sub/s.txt" one, "a/../../b" one, "x/y" none.
int LevelsClimbed(const afp::WideString& relative) {
  int depth = 0, lowest = 0;
  size_t start = 0;
  while (start <= relative.size()) {
    size_t end = relative.find(u'\\', start);
    if (end == afp::WideString::npos) end = relative.size();
    const std::u16string_view segment(relative.data() + start, end - start);
    if (segment == u"..")
      lowest = std::min(lowest, --depth);
    else if (!segment.empty() && segment != u".")
      ++depth;
    start = end + 1;
  }
  return -lowest;
}

// The method of a new item: where the compression mode asks for
// compression, the method option chooses which (deflate by default).
uint16_t ChosenMethod(uint16_t mode_method, TAFCompressionMethod option) {
  return mode_method == kMethodDeflate ? MethodCode(option) : mode_method;
}

}  // namespace

void ArchiveSession::BeginUpdate() {
  if (!active_) throw EAFException::Create(NativeError::kArchiveNotOpen, &facade_);
  if (in_update_) return;
  // A set's volumes are written once, by the commit that creates the set:
  // volumes already on disks cannot be rewritten in place.
  if (spanning_mode_ != smNone && !in_memory_) {
    if (volumes_written_) throw EAFException::Create(NativeError::kVolumesAlreadyWritten, &facade_);
    if (open_mode_ != fmCreate) throw EAFException::Create(NativeError::kVolumesNeedCreateMode, &facade_);
  }
  LockForWriting();
  dir_->SavedItems().Assign(dir_->Items());
  for (int i = 0; i < dir_->Items().Count(); ++i) dir_->Items().ItemRef(i).SavedIndex = i;
  saved_comment_ = dir_->Comment();
  in_update_ = true;
  own_files_noted_ = false;
}

void ArchiveSession::EndUpdate() {
  if (!in_update_ || !dir_) return;
  in_update_ = false;
  try {
    RunCommit();
  } catch (...) {
    UnlockAfterWriting();
    throw;
  }
  UnlockAfterWriting();
}

ArchiveSession::TOwnTransaction::TOwnTransaction(ArchiveSession& a) : a_(a), own_(!a.in_update_) {
  if (own_) a_.BeginUpdate();
}

void ArchiveSession::AbandonTransaction() noexcept {
  in_update_ = false;
  if (!dir_) return;
  dir_->Items().Assign(dir_->SavedItems());
  dir_->SetComment(saved_comment_);
}

ArchiveSession::TOwnTransaction::~TOwnTransaction() {
  if (!own_ || !a_.in_update_) return;
  // The operation failed before its commit: its changes are dropped.
  a_.AbandonTransaction();
  a_.UnlockAfterWriting();
}

void ArchiveSession::TOwnTransaction::Finish() {
  if (own_) a_.EndUpdate();
}

void ArchiveSession::DeleteItem(int index) {
  if (!dir_ || index < 0 || index >= dir_->Items().Count())
    throw EAFException::Create(NativeError::kDeletedItemOutOfBounds, &facade_);
  if (!in_update_) throw EAFException::Create(NativeError::kDeleteOutsideUpdate, &facade_);
  dir_->Items().Delete(index);
}

int ArchiveSession::NewItemSlot(const afp::WideString& name, TAFProcessOperation op) {
  TAFDirArray& items = dir_->Items();
  int at;
  if (items.FindName(name, at)) {
    items.ItemRef(at).Operation = poUpdate;
    return at;
  }
  at = items.Count();
  items.SetCount(at + 1);
  items.ItemRef(at) = TDirItem();
  items.RenameItem(at, name);
  items.ItemRef(at).Operation = op;
  return at;
}

void ArchiveSession::SetNewHeader(TDirItem& item, uint16_t method, uint32_t dos_time, uint32_t attributes) {
  // The central header of an item still to be written: CRC and sizes come
  // when its data is encoded.
  TCentralHeader& h = item.HeaderImage;
  h = TCentralHeader();
  h.SetSignature(signatures_.central);
  const uint16_t version = options_.OEMFileNames ? 20 : 0x0B14;
  h.SetVersionMadeBy(version);
  h.SetVersionNeeded(VersionNeededWith(standard_signatures_ ? version : kAltVersion, method));
  h.SetMethod(method);
  item.ActualMethod = method;
  h.SetFlags(FlagsWith(password_.empty() ? 0 : kFlagEncrypted, method));
  h.SetTime(static_cast<uint16_t>(dos_time & 0xFFFF));
  h.SetDate(static_cast<uint16_t>(dos_time >> 16));
  h.SetCrc32(0xFFFFFFFF);
  h.SetExternalAttributes(attributes);
}

void ArchiveSession::PrepareItemFromFile(int index, const afp::WideString& source) {
  if (!dir_ || index < 0 || index >= dir_->Items().Count())
    throw EAFException::Create(NativeError::kUpdatedItemOutOfBounds, &facade_);
  if (!in_update_) throw EAFException::Create(NativeError::kUpdateItemOutsideUpdate, &facade_);
  PrepareItemAs(index, source, StoredNameForFile(source, AddingBase(), options_.StorePath));
}

void ArchiveSession::PrepareItemAs(int index, const afp::WideString& source, afp::WideString stored,
                                   const afp::FileInfo* known) {
  if (stored.empty()) return;
  const afp::FileInfo info = known ? *known : afp::GetFileInfo(source);
  const bool is_dir = info.directory;
  int32_t time = info.dos_time;
  if (time == -1) time = static_cast<int32_t>(DosDateTimeNow());
  uint32_t attrs = info.exists ? info.attributes : 32;
  if (is_dir && stored.back() != u'/') stored += u'/';
  std::string comment;
  int32_t attr32 = static_cast<int32_t>(attrs);
  DoStoreFile(stored, attr32, comment, source);
  if (stored.empty()) return;
  TAFDirArray& items = dir_->Items();
  const TAFProcessOperation op = items.ItemRef(index).Operation;
  if (items.ItemRef(index).ItemName != stored) items.RenameItem(index, stored);
  TDirItem& item = items.ItemRef(index);
  item.Source = std::make_shared<TItemSource>();
  item.Source->IsPending = true;
  item.Source->Password = password_;
  item.Source->SourcePath = source;
  item.Comment = comment;
  item.ExtraFields.clear();
  item.HasZip64 = false;
  item.CompressedSize64 = item.UncompressedSize64 = item.LocalHeaderOffset64 = 0;
  item.Marked = true;
  item.Operation = op == poAdd ? poAdd : poUpdate;
  // Names the caller chose to store as they are (archives, images, ...).
  bool no_compression = false;
  if (!no_compression_masks_.empty()) {
    const afp::WideString file_part = paths::FilePart(Backslashed(stored));
    no_compression = std::any_of(no_compression_masks_.begin(), no_compression_masks_.end(),
                                 [&](const afp::WideString& m) { return MaskMatch(file_part, m); });
  }
  item.ItemCompressionMode = is_dir || no_compression ? 0 : compression_mode_;
  const uint16_t mode_method = compression_method_ == 0xFFFF ? kMethodDeflate : compression_method_;
  const uint16_t method =
      is_dir || no_compression ? kMethodStored : ChosenMethod(mode_method, options_.CompressionMethod);
  SetNewHeader(item, method, static_cast<uint32_t>(time), static_cast<uint32_t>(attr32));
  TCentralHeader& h = item.HeaderImage;
  if (info.unix_mode != 0) SetUnixMade(h, info.unix_mode);
  if (is_dir) {
    h.SetMethod(kMethodStored);
    item.ActualMethod = kMethodStored;
    h.SetCrc32(0);
    h.SetFlags(2);
  }
}

afp::WideString ArchiveSession::AddingBase() const {
  // One operation looks the current folder up once, not once per file.
  if (!adding_base_.empty()) return adding_base_;
  return base_dir_.empty() ? afp::GetCurrentDir() : base_dir_;
}

void ArchiveSession::UpdateItemFromFile(int index, const afp::WideString& name, const afp::WideString& dest_folder) {
  if (!dir_ || index < 0 || index >= dir_->Items().Count())
    throw EAFException::Create(NativeError::kUpdatedItemOutOfBounds, &facade_);
  if (dir_->Items().ItemRef(index).HeaderImage.ExternalAttributes() & afp::kAttrDirectory) return;
  const afp::WideString n = Backslashed(name);
  afp::WideString source;
  if (paths::HasDrive(n) || n.rfind(u"\\\\", 0) == 0)
    source = n;
  else if (!n.empty() && n[0] == u'\\')
    source = ExpandFileName(n);
  else
    source = ExpandFileName(Backslashed(dest_folder) + u"\\" + n);
  if (!afp::FileExists(source) || !ReplaceWith(index, source)) return;
  // Stored names are made relative to BaseDir while the item is prepared.
  const afp::WideString saved_base = adding_base_;
  adding_base_ = ExpandFileName(base_dir_.empty() ? afp::GetCurrentDir() : base_dir_);
  try {
    PrepareItemFromFile(index, source);
  } catch (...) {
    adding_base_ = saved_base;
    throw;
  }
  adding_base_ = saved_base;
}

void ArchiveSession::NoteOwnFiles() {
  if (own_files_noted_ && own_files_of_ == file_name_) return;
  own_files_noted_ = true;
  own_files_of_ = file_name_;
  own_files_.clear();
  if (in_memory_) return;
  auto note = [this](const afp::WideString& path) {
    const afp::FileTarget id = afp::GetFileTarget(path);
    if (id.type != afp::PathType::None) own_files_.push_back(id);
    return id.type != afp::PathType::None;
  };
  note(file_name_);
  if (spanning_mode_ != smSplitting) return;
  for (int i = 0; i < kMaxVolumes; ++i) {
    afp::WideString volume = file_name_;
    VolumeFileName(volume, i, false);
    if (!note(volume)) break;
  }
}

bool ArchiveSession::IsOwnFile(const afp::WideString& path) const {
  if (in_memory_) return false;
  if (afp::IsUniqueTempName(paths::FilePart(path)) &&
      NameKey(paths::FolderPart(path)) == NameKey(paths::FolderPart(ExpandFileName(file_name_))))
    return true;
  if (own_files_.empty()) return false;
  const afp::FileTarget id = afp::GetFileTarget(path);
  return std::any_of(own_files_.begin(), own_files_.end(), [&](const afp::FileTarget& f) { return f.SameFileAs(id); });
}

const afp::WideString& ArchiveSession::ExpandedOnce(TExpansionMemo& memo, const afp::WideString& path) {
  // A relative path is expanded against the current folder, which may
  // change between calls: only absolute ones are kept.
  if (!memo.path.empty() && memo.path == path) return memo.expanded;
  memo.expanded = ExpandFileName(path);
  memo.path = paths::IsAbsolute(Backslashed(path)) ? path : afp::WideString();
  return memo.expanded;
}

void ArchiveSession::AddOnePath(const afp::WideString& full, bool folder, const afp::FileInfo* known) {
  if (!folder && IsOwnFile(full)) return;
  const afp::WideString& base = AddingBase();
  const afp::WideString& expanded_base = ExpandedOnce(adding_base_memo_, base.empty() ? afp::GetCurrentDir() : base);
  afp::WideString base_folder;
  base_folder.reserve(expanded_base.size() + 1);
  base_folder = expanded_base;
  if (base_folder.back() != u'\\') base_folder += u'\\';
  const afp::WideString named = StoredNameUnder(full, base_folder, options_.StorePath);
  if (named.empty()) return;
  const afp::WideString stored = folder ? named + u'/' : named;
  int existing;
  if (adding_ == poUpdate && !folder && dir_->Items().FindName(stored, existing)) {
    if (!ReplaceWith(existing, full)) return;
    known = nullptr;  // the file is looked at again after the question
  }
  const int at = NewItemSlot(stored, poAdd);
  PrepareItemAs(at, full, named, known);
  if (adding_ == poMove && dir_->Items().ItemRef(at).Source) dir_->Items().ItemRef(at).Operation = poMove;
  // A handler of OnStoreFile may have left the item out.
  if (!dir_->Items().ItemRef(at).Source && dir_->Items().ItemRef(at).SavedIndex < 0) DeleteItem(at);
}

void ArchiveSession::AddPath(const afp::WideString& path, const afp::WideString& mask,
                             const afp::WideString& exclusion_mask, bool recurse) {
  // path is a folder ending in "\"; its entries matching mask are added,
  // and with recurse its folders with all they hold. Links to folders are
  // not followed.
  if (exclusion_mask == u"*") return;  // every entry is left out: no need to list them
  bool readable = true;
  std::vector<afp::DirEntry> entries = afp::ListDirectoryEntries(path, &readable);
  // A folder that is there but cannot be read is not taken for an empty
  // one: what it holds would be missing from the archive without a word.
  if (!readable && afp::DirectoryExists(path)) {
    const afp::WideString folder = path.substr(0, path.size() - 1);
    throw EAFException::CreateFmt(NativeError::kCannotOpenFile, &facade_, {folder});
  }
  std::sort(entries.begin(), entries.end(),
            [](const afp::DirEntry& a, const afp::DirEntry& b) { return a.name < b.name; });
  for (const auto& entry : entries) {
    const afp::WideString& name = entry.name;
    const afp::WideString full = path + name;
    if (!exclusion_mask.empty() && MaskMatch(name, exclusion_mask)) continue;
    const bool folder = afp::TypeOfEntry(entry, full) == afp::PathType::Directory;
    if (folder) {
      if (!recurse) continue;
      AddOnePath(full, true);
      AddPath(full + u"\\", mask, exclusion_mask, recurse);
    } else if (MaskMatch(name, mask)) {
      AddOnePath(full, false);
    }
  }
}

bool ArchiveSession::ReplaceWith(int index, const afp::WideString& file) {
  // The overwrite rules, with the item in the archive as the one that may
  // be replaced and the file on disk as its replacement.
  const TDirItem& item = dir_->Items().ItemRef(index);
  OverwriteSide existing{Backslashed(item.ItemName), [&item] { return ItemDosDateTime(item); }};
  const OverwriteSide incoming{file, [&file] { return afp::GetFileDosDateTime(file); }};
  return MayOverwrite(facade_, item.HeaderImage.ExternalAttributes(), existing, incoming);
}

void ArchiveSession::AddFiles(const afp::WideString& file_mask, uint32_t search_attr,
                              const afp::WideString& exclusion_mask) {
  AddMatching(file_mask, search_attr, exclusion_mask, poAdd);
}

void ArchiveSession::UpdateFiles(const afp::WideString& file_mask, uint32_t search_attr,
                                 const afp::WideString& exclusion_mask) {
  AddMatching(file_mask, search_attr, exclusion_mask, poUpdate);
}

void ArchiveSession::MoveFiles(const afp::WideString& file_mask, uint32_t search_attr,
                               const afp::WideString& exclusion_mask) {
  AddMatching(file_mask, search_attr, exclusion_mask, poMove);
}

void ArchiveSession::AddLookedAt(const afp::WideString& path, const afp::FileInfo& known, TAFProcessOperation how) {
  const TAFProcessOperation adding = how == poUpdate || how == poMove ? how : poAdd;
  AddMatching(path, kAnyAttributes, afp::WideString(), adding, known.exists ? &known : nullptr);
}

void ArchiveSession::AddMatching(const afp::WideString& file_mask, uint32_t /*search_attr*/,
                                 const afp::WideString& exclusion_mask, TAFProcessOperation how,
                                 const afp::FileInfo* known) {
  if (!active_) throw EAFException::Create(NativeError::kArchiveNotOpen, &facade_);
  TOwnTransaction transaction(*this);
  struct Restore {
    ArchiveSession& a;
    ~Restore() {
      a.adding_ = poAdd;
      a.adding_base_.clear();
    }
  } restore{*this};
  adding_ = how;
  NoteOwnFiles();
  const afp::WideString base = base_dir_.empty() ? afp::GetCurrentDir() : base_dir_;
  adding_base_ = base;
  const afp::WideString given = Backslashed(file_mask);
  const bool absolute = paths::IsAbsolute(given);
  const afp::WideString full = ExpandFileName(absolute ? given : Backslashed(base) + u"\\" + given);
  // What lies beside or above the base ("..", "../other/f.txt") is named from
  // the highest folder its path climbs to, as zip's "../" names are
  // extracted: "../other/f.txt" is "other/f.txt" whichever file of a walk
  // comes, never the absolute path.
  if (options_.StorePath == spRelativePath) {
    const int climbed = absolute ? 0 : LevelsClimbed(given);
    afp::WideString naming_base = Backslashed(base);
    for (int i = 0; i < climbed; ++i) naming_base += u"\\..";
    const afp::WideString common = CommonFolder(full, ExpandedOnce(naming_base_memo_, naming_base));
    if (!common.empty()) adding_base_ = common;
  }
  // One look tells a folder from a file and gives what the item needs.
  const afp::FileInfo info = known ? *known : afp::GetFileInfo(full);
  if (info.exists && info.directory) {
    // A folder: the folder itself and, with Recurse, all it holds.
    AddOnePath(full, true, &info);
    AddPath(full + u"\\", u"*", exclusion_mask, options_.Recurse);
  } else if (full.find_first_of(u"*?") == afp::WideString::npos) {
    if (!info.exists) throw EAFException::CreateFmt(NativeError::kCannotOpenFile, &facade_, {full});
    AddOnePath(full, false, &info);
  } else {
    AddPath(paths::FolderPart(full), paths::FilePart(full), exclusion_mask, options_.Recurse);
  }
  transaction.Finish();
}

void ArchiveSession::AddFromStream(const afp::WideString& name, TStream* stream, bool owns) {
  // A stream handed over is freed also when the item is refused before it
  // takes the stream.
  std::unique_ptr<TStream> owned(owns ? stream : nullptr);
  if (!active_) throw EAFException::Create(NativeError::kArchiveNotOpen, &facade_);
  TOwnTransaction transaction(*this);
  afp::WideString stored = paths::Replace(name, u'\\', u'/');
  while (!stored.empty() && stored[0] == u'/') stored.erase(0, 1);
  if (stored.empty()) throw EAFException::CreateFmt(NativeError::kCannotCreateFile, &facade_, {name});
  int at = NewItemSlot(stored, poAdd);
  TDirItem& item = dir_->Items().ItemRef(at);
  item.Source = std::make_shared<TItemSource>();
  item.Source->IsPending = true;
  item.Source->Password = password_;
  item.Source->SourceStream = stream;
  item.Source->OwnsSourceStream = owns;
  owned.release();
  item.Marked = true;
  item.Comment.clear();
  item.ExtraFields.clear();
  item.HasZip64 = false;
  item.ItemCompressionMode = compression_mode_;
  const uint16_t method =
      ChosenMethod(compression_method_ == 0xFFFF ? kMethodDeflate : compression_method_, options_.CompressionMethod);
  SetNewHeader(item, method, DosDateTimeNow(), afp::kAttrArchive);
  transaction.Finish();
}

void ArchiveSession::AddFromBuffer(const afp::WideString& name, const void* data, int64_t size) {
  auto mem = std::make_unique<TMemoryStream>();
  mem->WriteBuffer(data, size);
  AddFromStream(name, mem.release(), true);
}

void ArchiveSession::DeleteFiles(const afp::WideString& file_mask, uint32_t search_attr,
                                 const afp::WideString& exclusion_mask) {
  if (!active_) throw EAFException::Create(NativeError::kArchiveNotOpen, &facade_);
  TOwnTransaction transaction(*this);
  MarkItems(file_mask, search_attr, exclusion_mask);
  TAFDirArray& items = dir_->Items();
  for (int i = items.Count() - 1; i >= 0; --i)
    if (items.ItemRef(i).Marked) DeleteItem(i);
  transaction.Finish();
}

void ArchiveSession::RenameFile(const afp::WideString& old_name, const afp::WideString& new_name) {
  if (!active_) throw EAFException::Create(NativeError::kArchiveNotOpen, &facade_);
  TOwnTransaction transaction(*this);
  TAFDirArray& items = dir_->Items();
  const afp::WideString from = paths::Replace(old_name, u'\\', u'/');
  afp::WideString to = paths::Replace(new_name, u'\\', u'/');
  int at, other;
  if (!items.FindName(from, at)) throw EAFException::Create(NativeError::kItemOutOfBounds, &facade_);
  if (to.empty()) throw EAFException::CreateFmt(NativeError::kCannotCreateFile, &facade_, {new_name});
  if (items.FindName(to, other) && other != at) throw EAFException::Create(NativeError::kDuplicateName, &facade_);
  // The item keeps its place in SavedItems: the commit finds its old data
  // by that, however often it was renamed since.
  items.RenameItem(at, to);
  items.ItemRef(at).Operation = poRename;
  items.ItemRef(at).Marked = true;
  transaction.Finish();
}

void ArchiveSession::SetArchiveComment(const std::string& comment) {
  if (!active_) throw EAFException::Create(NativeError::kArchiveNotOpen, &facade_);
  TOwnTransaction transaction(*this);
  dir_->SetComment(comment);
  transaction.Finish();
}

}  // namespace arcfold
