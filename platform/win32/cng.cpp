#include "platform/win32/cng.h"

#include "windows_api.h"
#include <bcrypt.h>

#include <algorithm>

namespace afp::cng {

namespace {

bool Ok(NTSTATUS status) { return status >= 0; }

// CNG takes no null pointer for an empty input.
PUCHAR Bytes(const uint8_t* p) {
  static const uint8_t kNothing = 0;
  return const_cast<PUCHAR>(p ? p : &kNothing);
}

}  // namespace

bool OpenAlgorithm(Algorithm algorithm, Handle& provider) {
  BCRYPT_ALG_HANDLE h = nullptr;
  const bool ok =
      algorithm == Algorithm::Aes
          ? Ok(::BCryptOpenAlgorithmProvider(&h, BCRYPT_AES_ALGORITHM, nullptr, 0))
          : Ok(::BCryptOpenAlgorithmProvider(&h, BCRYPT_SHA1_ALGORITHM, nullptr, BCRYPT_ALG_HANDLE_HMAC_FLAG));
  provider = h;
  return ok;
}

bool ChooseEcb(Handle aes_provider) {
  return Ok(::BCryptSetProperty(aes_provider, BCRYPT_CHAINING_MODE,
                                reinterpret_cast<PUCHAR>(const_cast<wchar_t*>(BCRYPT_CHAIN_MODE_ECB)),
                                sizeof(BCRYPT_CHAIN_MODE_ECB), 0));
}

bool CreateHash(Handle provider, const uint8_t* key, size_t key_len, Handle& hash) {
  BCRYPT_HASH_HANDLE h = nullptr;
  const bool ok =
      Ok(::BCryptCreateHash(provider, &h, nullptr, 0, Bytes(key_len ? key : nullptr), static_cast<ULONG>(key_len), 0));
  hash = h;
  return ok;
}

bool DuplicateHash(Handle from, Handle& copy) {
  BCRYPT_HASH_HANDLE h = nullptr;
  const bool ok = Ok(::BCryptDuplicateHash(from, &h, nullptr, 0, 0));
  copy = h;
  return ok;
}

bool HashData(Handle hash, const uint8_t* data, size_t len) {
  while (len) {
    const ULONG piece = static_cast<ULONG>(std::min<size_t>(len, 1u << 30));
    if (!Ok(::BCryptHashData(hash, const_cast<PUCHAR>(data), piece, 0))) return false;
    data += piece;
    len -= piece;
  }
  return true;
}

bool FinishHash(Handle hash, uint8_t* out, size_t out_len) {
  return Ok(::BCryptFinishHash(hash, out, static_cast<ULONG>(out_len), 0));
}

void DestroyHash(Handle hash) { ::BCryptDestroyHash(hash); }

bool DerivePbkdf2(Handle hmac_provider, const uint8_t* password, size_t password_len, const uint8_t* salt,
                  size_t salt_len, uint64_t iterations, uint8_t* out, size_t out_len) {
  return Ok(::BCryptDeriveKeyPBKDF2(hmac_provider, Bytes(password_len ? password : nullptr),
                                    static_cast<ULONG>(password_len), Bytes(salt_len ? salt : nullptr),
                                    static_cast<ULONG>(salt_len), static_cast<ULONGLONG>(iterations), out,
                                    static_cast<ULONG>(out_len), 0));
}

bool GenerateKey(Handle provider, const uint8_t* secret, size_t secret_len, Handle& key) {
  BCRYPT_KEY_HANDLE k = nullptr;
  const bool ok = Ok(::BCryptGenerateSymmetricKey(provider, &k, nullptr, 0, const_cast<PUCHAR>(secret),
                                                  static_cast<ULONG>(secret_len), 0));
  key = k;
  return ok;
}

bool Encrypt(Handle key, const uint8_t* in, uint8_t* out, size_t len) {
  ULONG done = 0;
  return Ok(::BCryptEncrypt(key, const_cast<PUCHAR>(in), static_cast<ULONG>(len), nullptr, nullptr, 0, out,
                            static_cast<ULONG>(len), &done, 0));
}

void DestroyKey(Handle key) { ::BCryptDestroyKey(key); }

bool Random(uint8_t* out, size_t count) {
  return Ok(::BCryptGenRandom(nullptr, out, static_cast<ULONG>(count), BCRYPT_USE_SYSTEM_PREFERRED_RNG));
}

void SecureZero(void* p, size_t len) { ::SecureZeroMemory(p, len); }

}  // namespace afp::cng
