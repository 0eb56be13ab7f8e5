/// @file
/// The caller-owned search record of FindFirst/FindNext and the matchers.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "arcfold/export.h"
#include "arcfold/platform/wide.h"

namespace arcfold {

/// Where a FindFirst/FindNext search stands; the caller keeps it in
/// TAFArchiveItem::SearchState and does not change it.
struct ARCFOLD_API TInternalSearchRec {
  /// @cond INTERNAL
  int32_t Position = 0;
  std::array<char16_t, 260> Mask{};
  bool HasWildcards = false;
  uint32_t SearchAttr = 0;
  afp::WideString ExclusionMask;
  bool ListMode = false;
  bool Exhausted = false;  ///< the last step found nothing: FindNext stays false

  afp::WideString MaskString() const;
  /// @endcond
};

/// One item found by TAFBaseArchiver::FindFirst / FindNext.
struct ARCFOLD_API TAFArchiveItem {
  /// The name's last part.
  afp::WideString FileName;
  /// The folders before it ("\"-separated, with the trailing "\").
  afp::WideString FolderPath;
  /// Compressed size in bytes.
  int64_t PackedSize = 0;
  /// Uncompressed size in bytes.
  int64_t UnpackedSize = 0;
  /// How much smaller the packed data is, in percent.
  double RatioPercent = 0;
  /// Whether a password is needed.
  bool IsEncrypted = false;
  /// The modification date as the archive stores it (DOS fields).
  uint16_t DosDate = 0;
  /// The modification time as the archive stores it (DOS fields).
  uint16_t DosTime = 0;
  /// The CRC-32 of the uncompressed data.
  uint32_t Crc32 = 0;
  /// The attributes (DOS in the low byte, a Unix mode in the upper half from Unix hosts).
  uint32_t ExternalAttributes = 0;
  /// The item's comment.
  std::string Comment;
  /// Where the search stands, for FindNext.
  TInternalSearchRec SearchState;
};

/// "*" and "?" against a name, linear in practice: the classic greedy
/// backtracking over the last star, which gives the same answers as trying
/// every split point.
ARCFOLD_API bool WildcardMatch(std::u16string_view name, std::u16string_view mask, bool ignore_case);
/// Whether name matches mask ("*" and "?"; "*.*" matches names without a dot too).
ARCFOLD_API bool MaskMatch(std::u16string_view name, std::u16string_view mask, bool ignore_case = true);
/// Whether attributes attrs pass a search's attribute mask.
inline bool AttributesMatch(uint32_t attrs, uint32_t search_attr) { return (attrs & 0x1E & ~search_attr) == 0; }

}  // namespace arcfold
