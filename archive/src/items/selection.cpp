// Finding and marking items by mask, exclusion mask and attributes.
#include <algorithm>

#include "arcfold/arcfold.h"
#include "component/session.h"
#include "directory/dir_manager.h"
#include "items/path_parts.h"

namespace arcfold {

using paths::FilePart;
using paths::FolderPart;
using paths::Replace;

namespace {

// Length of the drive part: "X:" or "\\server\share".
size_t DrivePartLength(const afp::WideString& mask) {
  if (afp::kDriveLetters && mask.size() >= 2 && mask[1] == u':') return 2;  // a drive only where there are drives
  if (mask.size() >= 2 && mask[0] == u'\\' && mask[1] == u'\\') {
    size_t server_end = mask.find(u'\\', 2);
    if (server_end == afp::WideString::npos) return mask.size();
    size_t share_end = mask.find(u'\\', server_end + 1);
    return share_end == afp::WideString::npos ? mask.size() : share_end;
  }
  return 0;
}

}  // namespace

bool ArchiveSession::FindFirst(const afp::WideString& file_mask, TAFArchiveItem& item, uint32_t search_attr,
                               const afp::WideString& exclusion_mask) {
  afp::WideString mask = file_mask;
  size_t drive = DrivePartLength(mask);
  if (drive && options_.StorePath != spFullPathWithDrive) mask = mask.substr(drive);
  mask = Replace(mask, u'\\', u'/');
  // The mask buffer holds 259 characters; a longer mask is cut there.
  if (mask.size() > 259) mask.resize(259);
  TInternalSearchRec& st = item.SearchState;
  st.Mask.fill(0);
  std::copy(mask.begin(), mask.end(), st.Mask.begin());
  st.ExclusionMask = exclusion_mask;
  st.ListMode = false;
  st.HasWildcards = mask.find_first_of(u"*?") != afp::WideString::npos;
  st.SearchAttr = search_attr;
  st.Position = 0;
  st.Exhausted = false;
  return SearchStep(item);
}

bool ArchiveSession::FindNext(TAFArchiveItem& item) {
  if (item.SearchState.Exhausted) return false;
  const int before = item.SearchState.Position;
  item.SearchState.Position += 1;
  if (SearchStep(item)) return true;
  item.SearchState.Position = before;  // a miss leaves the record as it was
  return false;
}

bool ArchiveSession::SearchStep(TAFArchiveItem& item) {
  if (!dir_) return false;
  TInternalSearchRec& st = item.SearchState;
  TAFDirArray& items = dir_->Items();
  int found = -1;
  afp::WideString mask = st.MaskString();
  if (st.HasWildcards || options_.Recurse) {
    afp::WideString mask_folder;
    if (!options_.Recurse) mask_folder = afp::LowerCase(FolderPart(Replace(mask, u'/', u'\\')));
    for (int i = std::max(st.Position, 0); i < items.Count(); ++i) {
      const TDirItem& it = items.ItemRef(i);
      if (!options_.Recurse) {
        afp::WideString n = it.ItemName;
        if (!n.empty() && n.back() == u'/') n.pop_back();
        if (afp::LowerCase(FolderPart(Replace(n, u'/', u'\\'))) != mask_folder) continue;
      }
      if (ItemMatchesMask(i, mask, st) && AttributesMatch(it.HeaderImage.ExternalAttributes(), st.SearchAttr)) {
        found = i;
        break;
      }
    }
  } else {
    int idx;
    if (items.FindName(mask, idx) && idx >= st.Position) found = idx;
  }
  if (found < 0) {
    st.Exhausted = true;
    return false;
  }
  st.Position = found;
  FillSearchItem(found, item);
  return true;
}

void ArchiveSession::FillSearchItem(int index, TAFArchiveItem& item) {
  const TDirItem& it = dir_->Items().ItemRef(index);
  afp::WideString n = Replace(it.ItemName, u'/', u'\\');
  if (!n.empty() && n.back() == u'\\') n.pop_back();
  item.FileName = FilePart(n);
  item.FolderPath = FolderPart(n);
  item.PackedSize = it.CompressedSize();
  item.UnpackedSize = it.UncompressedSize();
  double ratio = item.UnpackedSize > 0
                     ? (1.0 - static_cast<double>(item.PackedSize) / static_cast<double>(item.UnpackedSize)) * 100.0
                     : 100.0;
  item.RatioPercent = ratio < 0 ? 0.0 : ratio;
  item.IsEncrypted = (it.HeaderImage.Flags() & kFlagEncrypted) != 0;
  item.DosDate = it.HeaderImage.Date();
  item.DosTime = it.HeaderImage.Time();
  item.Crc32 = it.HeaderImage.Crc32();
  item.ExternalAttributes = it.HeaderImage.ExternalAttributes();
  item.Comment = it.Comment;
}

bool ArchiveSession::ItemMatches(int index, const TInternalSearchRec& st) {
  return ItemMatchesMask(index, st.MaskString(), st);
}

// The scan builds the mask once per step, not once per item it looks at.
bool ArchiveSession::ItemMatchesMask(int index, const afp::WideString& mask, const TInternalSearchRec& st) {
  const TDirItem& it = dir_->Items().ItemRef(index);
  if (!st.ListMode) {
    afp::WideString name = it.ItemName;
    if (!name.empty() && (name.back() == u'/' || name.back() == u'\\')) name.pop_back();
    bool match = MaskMatch(name, mask) || MaskMatch(FilePart(Replace(name, u'/', u'\\')), mask);
    if (match && MaskMatch(name, st.ExclusionMask)) match = false;
    return match;
  }
  afp::WideString name = Replace(it.ItemName, u'/', u'\\');
  for (const auto& fm : file_masks_) {
    if (!MaskMatch(name, fm)) continue;
    for (const auto& ex : exclusion_masks_)
      if (MaskMatch(name, ex)) return false;
    return true;
  }
  return false;
}

void ArchiveSession::MarkItems(const afp::WideString& file_mask, uint32_t search_attr,
                               const afp::WideString& exclusion_mask) {
  if (!dir_) return;
  dir_->Items().ClearMarks();
  TAFArchiveItem item;
  for (bool ok = FindFirst(file_mask, item, search_attr, exclusion_mask); ok; ok = FindNext(item))
    dir_->Items().ItemRef(item.SearchState.Position).Marked = true;
}

}  // namespace arcfold
