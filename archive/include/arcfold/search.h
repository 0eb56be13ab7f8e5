/// @file
/// The caller-owned search record of FindFirst/FindNext and the matchers.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "arcfold/export.h"
#include "arcfold/platform/wide.h"

namespace arcfold {

struct ARCFOLD_API TInternalSearchRec {
  int32_t Position = 0;
  std::array<char16_t, 260> Mask{};
  bool HasWildcards = false;
  uint32_t SearchAttr = 0;
  afp::WideString ExclusionMask;
  bool ListMode = false;
  bool Exhausted = false;  ///< the last step found nothing: FindNext stays false

  afp::WideString MaskString() const;
};

struct ARCFOLD_API TAFArchiveItem {
  afp::WideString FileName;
  afp::WideString FolderPath;
  int64_t PackedSize = 0;
  int64_t UnpackedSize = 0;
  double RatioPercent = 0;
  bool IsEncrypted = false;
  uint16_t DosDate = 0;
  uint16_t DosTime = 0;
  uint32_t Crc32 = 0;
  uint32_t ExternalAttributes = 0;
  std::string Comment;
  TInternalSearchRec SearchState;
};

/// "*" and "?" against a name, linear in practice: the classic greedy
/// backtracking over the last star, which gives the same answers as trying
/// every split point.
ARCFOLD_API bool WildcardMatch(std::u16string_view name, std::u16string_view mask, bool ignore_case);
ARCFOLD_API bool MaskMatch(std::u16string_view name, std::u16string_view mask, bool ignore_case = true);
inline bool AttributesMatch(uint32_t attrs, uint32_t search_attr) { return (attrs & 0x1E & ~search_attr) == 0; }

}  // namespace arcfold
