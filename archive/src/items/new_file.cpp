#include "items/new_file.h"

#include "arcfold/dir_array.h"
#include "arcfold/exception.h"
#include "directory/item_time.h"
#include "platform/files.h"

namespace arcfold {

std::unique_ptr<TFileStream> CreateFileBeside(const afp::WideString& folder, afp::WideString& path) {
  // What killed runs left here goes first (once per folder).
  afp::RemoveDeadTempFiles(folder);
  for (int attempt = 0; attempt < 16; ++attempt) {
    path = afp::UniqueTempName(folder);
    try {
      return std::make_unique<TFileStream>(path, fmCreateNew);
    } catch (const EStreamError&) {
      if (afp::GetPathType(path) == afp::PathType::None) break;  // not a name clash: the folder refuses
    }
  }
  return nullptr;
}

void FinishFile(TFileStream& out, const TDirItem& item, uint32_t attr, bool set_attributes) {
  if (auto exact = ExactModificationTime(item))
    afp::SetFileUnixTimeFd(out.Handle(), *exact);
  else
    afp::SetFileDosDateTimeFd(out.Handle(), item.HeaderImage.Date(), item.HeaderImage.Time());
  if (!set_attributes) return;
  // Unix-made archives keep permission bits in the upper half; links and
  // special files were written as plain files, so only 0777 applies.
  uint32_t unix_mode = (item.HeaderImage.VersionMadeBy() >> 8) == kUnixHost ? (attr >> 16) & 0777 : 0;
  afp::SetFdAttributes(out.Handle(), attr, unix_mode);
}

void FlushIfRemovable(TFileStream& out, const afp::WideString& folder, afp::WideString& checked_for, bool& removable) {
  if (checked_for.empty() || folder != checked_for) {
    checked_for = folder;
    removable = afp::IsRemovableFd(out.Handle());
  }
  if (removable) out.Flush();
}

void DiscardFile(const afp::WideString& path) {
  if (afp::DeleteFile(path)) return;
  afp::SetFileAttributes(path, afp::kAttrNormal);
  afp::DeleteFile(path);
}

}  // namespace arcfold
