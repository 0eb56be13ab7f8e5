// Extracting one item to disk: the target path composed and checked
// against the destination, the overwrite rules, and the decode into a
// temporary file that is renamed over the target only once it checked.
#include <memory>

#include "arcfold/arcfold.h"
#include "component/session.h"
#include "directory/dir_manager.h"
#include "items/extract_ahead.h"
#include "items/new_file.h"
#include "items/path_parts.h"
#include "platform/files.h"

namespace arcfold {

using paths::FilePart;
using paths::FolderPart;

namespace {

// A stored name that would put its file outside the destination folder: a
// drive, a share or a root in front, or a ".." segment anywhere. Where
// there are no drives, "C:\x" is a folder "C:" below the destination.
bool LeavesDestination(const afp::WideString& name) {
  if (paths::HasDrive(name)) return true;
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

void ArchiveSession::ExtractItem(int index, const afp::WideString& name, const afp::WideString& dest_folder) {
  const TDirItem& item = dir_->Items().ItemRef(index);
  afp::WideString file_name = name;
  uint32_t attr = item.HeaderImage.ExternalAttributes();
  DoExtractFile(file_name, attr, item.Comment);
  const bool renamed_by_handler = file_name != name;
  if (paths::HasControlCharacter(file_name))
    throw EAFException::CreateFmt(NativeError::kCannotCreateFile, &facade_, {file_name});
  if (!renamed_by_handler && !options_.AllowAbsolutePaths && LeavesDestination(file_name))
    throw EAFException::CreateFmt(NativeError::kCannotCreateFile, &facade_, {file_name});
  // A drive, a share or a root in front (only a handler or AllowAbsolutePaths
  // gets this far with one) replaces the destination; anything else lands
  // below it, with empty and "." segments collapsed so that they can never
  // turn the composed path into another one.
  const bool absolute = paths::HasDrive(file_name) || (!file_name.empty() && file_name[0] == u'\\');
  afp::WideString dest = dest_folder;
  if (absolute) {
    dest.clear();
  } else {
    file_name = paths::CollapseSegments(file_name);
  }
  // A name a handler ends in a separator makes a folder only of an item
  // without data; an item with data is a file under its name without the
  // separator, never dropped unread.
  const bool is_folder =
      item.IsDirectory() || (item.UncompressedSize() == 0 && !file_name.empty() && file_name.back() == u'\\');
  while (!is_folder && !file_name.empty() && file_name.back() == u'\\') file_name.pop_back();
  if (file_name.empty() && !is_folder) throw EAFException::CreateFmt(NativeError::kCannotCreateFile, &facade_, {name});
  if (!options_.CreateDirs) {
    file_name = FilePart(file_name);
  } else {
    afp::WideString folder = dest + FolderPart(file_name);
    // Items of one folder usually follow each other: checking the folder
    // once per run of items saves system calls per file.
    if (!folder.empty() && folder != last_folder_made_) {
      if (!absolute && !options_.AllowLinksInDestination && LinkBelow(dest, FolderPart(file_name)))
        throw EAFException::CreateFmt(NativeError::kCannotCreateFile, &facade_, {dest + file_name});
      if (!afp::DirectoryExists(folder) && !afp::ForceDirectories(folder))
        throw EAFException::CreateFmt(NativeError::kCannotCreateDirectory, &facade_, {folder});
      last_folder_made_ = folder;
      if (ahead_) ahead_->FolderReady(absolute ? afp::WideString() : dest, folder);
    }
  }
  if (is_folder || file_name.empty()) return;
  const TDirItem& it = dir_->Items().ItemRef(index);
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
  // Decoded ahead by a helper: the same checks passed, the same time and
  // attributes set (unless a handler changed them), only the rename left.
  if (ahead_ && attr == it.HeaderImage.ExternalAttributes() && FinishDecodedAhead(index, target)) return;
  afp::WideString temp;
  std::unique_ptr<TFileStream> out = CreateFileBeside(FolderPart(target), temp);
  if (!out) throw EAFException::CreateFmt(NativeError::kCannotCreateFile, &facade_, {target});
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
    // Files on removable drives are flushed; whether the drive is one is
    // asked once per folder, not with a call per file.
    if (options_.FlushBuffers) {
      const afp::WideString folder = FolderPart(target);
      if (folder != removable_checked_for_ || removable_checked_for_.empty()) {
        removable_checked_for_ = folder;
        removable_folder_ = afp::IsRemovableFd(out->Handle());
      }
      if (removable_folder_) out->Flush();
    }
    FinishFile(*out, dir_->Items().ItemRef(index), attr, options_.SetAttributes);
  }
  out.reset();
  if (!keep) {
    DiscardFile(temp);
    if (error) std::rethrow_exception(error);
    return;
  }
  if (!afp::ReplaceFile(temp, target)) {
    DiscardFile(temp);
    throw EAFException::CreateFmt(NativeError::kCannotCreateFile, &facade_, {target});
  }
}

}  // namespace arcfold
