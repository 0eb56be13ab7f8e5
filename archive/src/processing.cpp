// The run over marked items, and extracting, testing and decoding one item.
#include <algorithm>
#include <mutex>
#include <thread>

#include "arcfold/aes_prefetch.h"
#include "arcfold/arcfold.h"
#include "arcfold/decode.h"
#include "arcfold/dir_manager.h"
#include "arcfold/item_time.h"
#include "path_parts.h"
#include "platform/files.h"
#include "platform/lock.h"

namespace arcfold {

using paths::Backslashed;
using paths::FilePart;
using paths::FolderPart;

namespace {

// A stored name that would put its file outside the destination folder: a
// drive, a share or a root in front, or a ".." segment anywhere.
bool LeavesDestination(const afp::WideString& name) {
  if (name.find(u':') != afp::WideString::npos) return true;
  if (!name.empty() && name[0] == u'\\') return true;
  size_t start = 0;
  while (start <= name.size()) {
    size_t end = name.find(u'\\', start);
    if (end == afp::WideString::npos) end = name.size();
    if (name.compare(start, end - start, u"..") == 0) return true;
    start = end + 1;
  }
  return false;
}

constexpr uint32_t kUnixHost = 3;

// Whether a folder of `relative` (a "\"-separated path below dest) already
// exists as a symbolic link: writing through it would put the file wherever
// the link points. Missing folders end the walk, since they are made here.
bool LinkBelow(const afp::WideString& dest, const afp::WideString& relative) {
  afp::WideString path = dest;
  size_t start = 0;
  while (start < relative.size()) {
    size_t end = relative.find(u'\\', start);
    if (end == afp::WideString::npos) end = relative.size();
    path.append(relative, start, end - start);
    switch (afp::GetPathType(path)) {
      case afp::PathType::Link: return true;
      case afp::PathType::Directory: break;
      default: return false;
    }
    path += u'\\';
    start = end + 1;
  }
  return false;
}

}  // namespace

void TAFBaseArchiver::ExtractFiles(const afp::WideString& file_mask, uint32_t search_attr,
                                   const afp::WideString& exclusion_mask) {
  CheckActiveNoUpdate();
  if (!options_.Recurse && file_mask.find_first_of(u"*?") == afp::WideString::npos && exclusion_mask.empty() &&
      search_attr == 10431) {
    TAFArchiveItem item;
    if (!FindFirst(file_mask, item, search_attr, exclusion_mask)) return;
    dir_->Items.ItemRef(item.SearchState.Position).Marked = true;
    ProcessMarkedItems(poExtract, item.SearchState.Position);
    return;
  }
  MarkItems(file_mask, search_attr, exclusion_mask);
  ProcessMarkedItems(poExtract, -1);
}

void TAFBaseArchiver::TestFiles(const afp::WideString& file_mask, uint32_t search_attr,
                                const afp::WideString& exclusion_mask) {
  CheckActiveNoUpdate();
  MarkItems(file_mask, search_attr, exclusion_mask);
  ProcessMarkedItems(poTest, -1);
}

void TAFBaseArchiver::ProcessMarkedItems(TAFProcessOperation op, int index) {
  if (!active_ || !dir_) throw EAFException::Create(13, this);
  std::lock_guard<std::recursive_mutex> lock(afp::ProcessLock());
  last_folder_made_.clear();
  processed_count_ = 0;
  total_count_ = 0;
  skipped_existing_ = 0;
  cancel_ = false;
  progress_active_ = true;
  TAFDirArray& items = dir_->Items;
  if (index == -1) {
    for (int i = 0; i < items.Count(); ++i) total_count_ += items.ItemRef(i).Marked ? 1 : 0;
  } else {
    total_count_ = 1;
  }
  const bool reports = op == poExtract || op == poTest;
  std::unique_ptr<TAesKeyPrefetcher> prefetch;
  TAesKeyDeriver saved_deriver = aes_key_deriver_;
  if (reports) {
    prefetch = StartAesPrefetch(index);
    if (prefetch) aes_key_deriver_ = prefetch->Deriver();
  }
  struct RestoreDeriver {
    TAesKeyDeriver& slot;
    TAesKeyDeriver saved;
    ~RestoreDeriver() { slot = std::move(saved); }
  } restore{aes_key_deriver_, saved_deriver};
  if (reports) DoOverallProgress(0.0, op, ppStart, cancel_);
  TAFAction action = fxaIgnore;
  if (!cancel_) {
    int i = index == -1 ? 0 : index;
    while (i >= 0 && i < items.Count()) {
      if (!items.ItemRef(i).Marked) {
        if (index != -1) break;
        ++i;
        continue;
      }
      items.ItemRef(i).Operation = op;
      bool retry;
      do {
        retry = false;
        action = fxaIgnore;
        afp::WideString name = Backslashed(items.ItemRef(i).ItemName);
        try {
          bool confirm = true;
          DoConfirmProcessFile(name, op, confirm);
          if (confirm) {
            if (working_folder_.empty()) working_folder_ = afp::GetCurrentDir();
            afp::WideString dest = DestinationFolder();
            if (reports) DoFileProgress(name, 0.0, op, ppStart, cancel_);
            if (!cancel_) {
              if (op == poExtract) ExtractItem(i, name, dest);
              else if (op == poTest) TestItem(i);
              if (reports) {
                bool was = cancel_;
                DoFileProgress(name, 100.0, op, ppEnd, cancel_);
                cancel_ = cancel_ || was;
              }
              if (!cancel_) ++processed_count_;
            }
          }
        } catch (const EAFException& e) {
          DoProcessFileFailure(name, op, e.NativeError(), e.ErrorCode(), afp::FromUtf8(e.what()), action);
          retry = action == fxaRetry;
        }
      } while (retry);
      if (action == fxaAbort || cancel_) break;
      if (index != -1) break;
      ++i;
    }
  }
  if (reports) {
    bool was = cancel_;
    DoOverallProgress(100.0, op, ppEnd, cancel_);
    cancel_ = cancel_ || was;
  }
  if (cancel_ || action == fxaAbort) in_update_ = false;
  last_run_aborted_ = action == fxaAbort;
  // Progress belongs to this run; a later direct DecodeItem reports none.
  progress_active_ = false;
}

std::unique_ptr<TAesKeyPrefetcher> TAFBaseArchiver::StartAesPrefetch(int index) {
  // Only worth a thread when several AES items come, the archive is a file
  // that a second handle can read, and there is a second core.
  if (index != -1 || in_memory_ || stream_is_callers_ || spanning_mode_ != smNone ||
      std::thread::hardware_concurrency() < 2 || !dynamic_cast<TFileStream*>(stream_))
    return nullptr;
  std::vector<TAesKeyPrefetcher::Job> jobs;
  const TAFDirArray& items = dir_->Items;
  for (int i = 0; i < items.Count(); ++i) {
    const TDirItem& it = items.ItemRef(i);
    if (!it.Marked || !(it.HeaderImage.Flags() & kFlagEncrypted) || it.CryptoAlgorithm == caPkzipClassic ||
        it.HeaderImage.VersionNeeded() >= kAltVersion || (it.HeaderImage.ExternalAttributes() & 0x10))
      continue;
    jobs.push_back({it.LocalHeaderOffset(), static_cast<uint16_t>(8 + 8 * it.CryptoAlgorithm)});
  }
  if (jobs.size() < 2) return nullptr;
  return std::make_unique<TAesKeyPrefetcher>(current_volume_file_name_, password_, std::move(jobs));
}

void TAFBaseArchiver::ExtractItem(int index, const afp::WideString& name, const afp::WideString& dest_folder) {
  const TDirItem& item = dir_->Items.ItemRef(index);
  afp::WideString file_name = name;
  uint32_t attr = item.HeaderImage.ExternalAttributes();
  DoExtractFile(file_name, attr, item.Comment);
  const bool renamed_by_handler = file_name != name;
  if (paths::HasControlCharacter(file_name)) throw EAFException::CreateFmt(19, this, {file_name});
  if (!renamed_by_handler && !options_.AllowAbsolutePaths && LeavesDestination(file_name))
    throw EAFException::CreateFmt(19, this, {file_name});
  // A drive, a share or a root in front (only a handler or AllowAbsolutePaths
  // gets this far with one) replaces the destination; anything else lands
  // below it, with empty and "." segments collapsed so that they can never
  // turn the composed path into another one.
  const bool absolute = file_name.find(u':') != afp::WideString::npos || (!file_name.empty() && file_name[0] == u'\\');
  afp::WideString dest = dest_folder;
  if (absolute) {
    dest.clear();
  } else {
    file_name = paths::CollapseSegments(file_name);
  }
  const bool is_folder = (item.HeaderImage.ExternalAttributes() & 0x10) || item.IsDirectory() ||
                         (!file_name.empty() && file_name.back() == u'\\');
  if (file_name.empty() && !is_folder) throw EAFException::CreateFmt(19, this, {name});
  if (!options_.CreateDirs) {
    file_name = FilePart(file_name);
  } else {
    afp::WideString folder = dest + FolderPart(file_name);
    // Items of one folder usually follow each other: checking the folder
    // once per run of items saves system calls per file.
    if (!folder.empty() && folder != last_folder_made_) {
      if (!absolute && !options_.AllowLinksInDestination && LinkBelow(dest, FolderPart(file_name)))
        throw EAFException::CreateFmt(19, this, {dest + file_name});
      if (!afp::DirectoryExists(folder) && !afp::ForceDirectories(folder))
        throw EAFException::CreateFmt(20, this, {folder});
      last_folder_made_ = folder;
    }
  }
  if (is_folder || file_name.empty()) return;
  const TDirItem& it = dir_->Items.ItemRef(index);
  afp::WideString target = dest + file_name;
  auto KeepExisting = [this] { ++skipped_existing_; };
  // Whether a file is there matters only when an answer depends on it: with
  // omAlways and ReplaceReadOnly the rename below replaces whatever is there,
  // and a fresh extraction of many small files saves a call per file.
  const bool must_look = options_.OverwriteMode != omAlways || !options_.ReplaceReadOnly;
  const afp::PathType existing_type = must_look ? afp::GetPathType(target) : afp::PathType::None;
  if (existing_type == afp::PathType::File ||
      (existing_type == afp::PathType::Link && afp::FileExists(target))) {
    uint32_t existing = afp::GetFileAttributes(target);
    if (existing == afp::kInvalidAttributes) existing = 4;
    if (!options_.ReplaceReadOnly && (existing & afp::kAttrReadOnly)) return KeepExisting();
    switch (options_.OverwriteMode) {
      case omPrompt: {
        bool confirm = false;
        DoConfirmOverwrite(file_name, target, confirm);
        if (!confirm) return KeepExisting();
        break;
      }
      case omAlways: break;
      case omNever: return KeepExisting();
      case omIfNewer:
      case omIfOlder: {
        int32_t e = afp::GetFileDosDateTime(target);
        int32_t i = static_cast<int32_t>((static_cast<uint32_t>(it.HeaderImage.Date()) << 16) | it.HeaderImage.Time());
        if (options_.OverwriteMode == omIfNewer ? e >= i : i >= e) return KeepExisting();
        break;
      }
    }
  }
  // The item is decoded into a new file beside the target and renamed over
  // it only once size, CRC and MAC have checked: a failure, a cancel or a
  // kill never costs the file that was there, nor leaves a short file under
  // the final name. The rename replaces whatever sits at the target (a file,
  // or a link planted there) and never writes through it.
  std::unique_ptr<TFileStream> out;
  afp::WideString temp;
  for (int attempt = 0; !out && attempt < 16; ++attempt) {
    temp = afp::UniqueTempName(FolderPart(target));
    try {
      out = std::make_unique<TFileStream>(temp, fmCreateNew);
    } catch (const EStreamError&) {
      if (afp::GetPathType(temp) == afp::PathType::None) break;  // not a name clash: the folder refuses
    }
  }
  if (!out) throw EAFException::CreateFmt(19, this, {target});
  bool failed = false;
  std::exception_ptr error;
  try {
    DecodeItem(index, *out);
  } catch (...) {
    failed = true;
    error = std::current_exception();
  }
  const bool keep = !(skip_ || cancel_ || failed);
  if (keep) {
    const TDirItem& done = dir_->Items.ItemRef(index);
    if (auto exact = ExactModificationTime(done)) afp::SetFileUnixTimeFd(out->Handle(), *exact);
    else afp::SetFileDosDateTimeFd(out->Handle(), done.HeaderImage.Date(), done.HeaderImage.Time());
    if (options_.FlushBuffers && afp::IsRemovableFd(out->Handle())) out->Flush();
    if (options_.SetAttributes) {
      // Unix-made archives keep permission bits in the upper half; links and
      // special files were written as plain files, so only 0777 applies. The
      // attributes go on through the open handle: one call, no path lookup.
      uint32_t unix_mode = (done.HeaderImage.VersionMadeBy() >> 8) == kUnixHost ? (attr >> 16) & 0777 : 0;
      afp::SetFdAttributes(out->Handle(), attr, unix_mode);
    }
  }
  out.reset();
  if (!keep) {
    afp::DeleteFile(temp);
    if (error) std::rethrow_exception(error);
    return;
  }
  if (!afp::ReplaceFile(temp, target)) {
    afp::DeleteFile(temp);
    throw EAFException::CreateFmt(19, this, {target});
  }
}

void TAFBaseArchiver::TestItem(int index) {
  if (dir_->Items.ItemRef(index).HeaderImage.ExternalAttributes() & 0x10) return;
  TNullStream null;
  DecodeItem(index, null);
}

void TAFBaseArchiver::DecodeItem(int index, TStream& out) {
  if (!dir_ || index < 0 || index >= dir_->Items.Count()) throw EAFException::Create(16, this);
  TDirItem& item = dir_->Items.ItemRef(index);
  volume_info_.LastVolumeNumber = static_cast<int32_t>(dir_->LastDisk());
  volume_info_.SetNumber(static_cast<int32_t>(item.DiskNumberStart()));
  stream_->SetPosition(item.LocalHeaderOffset());
  // A skip answered for an earlier item must not excuse this one, whichever
  // way the decoder leaves.
  skip_ = false;
  bool ok;
  try {
    ok = DecodeItemData(*this, *stream_, out, item);
  } catch (const EReadError&) {
    ok = false;  // the archive ends inside the item: damaged data, not a broken run
  }
  if (!ok && !cancel_ && !extract_corrupted_files_ && !skip_) throw EAFException::Create(8, this);
}

}  // namespace arcfold
