// Windows' CNG (bcrypt) primitives for the library's ciphers, on Windows
// only. The handles are CNG's own, passed through untouched; every call
// says whether CNG did what was asked, and the caller names the failure.
#pragma once

#include <cstddef>
#include <cstdint>

namespace afp::cng {

using Handle = void*;

enum class Algorithm { HmacSha1, Aes };

// An algorithm provider, to be kept for the life of the process.
bool OpenAlgorithm(Algorithm algorithm, Handle& provider);
// The AES provider's keys work block by block (ECB).
bool ChooseEcb(Handle aes_provider);

// A hash object of an HMAC provider, keyed with key (which may be empty).
bool CreateHash(Handle provider, const uint8_t* key, size_t key_len, Handle& hash);
bool DuplicateHash(Handle from, Handle& copy);
// Feeds any length, in the pieces CNG takes.
bool HashData(Handle hash, const uint8_t* data, size_t len);
bool FinishHash(Handle hash, uint8_t* out, size_t out_len);
void DestroyHash(Handle hash);

// PBKDF2 with the HMAC provider's hash; password and salt may be empty.
bool DerivePbkdf2(Handle hmac_provider, const uint8_t* password, size_t password_len, const uint8_t* salt,
                  size_t salt_len, uint64_t iterations, uint8_t* out, size_t out_len);

// A symmetric key of the provider; len bytes of in encrypted into out.
bool GenerateKey(Handle provider, const uint8_t* secret, size_t secret_len, Handle& key);
bool Encrypt(Handle key, const uint8_t* in, uint8_t* out, size_t len);
void DestroyKey(Handle key);

// The system's preferred random number generator.
bool Random(uint8_t* out, size_t count);
// Overwrites memory in a way the compiler does not drop.
void SecureZero(void* p, size_t len);

}  // namespace afp::cng
