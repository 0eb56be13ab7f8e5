// Moving one item's data out of the archive: read, (decrypt,) inflate or
// copy, write, and check size and CRC-32.
#pragma once

#include <cstdint>

namespace arcfold {

class TAFBaseArchiver;
class TStream;
struct TDirItem;

// The archive stream stands at the item's local header. True when the whole
// item was decoded and checked; false for damaged data, a size or CRC
// mismatch, an unsupported method, a skipped password or a cancel.
bool DecodeItemData(TAFBaseArchiver& archiver, TStream& archive, TStream& dest, TDirItem& item);

// Every write of item data: on a short write the disk-full question decides
// between writing the block again and cancelling (false).
bool WriteWithDiskFullRetry(TAFBaseArchiver& archiver, TStream& stream, const void* buffer, int64_t count);

}  // namespace arcfold
