#include "crypto/classic_cipher.h"

#include "arcfold/records.h"
#include "arcfold/stream.h"
#include "codec/crc32.h"
#include "crypto/crypto_primitives.h"

namespace arcfold {

TZipClassicKeys::~TZipClassicKeys() { crypto::Wipe(this, sizeof *this); }

void TZipClassicKeys::Reset() {
  k0_ = 0x12345678;
  k1_ = 0x23456789;
  k2_ = 0x34567890;
}

void TZipClassicKeys::Init(const std::string& password) {
  Reset();
  for (char c : password) Update(static_cast<uint8_t>(c));
}

void TZipClassicKeys::Update(uint8_t c) {
  const uint32_t* table = Crc32Table();
  k0_ = table[(k0_ ^ c) & 0xFF] ^ (k0_ >> 8);
  k1_ = (k1_ + (k0_ & 0xFF)) * 134775813u + 1;
  k2_ = table[(k2_ ^ (k1_ >> 24)) & 0xFF] ^ (k2_ >> 8);
}

uint8_t TZipClassicKeys::KeystreamByte() const {
  uint32_t t = (k2_ & 0xFFFF) | 2;
  return static_cast<uint8_t>(((t * (t ^ 1)) >> 8) & 0xFF);
}

uint8_t TZipClassicKeys::EncryptByte(uint8_t p) {
  uint8_t k = KeystreamByte();
  Update(p);
  return p ^ k;
}

uint8_t TZipClassicKeys::DecryptByte(uint8_t c) {
  uint8_t p = c ^ KeystreamByte();
  Update(p);
  return p;
}

void TZipClassicKeys::EncryptBuffer(uint8_t* data, size_t len) {
  for (size_t i = 0; i < len; ++i) data[i] = EncryptByte(data[i]);
}

void TZipClassicKeys::DecryptBuffer(uint8_t* data, size_t len) {
  for (size_t i = 0; i < len; ++i) data[i] = DecryptByte(data[i]);
}

bool CheckClassicHeader(TStream& stream, const std::string& password, TZipClassicKeys& keys, uint32_t local_crc,
                        uint16_t local_time, uint16_t local_flags) {
  if (password.empty()) return false;
  uint8_t header[12];
  stream.ReadBuffer(header, 12);
  keys.Init(password);
  keys.DecryptBuffer(header, 12);
  uint8_t expected = (local_flags & kFlagDataDescriptor) ? static_cast<uint8_t>(local_time >> 8)
                                                         : static_cast<uint8_t>(local_crc >> 24);
  return header[11] == expected;
}

std::array<uint8_t, 12> BuildClassicHeader(const std::string& password, uint32_t crc, TZipClassicKeys& keys) {
  std::array<uint8_t, 12> h{};
  crypto::RandomBytes(h.data(), 10);
  h[10] = static_cast<uint8_t>(crc >> 16);
  h[11] = static_cast<uint8_t>(crc >> 24);
  keys.Init(password);
  keys.EncryptBuffer(h.data(), 12);
  return h;
}

}  // namespace arcfold
