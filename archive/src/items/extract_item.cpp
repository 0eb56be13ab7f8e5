// Extracting one item to disk: the target path composed and checked
// against the destination, the overwrite rules, and the decode into a
// temporary file that is renamed over the target only once it checked.
#include <memory>

#include "arcfold/arcfold.h"
#include "component/session.h"
#include "directory/dir_manager.h"
#include "directory/item_time.h"
#include "items/extract_ahead.h"
#include "items/new_file.h"
#include "items/overwrite_rule.h"
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
  if (paths::IsAbsolute(name)) return true;
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

// Where an item's file goes: the folder its name is taken below (empty for
// an absolute name) and the name below it.
struct ExtractPlace {
  afp::WideString dest, file_name;
  bool absolute = false, is_folder = false;
};

// Checks the name an item is extracted under (file_name, as the extract
// event left the stored name) and composes where it goes.
ExtractPlace PlaceOf(TAFBaseArchiver& a, const TDirItem& item, const afp::WideString& name, afp::WideString file_name,
                     const afp::WideString& dest_folder) {
  const bool renamed_by_handler = file_name != name;
  if (paths::HasControlCharacter(file_name))
    throw EAFException::CreateFmt(NativeError::kCannotCreateFile, &a, {file_name});
  if (!renamed_by_handler && !a.Options().AllowAbsolutePaths && LeavesDestination(file_name))
    throw EAFException::CreateFmt(NativeError::kCannotCreateFile, &a, {file_name});
  // A drive, a share or a root in front (only a handler or AllowAbsolutePaths
  // gets this far with one) replaces the destination; anything else lands
  // below it, with empty and "." segments collapsed so that they can never
  // turn the composed path into another one.
  ExtractPlace place;
  place.absolute = paths::IsAbsolute(file_name);
  if (!place.absolute) {
    place.dest = dest_folder;
    file_name = paths::CollapseSegments(file_name);
  }
  // A name a handler ends in a separator makes a folder only of an item
  // without data; an item with data is a file under its name without the
  // separator, never dropped unread.
  place.is_folder =
      item.IsDirectory() || (item.UncompressedSize() == 0 && !file_name.empty() && file_name.back() == u'\\');
  while (!place.is_folder && !file_name.empty() && file_name.back() == u'\\') file_name.pop_back();
  if (file_name.empty() && !place.is_folder) throw EAFException::CreateFmt(NativeError::kCannotCreateFile, &a, {name});
  place.file_name = a.Options().CreateDirs ? std::move(file_name) : FilePart(file_name);
  return place;
}

// Whether the item (extracted under file_name) may replace a file at target
// as the overwrite rules say; true when none is there. The question's
// handler may change target.
bool MayReplaceFile(TAFBaseArchiver& a, const TDirItem& item, const afp::WideString& file_name,
                    afp::WideString& target) {
  const TAFOptions& options = a.Options();
  // Whether a file is there matters only when an answer depends on it: with
  // omAlways and ReplaceReadOnly the rename replaces whatever is there, and
  // a fresh extraction of many small files saves a call per file.
  const bool must_look = options.OverwriteMode != omAlways || !options.ReplaceReadOnly;
  const afp::PathType existing_type = must_look ? afp::GetPathType(target) : afp::PathType::None;
  if (existing_type != afp::PathType::File && !(existing_type == afp::PathType::Link && afp::FileExists(target)))
    return true;
  uint32_t attributes = afp::GetFileAttributes(target);
  if (attributes == afp::kInvalidAttributes) attributes = 4;
  OverwriteSide existing{target, [&target] { return afp::GetFileDosDateTime(target); }};
  const OverwriteSide incoming{file_name, [&item] { return ItemDosDateTime(item); }};
  const bool replace = MayOverwrite(a, attributes, existing, incoming);
  target = std::move(existing.name);
  return replace;
}

}  // namespace

void ArchiveSession::ExtractItem(int index, const afp::WideString& name, const afp::WideString& dest_folder) {
  afp::WideString file_name = name;
  uint32_t attr = dir_->Items().ItemRef(index).HeaderImage.ExternalAttributes();
  DoExtractFile(file_name, attr, dir_->Items().ItemRef(index).Comment);
  const ExtractPlace place = PlaceOf(facade_, dir_->Items().ItemRef(index), name, std::move(file_name), dest_folder);
  if (options_.CreateDirs) MakeExtractFolder(place.dest, place.file_name, place.absolute);
  if (place.is_folder || place.file_name.empty()) return;
  const TDirItem& item = dir_->Items().ItemRef(index);
  afp::WideString target = place.dest + place.file_name;
  if (!MayReplaceFile(facade_, item, place.file_name, target)) {
    ++skipped_existing_;
    return;
  }
  // Decoded ahead by a helper: the same checks passed, the same time and
  // attributes set (unless a handler changed them), only the rename left.
  if (ahead_ && attr == item.HeaderImage.ExternalAttributes() && FinishDecodedAhead(index, target)) return;
  DecodeIntoFile(index, attr, target);
}

void ArchiveSession::MakeExtractFolder(const afp::WideString& dest, const afp::WideString& file_name, bool absolute) {
  const afp::WideString folder = dest + FolderPart(file_name);
  // Items of one folder usually follow each other: checking the folder
  // once per run of items saves system calls per file.
  if (folder.empty() || folder == last_folder_made_) return;
  if (!absolute && !options_.AllowLinksInDestination && LinkBelow(dest, FolderPart(file_name)))
    throw EAFException::CreateFmt(NativeError::kCannotCreateFile, &facade_, {dest + file_name});
  if (!afp::DirectoryExists(folder) && !afp::ForceDirectories(folder))
    throw EAFException::CreateFmt(NativeError::kCannotCreateDirectory, &facade_, {folder});
  last_folder_made_ = folder;
  if (ahead_) ahead_->FolderReady(dest, folder);
}

void ArchiveSession::DecodeIntoFile(int index, uint32_t attr, const afp::WideString& target) {
  // The item is decoded into a new file beside the target and renamed over
  // it only once size, CRC and MAC have checked: a failure, a cancel or a
  // kill never costs the file that was there, nor leaves a short file under
  // the final name. The rename replaces whatever sits at the target (a file,
  // or a link planted there) and never writes through it.
  afp::WideString temp;
  std::unique_ptr<TFileStream> out = CreateFileBeside(FolderPart(target), temp);
  if (!out) throw EAFException::CreateFmt(NativeError::kCannotCreateFile, &facade_, {target});
  std::exception_ptr error;
  try {
    DecodeItem(index, *out);
  } catch (...) {
    error = std::current_exception();
  }
  const bool keep = !(skip_ || cancel_ || error);
  if (keep) {
    // Files on removable drives are flushed.
    if (options_.FlushBuffers) FlushIfRemovable(*out, FolderPart(target), removable_checked_for_, removable_folder_);
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
