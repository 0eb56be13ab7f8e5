#include "directory/item_time.h"

#include "arcfold/dir_array.h"
#include "arcfold/records.h"
#include "platform/files.h"

namespace arcfold {

namespace {
constexpr uint16_t kExtraExtendedTimestamp = 0x5455;
constexpr uint16_t kExtraNtfs = 0x000A;
constexpr int64_t kFiletimeToUnix = 11644473600LL;
}  // namespace

std::optional<int64_t> ExactModificationTime(const TDirItem& item) {
  for (const auto& f : item.ExtraFields) {
    const uint8_t* d = f.Data.data();
    size_t n = f.Data.size();
    if (f.Id == kExtraExtendedTimestamp && n >= 5 && (d[0] & 1))
      return static_cast<int64_t>(static_cast<int32_t>(GetU32(d + 1)));
    if (f.Id == kExtraNtfs && n >= 4) {
      size_t pos = 4;
      while (pos + 4 <= n) {
        uint16_t tag = GetU16(d + pos), size = GetU16(d + pos + 2);
        pos += 4;
        if (tag == 1 && size >= 8 && pos + 8 <= n)
          return static_cast<int64_t>(GetU64(d + pos) / 10000000ULL) - kFiletimeToUnix;
        pos += size;
      }
    }
  }
  return std::nullopt;
}

int32_t ItemDosDateTime(const TDirItem& item) {
  return static_cast<int32_t>((static_cast<uint32_t>(item.HeaderImage.Date()) << 16) | item.HeaderImage.Time());
}

uint32_t DosDateTimeNow() { return afp::UnixToDosDateTime(afp::UnixNow()); }

}  // namespace arcfold
