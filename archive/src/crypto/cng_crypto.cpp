// The cipher primitives on Windows' own CNG (bcrypt): AES in ECB for the
// counter-mode batches, HMAC-SHA1, PBKDF2 and the system's random numbers.
// The component is built with it on Windows, with openssl_crypto.cpp elsewhere.
#include <windows.h>
#include <bcrypt.h>

#include <algorithm>
#include <stdexcept>
#include <string>

#include "arcfold/exception.h"
#include "crypto/crypto_primitives.h"

namespace arcfold::crypto {

namespace {

bool Ok(NTSTATUS status) { return status >= 0; }

void Check(NTSTATUS status, const char* what) {
  if (!Ok(status)) throw EAFError(std::string("CNG: ") + what + " failed");
}

// Algorithm handles are opened once per process and shared: opening one
// costs far more than the work of a single item.
BCRYPT_ALG_HANDLE Provider(const wchar_t* algorithm, ULONG flags) {
  BCRYPT_ALG_HANDLE h = nullptr;
  Check(::BCryptOpenAlgorithmProvider(&h, algorithm, nullptr, flags), "opening an algorithm");
  return h;
}

BCRYPT_ALG_HANDLE HmacProvider() {
  static BCRYPT_ALG_HANDLE h = Provider(BCRYPT_SHA1_ALGORITHM, BCRYPT_ALG_HANDLE_HMAC_FLAG);
  return h;
}

BCRYPT_ALG_HANDLE AesProvider() {
  static BCRYPT_ALG_HANDLE h = [] {
    BCRYPT_ALG_HANDLE a = Provider(BCRYPT_AES_ALGORITHM, 0);
    Check(::BCryptSetProperty(a, BCRYPT_CHAINING_MODE,
                              reinterpret_cast<PUCHAR>(const_cast<wchar_t*>(BCRYPT_CHAIN_MODE_ECB)),
                              sizeof(BCRYPT_CHAIN_MODE_ECB), 0),
          "choosing ECB");
    return a;
  }();
  return h;
}

BCRYPT_HASH_HANDLE Duplicate(BCRYPT_HASH_HANDLE from) {
  BCRYPT_HASH_HANDLE h = nullptr;
  Check(::BCryptDuplicateHash(from, &h, nullptr, 0, 0), "copying a hash");
  return h;
}

void Feed(BCRYPT_HASH_HANDLE h, const uint8_t* data, size_t len) {
  while (len) {
    const ULONG piece = static_cast<ULONG>(std::min<size_t>(len, 1u << 30));
    Check(::BCryptHashData(h, const_cast<PUCHAR>(data), piece, 0), "hashing");
    data += piece;
    len -= piece;
  }
}

void Finish(BCRYPT_HASH_HANDLE h, uint8_t out[20]) {
  const NTSTATUS status = ::BCryptFinishHash(h, out, 20, 0);
  ::BCryptDestroyHash(h);
  Check(status, "finishing a hash");
}

}  // namespace

void RandomBytes(uint8_t* out, size_t count) {
  if (count && !Ok(::BCryptGenRandom(nullptr, out, static_cast<ULONG>(count), BCRYPT_USE_SYSTEM_PREFERRED_RNG)))
    throw EAFError("random generator failed");
}

// keyed: the hash with the key set and nothing fed, copied for each message.
struct HmacSha1::State {
  BCRYPT_HASH_HANDLE keyed = nullptr;
  BCRYPT_HASH_HANDLE running = nullptr;
};

HmacSha1::HmacSha1(const uint8_t* key, size_t key_len) : s_(std::make_unique<State>()) {
  static const uint8_t kNoKey = 0;
  Check(::BCryptCreateHash(HmacProvider(), &s_->keyed, nullptr, 0, const_cast<PUCHAR>(key_len ? key : &kNoKey),
                           static_cast<ULONG>(key_len), 0),
        "keying HMAC");
  s_->running = Duplicate(s_->keyed);
}

HmacSha1::~HmacSha1() {
  if (s_->running) ::BCryptDestroyHash(s_->running);
  if (s_->keyed) ::BCryptDestroyHash(s_->keyed);
}

void HmacSha1::Update(const uint8_t* data, size_t len) { Feed(s_->running, data, len); }

void HmacSha1::Final(uint8_t out[20]) {
  BCRYPT_HASH_HANDLE done = s_->running;
  s_->running = Duplicate(s_->keyed);
  Finish(done, out);
}

void HmacSha1::Mac(const uint8_t* data, size_t len, uint8_t out[20]) const {
  BCRYPT_HASH_HANDLE h = Duplicate(s_->keyed);
  Feed(h, data, len);
  Finish(h, out);
}

void HmacSha1::Mac20(const uint8_t in[20], uint8_t out[20]) const { Mac(in, 20, out); }

std::vector<uint8_t> Pbkdf2HmacSha1(const std::string& password, const uint8_t* salt, size_t salt_len, int iterations,
                                    size_t out_len, TAFTuningSwitch) {
  std::vector<uint8_t> out(out_len);
  static const uint8_t kEmpty = 0;
  Check(
      ::BCryptDeriveKeyPBKDF2(
          HmacProvider(),
          const_cast<PUCHAR>(password.empty() ? &kEmpty : reinterpret_cast<const uint8_t*>(password.data())),
          static_cast<ULONG>(password.size()), const_cast<PUCHAR>(salt_len ? salt : &kEmpty),
          static_cast<ULONG>(salt_len), static_cast<ULONGLONG>(iterations), out.data(), static_cast<ULONG>(out_len), 0),
      "PBKDF2");
  return out;
}

AesEcb::AesEcb(const uint8_t* key, size_t key_len) {
  BCRYPT_KEY_HANDLE k = nullptr;
  Check(::BCryptGenerateSymmetricKey(AesProvider(), &k, nullptr, 0, const_cast<PUCHAR>(key),
                                     static_cast<ULONG>(key_len), 0),
        "AES set-up");
  ctx_ = k;
}

AesEcb::~AesEcb() { ::BCryptDestroyKey(static_cast<BCRYPT_KEY_HANDLE>(ctx_)); }

void AesEcb::EncryptBlocks(const uint8_t* in, uint8_t* out, size_t blocks) {
  ULONG done = 0;
  Check(::BCryptEncrypt(static_cast<BCRYPT_KEY_HANDLE>(ctx_), const_cast<PUCHAR>(in), static_cast<ULONG>(blocks * 16),
                        nullptr, nullptr, 0, out, static_cast<ULONG>(blocks * 16), &done, 0),
        "AES");
}

bool ConstantTimeEqual(const uint8_t* a, const uint8_t* b, size_t len) {
  volatile uint8_t diff = 0;
  for (size_t i = 0; i < len; ++i) diff = diff | (a[i] ^ b[i]);
  return diff == 0;
}

void Wipe(void* p, size_t len) { ::SecureZeroMemory(p, len); }

}  // namespace arcfold::crypto
