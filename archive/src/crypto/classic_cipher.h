// The traditional PKWARE encryption: three keys driven by the CRC-32 table,
// a 12-byte encrypted header and a one-byte password check.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace arcfold {

class TStream;

class TZipClassicKeys {
 public:
  TZipClassicKeys() { Reset(); }
  ~TZipClassicKeys();
  void Reset();
  void Init(const std::string& password);
  void Update(uint8_t c);
  uint8_t KeystreamByte() const;
  uint8_t EncryptByte(uint8_t p);
  uint8_t DecryptByte(uint8_t c);
  // In place, carrying the key state from call to call.
  void EncryptBuffer(uint8_t* data, size_t len);
  void DecryptBuffer(uint8_t* data, size_t len);

 private:
  uint32_t k0_, k1_, k2_;
};

// Reads the 12-byte header from the stream, initialises keys with the
// password and decrypts it; true when byte 11 equals the expected check byte
// (the time's high byte with flag bit 3, else the CRC's high byte).
bool CheckClassicHeader(TStream& stream, const std::string& password, TZipClassicKeys& keys, uint32_t local_crc,
                        uint16_t local_time, uint16_t local_flags);

// The encrypted 12-byte header for a new item: ten secure random bytes, then
// the CRC's bytes 2 and 3.
std::array<uint8_t, 12> BuildClassicHeader(const std::string& password, uint32_t crc, TZipClassicKeys& keys);

}  // namespace arcfold
