// Opening and listing: end record search, ZIP64, stub detection, central
// headers, extra fields and the recovery scan, on arbitrary bytes.
#include <cstddef>
#include <cstdint>

#include "arcfold/search.h"
#include "fuzz_archive.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzzing::MemoryArchiver a;
  if (!a.Open(data, size)) return 0;
  volatile uint64_t sum = 0;
  for (int i = 0; i < a.ItemCount(); ++i) {
    const arcfold::TDirItem& it = a.Item(i);
    sum = sum + static_cast<uint64_t>(it.UncompressedSize()) + static_cast<uint64_t>(it.CompressedSize()) +
          static_cast<uint64_t>(it.LocalHeaderOffset()) + it.ItemName.size();
  }
  arcfold::TAFArchiveItem item;
  for (bool ok = a.FindFirst(u"*.*", item, arcfold::kAnyAttributes); ok; ok = a.FindNext(item))
    sum = sum + static_cast<uint64_t>(item.PackedSize);
  return 0;
}
