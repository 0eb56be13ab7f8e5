// The primitives on OpenSSL. SHA-1 is driven through its low-level
// interface: PBKDF2 needs two compressions per iteration and nothing else,
// which the EVP layer's per-call overhead would more than double.
#define OPENSSL_SUPPRESS_DEPRECATED
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>
#include <openssl/sha.h>

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "arcfold/exception.h"
#include "crypto/crypto_primitives.h"
#include "crypto/sha1_lanes.h"

namespace arcfold::crypto {

void RandomBytes(uint8_t* out, size_t count) {
  if (count && RAND_bytes(out, static_cast<int>(count)) != 1) throw EAFError("random generator failed");
}

struct HmacSha1::State {
  SHA_CTX inner, outer, running;
};

HmacSha1::HmacSha1(const uint8_t* key, size_t key_len) : s_(std::make_unique<State>()) {
  uint8_t k[64] = {0};
  if (key_len > 64) {
    SHA1(key, key_len, k);
  } else if (key_len) {
    std::memcpy(k, key, key_len);
  }
  uint8_t pad[64];
  for (int i = 0; i < 64; ++i) pad[i] = k[i] ^ 0x36;
  SHA1_Init(&s_->inner);
  SHA1_Update(&s_->inner, pad, 64);
  for (int i = 0; i < 64; ++i) pad[i] = k[i] ^ 0x5C;
  SHA1_Init(&s_->outer);
  SHA1_Update(&s_->outer, pad, 64);
  s_->running = s_->inner;
  Wipe(k, sizeof k);
  Wipe(pad, sizeof pad);
}

HmacSha1::~HmacSha1() { Wipe(s_.get(), sizeof(State)); }

void HmacSha1::Update(const uint8_t* data, size_t len) { SHA1_Update(&s_->running, data, len); }

void HmacSha1::Final(uint8_t out[20]) {
  uint8_t inner[20];
  SHA1_Final(inner, &s_->running);
  SHA_CTX o = s_->outer;
  SHA1_Update(&o, inner, 20);
  SHA1_Final(out, &o);
  s_->running = s_->inner;
}

void HmacSha1::Mac(const uint8_t* data, size_t len, uint8_t out[20]) const {
  SHA_CTX c = s_->inner;
  uint8_t inner[20];
  SHA1_Update(&c, data, len);
  SHA1_Final(inner, &c);
  c = s_->outer;
  SHA1_Update(&c, inner, 20);
  SHA1_Final(out, &c);
}

namespace {

// One SHA-1 compression of a 20-byte message that follows a 64-byte pad
// whose state is in `from`: the padded block is prepared once and only the
// message bytes change, so each hash of the PBKDF2 loop is one compression.
struct PaddedBlock {
  uint8_t b[64];
  PaddedBlock() {
    std::memset(b, 0, sizeof b);
    b[20] = 0x80;
    // Message length: 64 bytes of pad + 20 bytes = 672 bits.
    b[62] = 0x02;
    b[63] = 0xA0;
  }
};

inline void Compress20(const SHA_CTX& from, PaddedBlock& block, const uint8_t msg[20], uint8_t out[20]) {
  SHA_CTX c = from;
  std::memcpy(block.b, msg, 20);
  SHA1_Transform(&c, block.b);
  const SHA_LONG h[5] = {c.h0, c.h1, c.h2, c.h3, c.h4};
  for (int i = 0; i < 5; ++i) {
    out[4 * i] = static_cast<uint8_t>(h[i] >> 24);
    out[4 * i + 1] = static_cast<uint8_t>(h[i] >> 16);
    out[4 * i + 2] = static_cast<uint8_t>(h[i] >> 8);
    out[4 * i + 3] = static_cast<uint8_t>(h[i]);
  }
}

}  // namespace

void HmacSha1::Mac20(const uint8_t in[20], uint8_t out[20]) const {
  PaddedBlock block;
  uint8_t inner[20];
  Compress20(s_->inner, block, in, inner);
  Compress20(s_->outer, block, inner, out);
}

std::vector<uint8_t> Pbkdf2HmacSha1(const std::string& password, const uint8_t* salt, size_t salt_len, int iterations,
                                    size_t out_len, TAFTuningSwitch sha_instructions) {
  HmacSha1 prf(reinterpret_cast<const uint8_t*>(password.data()), password.size());
  const Sha1State inner{{prf.s_->inner.h0, prf.s_->inner.h1, prf.s_->inner.h2, prf.s_->inner.h3, prf.s_->inner.h4}};
  const Sha1State outer{{prf.s_->outer.h0, prf.s_->outer.h1, prf.s_->outer.h2, prf.s_->outer.h3, prf.s_->outer.h4}};
  std::vector<uint8_t> out(out_len);
  std::vector<uint8_t> first(salt_len + 4);
  if (salt_len) std::memcpy(first.data(), salt, salt_len);
  PaddedBlock block;
  uint8_t u[kMaxLanes][20], t[kMaxLanes][20], inner_hash[20];
  // The output blocks are independent chains: up to four run side by side.
  for (uint32_t index = 1, done = 0; done < out_len;) {
    const int lanes = static_cast<int>(std::min<size_t>(kMaxLanes, (out_len - done + 19) / 20));
    for (int l = 0; l < lanes; ++l) {
      const uint32_t i = index + static_cast<uint32_t>(l);
      first[salt_len] = static_cast<uint8_t>(i >> 24);
      first[salt_len + 1] = static_cast<uint8_t>(i >> 16);
      first[salt_len + 2] = static_cast<uint8_t>(i >> 8);
      first[salt_len + 3] = static_cast<uint8_t>(i);
      prf.Mac(first.data(), first.size(), u[l]);
      std::memcpy(t[l], u[l], 20);
    }
    if (!Pbkdf2LanesWithShaInstructions(inner, outer, u, t, lanes, iterations, sha_instructions)) {
      for (int l = 0; l < lanes; ++l)
        for (int i = 1; i < iterations; ++i) {
          Compress20(prf.s_->inner, block, u[l], inner_hash);
          Compress20(prf.s_->outer, block, inner_hash, u[l]);
          for (int k = 0; k < 20; ++k) t[l][k] ^= u[l][k];
        }
    }
    for (int l = 0; l < lanes; ++l, ++index) {
      const size_t n = std::min<size_t>(20, out_len - done);
      std::memcpy(out.data() + done, t[l], n);
      done += static_cast<uint32_t>(n);
    }
  }
  Wipe(u, sizeof u);
  Wipe(t, sizeof t);
  Wipe(inner_hash, sizeof inner_hash);
  Wipe(block.b, sizeof block.b);
  return out;
}

AesEcb::AesEcb(const uint8_t* key, size_t key_len) {
  const EVP_CIPHER* c = key_len == 16 ? EVP_aes_128_ecb() : key_len == 24 ? EVP_aes_192_ecb() : EVP_aes_256_ecb();
  auto* ctx = EVP_CIPHER_CTX_new();
  if (!ctx || EVP_EncryptInit_ex(ctx, c, nullptr, key, nullptr) != 1) {
    EVP_CIPHER_CTX_free(ctx);
    throw EAFError("AES set-up failed");
  }
  EVP_CIPHER_CTX_set_padding(ctx, 0);
  ctx_ = ctx;
}

AesEcb::~AesEcb() { EVP_CIPHER_CTX_free(static_cast<EVP_CIPHER_CTX*>(ctx_)); }

void AesEcb::EncryptBlocks(const uint8_t* in, uint8_t* out, size_t blocks) {
  int outl = 0;
  EVP_EncryptUpdate(static_cast<EVP_CIPHER_CTX*>(ctx_), out, &outl, in, static_cast<int>(blocks * 16));
}

bool ConstantTimeEqual(const uint8_t* a, const uint8_t* b, size_t len) { return CRYPTO_memcmp(a, b, len) == 0; }

void Wipe(void* p, size_t len) { OPENSSL_cleanse(p, len); }

}  // namespace arcfold::crypto
