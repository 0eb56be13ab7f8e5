// Moving one item's data into the archive: read the source, CRC-32,
// deflate (or copy), encrypt, write.
#pragma once

#include <cstdint>
#include <vector>

namespace arcfold {

class TAFBaseArchiver;
class TStream;
struct TDirItem;

// The archive stream stands just behind the item's local header. Reads
// source_size bytes from the start of source and writes the item's data;
// on return the item's header image holds CRC-32, sizes and method (ZIP64
// values in the item's 64-bit fields where needed). False only when the user
// cancelled. Raises error 34 for a source that delivers fewer bytes than its
// size and error 41 for a size that needs ZIP64 under zmDisabled. deflated,
// when given (for a deflated item, only a source of one chunk), is that
// source already compressed in one piece by the item's method and mode (on
// another thread): it is written instead of compressing the source again.
bool EncodeItemData(TAFBaseArchiver& archiver, TStream& source, TStream& archive, int64_t source_size, TDirItem& item,
                    const std::vector<uint8_t>* deflated = nullptr);

// Gives back what this thread kept for items of several chunks (buffers and
// deflaters, some megabytes): a commit keeps them from one item to the next
// and gives them back when it ends.
void ReleaseEncodeWorkspace();

// The chunk size for a compression mode: each chunk is read, compressed,
// encrypted and written as one piece, with one progress event.
int64_t EncodeChunkSize(int mode);

}  // namespace arcfold
