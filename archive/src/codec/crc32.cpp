#include "codec/crc32.h"

#include <zlib.h>
#ifdef ARCFOLD_HAVE_ISAL
#include <isa-l/crc.h>
#endif

namespace arcfold {

uint32_t Crc32Update(uint32_t crc, const void* data, size_t size) {
#ifdef ARCFOLD_HAVE_ISAL
  // The same CRC, computed with carry-less multiplication where the CPU has it.
  if (size >= 64) return crc32_gzip_refl(crc, static_cast<const unsigned char*>(data), size);
#endif
  const auto* p = static_cast<const Bytef*>(data);
  while (size > 0) {
    uInt n = size > 0x40000000 ? 0x40000000 : static_cast<uInt>(size);
    crc = static_cast<uint32_t>(::crc32(crc, p, n));
    p += n;
    size -= n;
  }
  return crc;
}

const uint32_t* Crc32Table() { return reinterpret_cast<const uint32_t*>(::get_crc_table()); }

}  // namespace arcfold
