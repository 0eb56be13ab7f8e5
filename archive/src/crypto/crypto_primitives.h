// The cryptographic primitives the ciphers are composed of, behind one small
// interface (OpenSSL's libcrypto is the implementation).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "arcfold/types.h"

namespace arcfold::crypto {

// Cryptographically secure random bytes; throws when the generator fails.
void RandomBytes(uint8_t* out, size_t count);

// HMAC-SHA1 with the key's inner and outer pads hashed once, so that many
// messages (PBKDF2 iterations, or one long message in pieces) reuse them.
class HmacSha1 {
 public:
  explicit HmacSha1(const uint8_t* key, size_t key_len);
  ~HmacSha1();
  HmacSha1(const HmacSha1&) = delete;
  HmacSha1& operator=(const HmacSha1&) = delete;

  // Streaming use: Update any number of times, then Final.
  void Update(const uint8_t* data, size_t len);
  void Final(uint8_t out[20]);
  // One-shot use that leaves the streaming state alone.
  void Mac(const uint8_t* data, size_t len, uint8_t out[20]) const;
  // A 20-byte message: the PBKDF2 inner loop.
  void Mac20(const uint8_t in[20], uint8_t out[20]) const;

 private:
  friend std::vector<uint8_t> Pbkdf2HmacSha1(const std::string&, const uint8_t*, size_t, int, size_t, TAFTuningSwitch);
  struct State;
  std::unique_ptr<State> s_;
};

// PBKDF2 with HMAC-SHA1 (RFC 2898), the password bytes as given; the SHA
// instructions as sha_instructions (a TAFTuning switch) allows.
std::vector<uint8_t> Pbkdf2HmacSha1(const std::string& password, const uint8_t* salt, size_t salt_len, int iterations,
                                    size_t out_len, TAFTuningSwitch sha_instructions = tsDefault);

// AES in ECB over whole 16-byte blocks: the counter-mode keystream is made
// from it many blocks at a time.
class AesEcb {
 public:
  AesEcb(const uint8_t* key, size_t key_len);  // 16, 24 or 32 bytes
  ~AesEcb();
  AesEcb(const AesEcb&) = delete;
  AesEcb& operator=(const AesEcb&) = delete;
  void EncryptBlocks(const uint8_t* in, uint8_t* out, size_t blocks);

 private:
  void* ctx_;
};

// Compares in time that does not depend on where the bytes differ.
bool ConstantTimeEqual(const uint8_t* a, const uint8_t* b, size_t len);
// Overwrites memory so that secrets do not linger.
void Wipe(void* p, size_t len);

}  // namespace arcfold::crypto
