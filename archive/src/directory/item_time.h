// Modification times finer than the DOS date-time of the headers.
#pragma once

#include <cstdint>
#include <optional>

namespace arcfold {

struct TDirItem;

// The exact modification time (Unix seconds) from an extended timestamp
// field (0x5455, Info-ZIP and libarchive) or an NTFS field (0x000A, 7-Zip),
// when the item carries one. Extraction uses it so that files get the time
// their source had, not the 2-second DOS value.
std::optional<int64_t> ExactModificationTime(const TDirItem& item);

// The item's DOS date and time as one number (the date in the upper half),
// as file times compare with it.
int32_t ItemDosDateTime(const TDirItem& item);

// The DOS date-time of this moment, for items whose source gives none.
uint32_t DosDateTimeNow();

}  // namespace arcfold
