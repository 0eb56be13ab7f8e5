// The run over marked items: ExtractFiles and TestFiles choose the items,
// ProcessMarkedItems walks them firing the events, and DecodeItem hands one
// item's data to the codec pipeline.
#include <algorithm>
#include <memory>
#include <mutex>
#include <thread>

#include "arcfold/arcfold.h"
#include "codec/decode.h"
#include "codec/second_core.h"
#include "component/session.h"
#include "crypto/aes_prefetch.h"
#include "directory/dir_manager.h"
#include "items/extract_ahead.h"
#include "items/item_retry.h"
#include "items/new_file.h"
#include "items/path_parts.h"
#include "platform/files.h"
#include "platform/lock.h"
#include "volumes/volume_reader.h"

namespace arcfold {

using paths::Backslashed;

void ArchiveSession::ExtractFiles(const afp::WideString& file_mask, uint32_t search_attr,
                                  const afp::WideString& exclusion_mask) {
  CheckActiveNoUpdate();
  if (!options_.Recurse && file_mask.find_first_of(u"*?") == afp::WideString::npos && exclusion_mask.empty() &&
      search_attr == kAnyAttributes) {
    TAFArchiveItem item;
    if (!FindFirst(file_mask, item, search_attr, exclusion_mask)) return;
    dir_->Items().ItemRef(item.SearchState.Position).Marked = true;
    ProcessMarkedItems(poExtract, item.SearchState.Position);
    return;
  }
  MarkItems(file_mask, search_attr, exclusion_mask);
  ProcessMarkedItems(poExtract, -1);
}

void ArchiveSession::TestFiles(const afp::WideString& file_mask, uint32_t search_attr,
                               const afp::WideString& exclusion_mask) {
  CheckActiveNoUpdate();
  MarkItems(file_mask, search_attr, exclusion_mask);
  ProcessMarkedItems(poTest, -1);
}

void ArchiveSession::ProcessMarkedItems(TAFProcessOperation op, int index) {
  if (!active_ || !dir_) throw EAFException::Create(NativeError::kArchiveNotOpen, &facade_);
  std::lock_guard<std::recursive_mutex> lock(afp::ProcessLock());
  struct RunFlag {
    bool& flag;
    bool saved;
    ~RunFlag() { flag = saved; }
  } in_run{in_item_run_, in_item_run_};
  in_item_run_ = true;
  StartRunCounts(index);
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
  if (op == poExtract && total_count_ > 0) {
    // Helpers decode into the destination itself until an item's folder is
    // checked: what killed runs left there goes before this run starts.
    const afp::WideString dest = !base_dir_.empty()         ? base_dir_
                                 : !working_folder_.empty() ? working_folder_
                                                            : afp::GetCurrentDir();
    if (!dest.empty() && afp::DirectoryExists(dest)) afp::RemoveDeadTempFiles(dest);
  }
  std::unique_ptr<TExtractAhead> ahead = StartExtractAhead(op, index);
  struct ForgetHelpers {
    TExtractAhead*& slot;
    ~ForgetHelpers() { slot = nullptr; }
  } forget{ahead_};
  ahead_ = ahead.get();
  if (reports) DoOverallProgress(0.0, op, ppStart, cancel_);
  const TAFAction action = cancel_ ? fxaIgnore : RunMarkedItems(op, index, ahead.get());
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

void ArchiveSession::StartRunCounts(int index) {
  last_folder_made_.clear();
  removable_checked_for_.clear();  // a disk may have been changed between runs
  processed_count_ = 0;
  total_count_ = 0;
  skipped_existing_ = 0;
  cancel_ = false;
  progress_active_ = true;
  const TAFDirArray& items = dir_->Items();
  if (index == -1) {
    for (int i = 0; i < items.Count(); ++i) total_count_ += items.ItemRef(i).Marked ? 1 : 0;
  } else {
    total_count_ = 1;
  }
}

TAFAction ArchiveSession::RunMarkedItems(TAFProcessOperation op, int index, TExtractAhead* ahead) {
  TAFDirArray& items = dir_->Items();
  TAFAction action = fxaIgnore;
  int i = index == -1 ? 0 : index;
  while (i >= 0 && i < items.Count()) {
    if (!items.ItemRef(i).Marked) {
      if (index != -1) break;
      ++i;
      continue;
    }
    items.ItemRef(i).Operation = op;
    bool deleted = false;
    afp::WideString name;
    action = RetryWhileAsked(
        [&] {
          name = Backslashed(items.ItemRef(i).ItemName);
          deleted = ProcessOneItem(op, i, name);
        },
        [&](const EAFException& e, TAFAction& answer) {
          DoProcessFileFailure(name, op, e.NativeError(), e.ErrorCode(), afp::FromUtf8(e.what()), answer);
        });
    if (ahead) ahead->Passed(i);
    if (action == fxaAbort || cancel_) break;
    if (index != -1) break;
    if (!deleted) ++i;  // a deleted item's successor moved into its place
  }
  return action;
}

bool ArchiveSession::ProcessOneItem(TAFProcessOperation op, int i, const afp::WideString& name) {
  const bool reports = op == poExtract || op == poTest;
  bool confirm = true;
  DoConfirmProcessFile(name, op, confirm);
  if (!confirm) return false;
  if (working_folder_.empty()) working_folder_ = afp::GetCurrentDir();
  afp::WideString dest = DestinationFolder();
  if (reports) DoFileProgress(name, 0.0, op, ppStart, cancel_);
  if (cancel_) return false;
  bool deleted = false;
  if (op == poExtract)
    ExtractItem(i, name, dest);
  else if (op == poTest)
    TestItem(i);
  else if (op == poDelete) {
    DeleteItem(i);
    deleted = true;
  } else if (op == poUpdate)
    UpdateItemFromFile(i, name, dest);
  if (reports) {
    bool was = cancel_;
    DoFileProgress(name, 100.0, op, ppEnd, cancel_);
    cancel_ = cancel_ || was;
  }
  if (!cancel_) ++processed_count_;
  return deleted;
}

bool ArchiveSession::OtherThreadsCanRead() const {
  // Helper threads open handles of their own on the archive's file: sets,
  // archives in memory and callers' streams are read on the calling thread.
  return !in_memory_ && spanning_mode_ == smNone && SecondCoreAllowed(options_.Tuning) &&
         dynamic_cast<TFileStream*>(stream_.get()) != nullptr;
}

std::unique_ptr<TAesKeyPrefetcher> ArchiveSession::StartAesPrefetch(int index) {
  // Only worth a thread when several AES items come.
  if (index != -1 || !OtherThreadsCanRead()) return nullptr;
  std::vector<TAesKeyPrefetcher::Job> jobs;
  const TAFDirArray& items = dir_->Items();
  for (int i = 0; i < items.Count(); ++i) {
    const TDirItem& it = items.ItemRef(i);
    if (!it.Marked || !(it.HeaderImage.Flags() & kFlagEncrypted) || it.CryptoAlgorithm == caPkzipClassic ||
        it.HeaderImage.VersionNeeded() >= kAltVersion || it.IsDirectory())
      continue;
    jobs.push_back({it.LocalHeaderOffset(), static_cast<uint16_t>(AesKeyBits(it.CryptoAlgorithm) / 8)});
  }
  if (jobs.size() < 2) return nullptr;
  return std::make_unique<TAesKeyPrefetcher>(current_volume_file_name_, password_, std::move(jobs),
                                             options_.Tuning.WithEnvironment().ShaInstructions);
}

std::unique_ptr<TExtractAhead> ArchiveSession::StartExtractAhead(TAFProcessOperation op, int index) {
  if ((op != poExtract && op != poTest) || index != -1 || !OtherThreadsCanRead()) return nullptr;
  std::vector<int> order;
  const TAFDirArray& items = dir_->Items();
  for (int i = 0; i < items.Count(); ++i)
    if (items.ItemRef(i).Marked) order.push_back(i);
  if (order.size() < 2) return nullptr;
  TExtractAhead::Setup setup;
  setup.archive_file = current_volume_file_name_;
  setup.extract = op == poExtract;
  // Without a base folder the destination is the current folder at the
  // first item, which a handler may still change: the helpers then wait
  // for the run to name it.
  if (!base_dir_.empty() || !working_folder_.empty()) setup.dest = DestinationFolder();
  setup.settings.password = password_;
  setup.settings.deriver = aes_key_deriver_;
  setup.settings.directory_offset = dir_->DirectoryOffset();
  setup.settings.chunk_size = DecodeChunkSize(facade_);
  setup.settings.tuning = options_.Tuning.WithEnvironment();
  setup.check_overlaps = !dir_->Recovered() && !options_.AllowOverlappingItems;
  if (setup.check_overlaps) setup.sorted_offsets = dir_->SortedLocalOffsets();
  setup.set_attributes = options_.SetAttributes;
  setup.flush_removable = options_.FlushBuffers;
  // The run decodes items too while it would wait: one helper per core
  // beyond its own (a few at most: the files are written in one folder).
  const unsigned helpers = std::clamp(std::thread::hardware_concurrency(), 2u, 4u) - 1;
  return std::make_unique<TExtractAhead>(std::move(setup), items, std::move(order), helpers);
}

bool ArchiveSession::FinishDecodedAhead(int index, const afp::WideString& target) {
  // A handler may have set another password since the last decode.
  ahead_->PasswordChanged(password_);
  auto result = ahead_->Take(index);
  if (!result) return false;
  // The progress the decode made, reported now in its order; a cancel
  // costs the decoded file, as a cancel during the decode would.
  skip_ = false;
  const TDirItem& item = dir_->Items().ItemRef(index);
  const afp::WideString name = Backslashed(item.ItemName);
  const int64_t total = ProgressTotal(item);
  bool cancelled = cancel_;
  try {
    for (size_t i = 0; i < result->progress.size() && !cancelled; ++i)
      cancelled = !ReportItemProgress(facade_, item, name, total, result->progress[i]);
  } catch (...) {
    // A handler's exception ends the item as it ends a decode: without its file.
    if (!result->temp.empty()) DiscardFile(result->temp);
    throw;
  }
  if (result->temp.empty()) return true;  // tested
  if (cancelled) {
    DiscardFile(result->temp);
    return true;
  }
  if (afp::ReplaceFile(result->temp, target)) return true;
  // Another file system, or the target refuses: decoding here gives the
  // item its own file and, if it fails again, its own error.
  DiscardFile(result->temp);
  return false;
}

void ArchiveSession::TestItem(int index) {
  if (dir_->Items().ItemRef(index).IsDirectory()) return;
  if (ahead_ && FinishDecodedAhead(index, afp::WideString())) return;
  TNullStream null;
  DecodeItem(index, null);
}

namespace {

// A failure of an item decoded on its own: no failure event names the item
// to the caller, so the message does, after the component's name.
EAFException NamingItem(const TAFBaseArchiver& a, const EAFException& e, const afp::WideString& item_name) {
  std::string text = e.what();
  const size_t at = a.Name().empty() || text.rfind(a.Name() + ": ", 0) != 0 ? 0 : a.Name().size() + 2;
  text.insert(at, afp::ToUtf8(item_name) + ": ");
  return EAFException::Reraised(e.NativeError(), e.ErrorCode(), text);
}

}  // namespace

void ArchiveSession::DecodeItem(int index, TStream& out) {
  if (in_item_run_) {
    DecodeItemOfRun(index, out);
    return;
  }
  if (!dir_ || index < 0 || index >= dir_->Items().Count())
    throw EAFException::Create(NativeError::kItemOutOfBounds, &facade_);
  // A cancel left by an earlier run is not this call's: it would cut the
  // item short without an error.
  cancel_ = false;
  try {
    if (!DecodeItemOfRun(index, out) && skip_) throw EAFException::Create(NativeError::kInvalidPassword, &facade_);
  } catch (const EAFException& e) {
    throw NamingItem(facade_, e, dir_->Items().ItemRef(index).ItemName);
  }
}

bool ArchiveSession::DecodeItemOfRun(int index, TStream& out) {
  if (!dir_ || index < 0 || index >= dir_->Items().Count())
    throw EAFException::Create(NativeError::kItemOutOfBounds, &facade_);
  TDirItem& item = dir_->Items().ItemRef(index);
  TAFVolumeNumberInfo volume;
  volume.LastVolumeNumber = static_cast<int32_t>(dir_->LastDisk());
  volume.SetNumber(static_cast<int32_t>(item.DiskNumberStart()));
  if (volume.VolumeNumber == 0) volume.MarkFirst();
  SelectVolume(volume);
  // In a set, an item's data may go on at the start of the following volumes.
  TVolumeReader across(*this);
  TStream& archive = spanning_mode_ == smNone ? *stream_ : across;
  archive.SetPosition(item.LocalHeaderOffset());
  // A skip answered for an earlier item must not excuse this one, whichever
  // way the decoder leaves.
  skip_ = false;
  bool ok;
  try {
    ok = DecodeItemData(facade_, archive, out, item);
  } catch (const EReadError&) {
    ok = false;  // the archive ends inside the item: damaged data, not a broken run
  }
  // A password answered here is the one the helpers should try next.
  if (ahead_) ahead_->PasswordChanged(password_);
  if (!ok && !cancel_ && !extract_corrupted_files_ && !skip_)
    throw EAFException::Create(NativeError::kInvalidSizeOrChecksum, &facade_);
  return ok;
}

}  // namespace arcfold
