// The ZIP CRC-32 (reflected polynomial 0xEDB88320), computed by zlib.
#pragma once

#include <cstddef>
#include <cstdint>

namespace arcfold {

// Continues a CRC over more bytes; start with 0 for a new value.
uint32_t Crc32Update(uint32_t crc, const void* data, size_t size);
inline uint32_t Crc32(const void* data, size_t size) { return Crc32Update(0, data, size); }
// The 256-entry table (entry 1 is 0x77073096), for the classic cipher's key updates.
const uint32_t* Crc32Table();

}  // namespace arcfold
