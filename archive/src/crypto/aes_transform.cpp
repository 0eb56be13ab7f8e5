#include "crypto/aes_transform.h"

#include <algorithm>
#include <cstring>

#include "arcfold/dir_array.h"
#include "arcfold/stream.h"
#include "crypto/crypto_primitives.h"

namespace arcfold {

// ---- TPBKDF2 ----

TPBKDF2::TPBKDF2(const std::string& password, std::vector<uint8_t> salt, int iterations,
                 TAFTuningSwitch sha_instructions)
    : password_(password), salt_(std::move(salt)), iterations_(iterations), sha_instructions_(sha_instructions) {}

TPBKDF2::TPBKDF2(const std::string& password, size_t salt_len, int iterations, TAFTuningSwitch sha_instructions)
    : password_(password), salt_(salt_len), iterations_(iterations), sha_instructions_(sha_instructions) {
  crypto::RandomBytes(salt_.data(), salt_len);
}

TPBKDF2::~TPBKDF2() { crypto::Wipe(password_.data(), password_.size()); }

std::vector<uint8_t> TPBKDF2::Derive(size_t length) const {
  return crypto::Pbkdf2HmacSha1(password_, salt_.data(), salt_.size(), iterations_, length, sha_instructions_);
}

// ---- TAESCryptoTransform ----

TAESCryptoTransform::TAESCryptoTransform(int key_bits, uint16_t version, uint16_t actual_method)
    : key_len_(static_cast<uint16_t>(key_bits / 8)), version_(version), actual_method_(actual_method) {}

TAESCryptoTransform::~TAESCryptoTransform() { Clear(); }

std::vector<uint8_t> TAESCryptoTransform::DefaultDerive(const std::string& password, const std::vector<uint8_t>& salt,
                                                        size_t length, TAFTuningSwitch sha_instructions) {
  return TPBKDF2(password, salt, kIterations, sha_instructions).Derive(length);
}

void TAESCryptoTransform::Clear() {
  crypto::Wipe(password_.data(), password_.size());
  password_.clear();
  crypto::Wipe(keys_password_.data(), keys_password_.size());
  keys_password_.clear();
  if (!encryption_key_.empty()) crypto::Wipe(encryption_key_.data(), encryption_key_.size());
  encryption_key_.clear();
  salt_.clear();
  keys_salt_.clear();
  cipher_.reset();
  mac_.reset();
  have_keys_ = false;
  crypto::Wipe(verifier_, sizeof verifier_);
  crypto::Wipe(keystream_, sizeof keystream_);
}

void TAESCryptoTransform::DeriveKeys() {
  // One derivation per password and salt: asking again with the same pair
  // (the password loop checks what it has just read) reuses the keys.
  if (have_keys_ && keys_password_ == password_ && keys_salt_ == salt_) return;
  const size_t length = 2u * key_len_ + 2;
  std::vector<uint8_t> m =
      deriver_ ? deriver_(password_, salt_, length) : DefaultDerive(password_, salt_, length, sha_instructions_);
  mac_ = std::make_unique<crypto::HmacSha1>(m.data() + key_len_, key_len_);
  cipher_ = std::make_unique<crypto::AesEcb>(m.data(), key_len_);
  derived_verifier_[0] = m[2 * key_len_];
  derived_verifier_[1] = m[2 * key_len_ + 1];
  crypto::Wipe(m.data(), m.size());
  std::memset(counter_, 0, sizeof counter_);
  ks_pos_ = 16;
  have_keys_ = true;
  keys_password_ = password_;
  keys_salt_ = salt_;
}

void TAESCryptoTransform::SetPassword(const std::string& password) {
  password_ = password;
  // Decrypting: the keys follow when the password is checked against the
  // salt that ReadHeader brings, so one derivation serves each attempt.
  if (mode_ == kDecrypt) return;
  TPBKDF2 gen(password_, key_len_ / 2u, kIterations, sha_instructions_);
  salt_ = gen.Salt();
  DeriveKeys();
  verifier_[0] = derived_verifier_[0];
  verifier_[1] = derived_verifier_[1];
}

bool TAESCryptoTransform::CheckPassword(const std::string& password) {
  password_ = password;
  DeriveKeys();
  return crypto::ConstantTimeEqual(derived_verifier_, verifier_, 2);
}

std::vector<uint8_t> TAESCryptoTransform::GetEncryptionKey() { return encryption_key_; }

void TAESCryptoTransform::ReadHeader(TStream& stream) {
  salt_.assign(key_len_ / 2u, 0);
  stream.ReadBuffer(salt_.data(), static_cast<int64_t>(salt_.size()));
  stream.ReadBuffer(verifier_, 2);
  have_keys_ = have_keys_ && keys_salt_ == salt_;
}

std::vector<uint8_t> TAESCryptoTransform::GetHeader() {
  std::vector<uint8_t> h(salt_);
  h.push_back(verifier_[0]);
  h.push_back(verifier_[1]);
  return h;
}

void TAESCryptoTransform::Crypt(const uint8_t* src, uint8_t* dst, size_t count) {
  size_t i = 0;
  while (i < count && ks_pos_ < 16) dst[i] = src[i] ^ keystream_[ks_pos_++], ++i;
  // Whole blocks: counters for many blocks at once, one cipher call.
  constexpr size_t kBatch = 256;
  uint8_t ctr[kBatch * 16], ks[kBatch * 16];
  while (count - i >= 16) {
    size_t blocks = std::min(kBatch, (count - i) / 16);
    for (size_t b = 0; b < blocks; ++b) {
      for (int k = 0; k < 8 && ++counter_[k] == 0; ++k) {
      }
      std::memcpy(ctr + 16 * b, counter_, 16);
    }
    cipher_->EncryptBlocks(ctr, ks, blocks);
    for (size_t k = 0; k < blocks * 16; ++k) dst[i + k] = src[i + k] ^ ks[k];
    i += blocks * 16;
  }
  if (i < count) {
    for (int k = 0; k < 8 && ++counter_[k] == 0; ++k) {
    }
    cipher_->EncryptBlocks(counter_, keystream_, 1);
    ks_pos_ = 0;
    while (i < count) dst[i] = src[i] ^ keystream_[ks_pos_++], ++i;
  }
}

size_t TAESCryptoTransform::DecryptBlock(const uint8_t* src, size_t src_index, uint8_t* dst, size_t dst_index,
                                         size_t count) {
  mac_->Update(src + src_index, count);
  Crypt(src + src_index, dst + dst_index, count);
  return count;
}

size_t TAESCryptoTransform::EncryptBlock(const uint8_t* src, size_t src_index, uint8_t* dst, size_t dst_index,
                                         size_t count) {
  Crypt(src + src_index, dst + dst_index, count);
  mac_->Update(dst + dst_index, count);
  return count;
}

std::vector<uint8_t> TAESCryptoTransform::GetAuthenticationCode() {
  if (version_ == 1) return {};
  uint8_t full[20];
  mac_->Final(full);
  code_.assign(full, full + 10);
  return code_;
}

void TAESCryptoTransform::ReadAuthenticationCode(TStream& stream) {
  if (version_ == 1) return;
  code_.assign(10, 0);
  stream.ReadBuffer(code_.data(), 10);
}

bool TAESCryptoTransform::AuthenticationCodeDiffers(const TDirItem& item, uint32_t crc) {
  if (version_ == 1) return item.HeaderImage.Crc32() != crc;
  uint8_t full[20];
  mac_->Final(full);
  return code_.size() != 10 || !crypto::ConstantTimeEqual(full, code_.data(), 10);
}

TExtraField TAESCryptoTransform::BuildExtraField() {
  return AesExtraField(static_cast<uint8_t>(key_len_ == 16 ? 1 : key_len_ == 24 ? 2 : 3), actual_method_);
}

}  // namespace arcfold
